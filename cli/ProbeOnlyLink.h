#pragma once

#include "device/OrvaneInterface.h"

#include <cstdint>

namespace cli {

// The device link as a supervisor sees it when a command only wants to know where
// the device is: every operation goes to the real link except connect(), which
// remembers the port that answered and connects nothing. So the scan follows the
// supervisor's rules (announced, one port after another, numbered probes) and
// sends nothing but INTERROGATE.
class ProbeOnlyLink final : public device::OrvaneInterface {
public:
    explicit ProbeOnlyLink(device::OrvaneInterface& link) : _link(link) {}

    // The port a probe found, 0 until then.
    std::int32_t found() const noexcept { return _found; }

    void registerConfiguration() override { _link.registerConfiguration(); }
    int validateConfiguration() override { return _link.validateConfiguration(); }
    void setDefaultConfiguration(const int& group) override { _link.setDefaultConfiguration(group); }
    wyr::windows::system::ErrorCode initialize() override { return _link.initialize(); }
    void finalize() override { _link.finalize(); }
    boost::signals2::connection subscribe(const Callback& callback) override {
        return _link.subscribe(callback);
    }
    void unsubscribeAll() override { _link.unsubscribeAll(); }
    wyr::windows::system::ErrorCode interrogatePort(std::int32_t port, std::int32_t scanArg) override {
        return _link.interrogatePort(port, scanArg);
    }
    wyr::windows::system::ErrorCode connect(std::int32_t port) override {
        _found = port;
        return wyr::windows::system::ERROR_SUCCESS;
    }
    wyr::windows::system::ErrorCode disconnect(const device::DisconnectType& type,
                                               const std::uint32_t& reason) override {
        return _link.disconnect(type, reason);
    }
    wyr::windows::system::ErrorCode start() override { return _link.start(); }
    wyr::windows::system::ErrorCode stop() override { return _link.stop(); }
    wyr::windows::system::ErrorCode setFrameRate(const std::uint32_t& rate) override {
        return _link.setFrameRate(rate);
    }
    wyr::windows::system::ErrorCode setGain(const std::uint32_t& gain) override {
        return _link.setGain(gain);
    }
    wyr::windows::system::ErrorCode resetDevice() override { return _link.resetDevice(); }
    wyr::windows::system::ErrorCode
    enterBootloader(wyr::windows::communication::PortHandle& portOut) override {
        return _link.enterBootloader(portOut);
    }
    wyr::windows::system::ErrorCode acknowledge() override { return _link.acknowledge(); }
    wyr::windows::system::ErrorCode notify(device::OrvaneNotification* record) override {
        return _link.notify(record);
    }
    const std::wstring& name() const override { return _link.name(); }
    std::int32_t portNumber() const override { return _link.portNumber(); }
    bool isOpen() const override { return _link.isOpen(); }
    device::OrvaneDeviceState deviceState() const override { return _link.deviceState(); }
    bool commandPending() const override { return _link.commandPending(); }

private:
    device::OrvaneInterface& _link;
    std::int32_t _found = 0;
};

} // namespace cli
