#pragma once

#include "device/OrvaneInterface.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace test {

// A device interface that records what is asked of it and delivers notifications
// synchronously to its subscribers when the test says so.
class FakeOrvaneInterface final : public device::OrvaneInterface {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;

    struct Call {
        std::string operation;
        std::int64_t first = 0;
        std::int64_t second = 0;

        bool operator==(const Call&) const = default;
    };

    void registerConfiguration() override { calls.push_back({"registerConfiguration", 0, 0}); }
    // The scripted results come first, then 0.
    int validateConfiguration() override {
        calls.push_back({"validateConfiguration", 0, 0});
        return next(validateResults);
    }
    void setDefaultConfiguration(const int& group) override {
        calls.push_back({"setDefaultConfiguration", group, 0});
    }
    ErrorCode initialize() override {
        calls.push_back({"initialize", 0, 0});
        return static_cast<ErrorCode>(next(initializeResults));
    }
    void finalize() override { calls.push_back({"finalize", 0, 0}); }

    boost::signals2::connection subscribe(const Callback& callback) override {
        return signal.connect(callback);
    }
    void unsubscribeAll() override { signal.disconnect_all_slots(); }

    ErrorCode interrogatePort(std::int32_t port, std::int32_t scanArg) override {
        calls.push_back({"interrogatePort", port, scanArg});
        return interrogateResult;
    }
    ErrorCode connect(std::int32_t port) override {
        calls.push_back({"connect", port, 0});
        return connectResult;
    }
    ErrorCode disconnect(const device::DisconnectType& type, const std::uint32_t& reason) override {
        calls.push_back({"disconnect", type.value(), reason});
        return 0;
    }
    ErrorCode start() override {
        calls.push_back({"start", 0, 0});
        return pending ? commandResult() : startResult;
    }
    ErrorCode stop() override {
        calls.push_back({"stop", 0, 0});
        return commandResult();
    }
    ErrorCode setFrameRate(const std::uint32_t& rate) override {
        calls.push_back({"setFrameRate", rate, 0});
        return commandResult();
    }
    ErrorCode setGain(const std::uint32_t& gain) override {
        calls.push_back({"setGain", gain, 0});
        return commandResult();
    }
    ErrorCode resetDevice() override {
        calls.push_back({"resetDevice", 0, 0});
        return resetResult;
    }
    ErrorCode enterBootloader(wyr::windows::communication::PortHandle&) override { return 0; }
    ErrorCode acknowledge() override { return 0; }
    ErrorCode notify(device::OrvaneNotification* record) override {
        device::OrvaneNotification::release(record);
        return 0;
    }

    const std::wstring& name() const override { return deviceName; }
    std::int32_t portNumber() const override { return 0; }
    bool isOpen() const override { return open; }
    device::OrvaneDeviceState deviceState() const override { return state; }
    bool commandPending() const override { return pending; }

    static std::int64_t next(std::vector<std::int64_t>& results) {
        if (results.empty()) {
            return 0;
        }
        const std::int64_t result = results.front();
        results.erase(results.begin());
        return result;
    }

    // What the link answers a command: dropped while another one is pending.
    ErrorCode commandResult() const { return pending ? 329 : 0; }

    // Hands a record to every subscriber, as the broadcast window does.
    void deliver(const device::tagNMORVANEHDR& record) { signal(&record); }

    std::size_t subscribers() const { return signal.num_slots(); }

    // The calls of one operation, in order.
    std::vector<Call> callsOf(const std::string& operation) const {
        std::vector<Call> found;
        for (const auto& c : calls) {
            if (c.operation == operation) {
                found.push_back(c);
            }
        }
        return found;
    }

    std::vector<Call> calls;
    std::vector<std::int64_t> validateResults;
    std::vector<std::int64_t> initializeResults;
    ErrorCode interrogateResult = 0;
    ErrorCode connectResult = 0;
    ErrorCode resetResult = 0;
    ErrorCode startResult = 0;
    bool open = false;
    bool pending = false; // a command waits for its acknowledgement
    device::OrvaneDeviceState state;
    std::wstring deviceName = L"Device";
    device::OrvaneBroadcastWnd::Signal signal;
};

inline void PrintTo(const FakeOrvaneInterface::Call& c, std::ostream* os) {
    *os << c.operation << "(" << c.first << ", " << c.second << ")";
}

} // namespace test
