#pragma once

#include "device/DisconnectType.h"
#include "device/OrvaneBroadcastWnd.h"
#include "device/OrvaneConfigKey.h"
#include "device/OrvaneDeviceState.h"
#include "device/OrvaneInterfaceId.h"
#include "device/OrvaneNotification.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/SystemError.h"

#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <string>

namespace device {

// The device link as the rest of the program sees it. Connection work (scan,
// connect, disconnect) runs later on the link's control thread and reports
// through notifications; commands are queued to the serial thread and supervised
// by an acknowledgement timer on the calling thread. Subscribers receive every
// notification on the user-interface thread.
//
// The operations keep this order; there is no virtual destructor here, the
// single instance is destroyed through its own class at program exit.
class OrvaneInterface {
public:
    using Callback = OrvaneBroadcastWnd::Signal::slot_type;

    // Defines every transient key with its default.
    virtual void registerConfiguration() = 0;
    // 0, or the group (OrvaneConfigKey::GroupLink or GroupPort) of the first key
    // that is missing or out of range.
    virtual int validateConfiguration() = 0;
    // Writes the defaults of one group's keys, or of all keys for -1.
    virtual void setDefaultConfiguration(const int& group) = 0;

    // Starts the control and serial threads; 0 or the creation error.
    virtual wyr::windows::system::ErrorCode initialize() = 0;
    // Shuts both threads down.
    virtual void finalize() = 0;

    // The caller keeps the connection and disconnects it when it goes away.
    virtual boost::signals2::connection subscribe(const Callback& callback) = 0;
    virtual void unsubscribeAll() = 0;

    // Each posts a request to the control thread: 0 or the posting error.
    // Port 0 with scanArg 0 announces the start of a scan.
    virtual wyr::windows::system::ErrorCode interrogatePort(std::int32_t port, std::int32_t scanArg) = 0;
    virtual wyr::windows::system::ErrorCode connect(std::int32_t port) = 0;
    virtual wyr::windows::system::ErrorCode disconnect(const DisconnectType& type,
                                                       const std::uint32_t& reason) = 0;

    // Device commands: 0 when the command was queued, ERROR_OPERATION_IN_PROGRESS
    // (329) when another one is still pending and this one was dropped (logged).
    virtual wyr::windows::system::ErrorCode start() = 0;
    virtual wyr::windows::system::ErrorCode stop() = 0;
    virtual wyr::windows::system::ErrorCode setFrameRate(const std::uint32_t& rate) = 0;
    virtual wyr::windows::system::ErrorCode setGain(const std::uint32_t& gain) = 0;

    // Sends RESET and waits (500 ms at most) for it to leave the port.
    virtual wyr::windows::system::ErrorCode resetDevice() = 0;
    // Sends BOOTLOAD, hands the open port to the caller (untouched when no port is
    // open) and ends the link's threads.
    virtual wyr::windows::system::ErrorCode
    enterBootloader(wyr::windows::communication::PortHandle& portOut) = 0;

    // Writes ACK to the port at once, on the calling thread.
    virtual wyr::windows::system::ErrorCode acknowledge() = 0;
    // Takes the record in every case, stamps it and delivers it to the subscribers.
    virtual wyr::windows::system::ErrorCode notify(OrvaneNotification* record) = 0;

    virtual const std::wstring& name() const = 0;
    // 0 while no port is in use.
    virtual std::int32_t portNumber() const = 0;
    virtual bool isOpen() const = 0;
    // A copy of the state the device reported last.
    virtual OrvaneDeviceState deviceState() const = 0;
    // A command waits for its acknowledgement (or its time-out); a new one would
    // be dropped.
    virtual bool commandPending() const = 0;

protected:
    OrvaneInterface() = default;
    OrvaneInterface(const OrvaneInterface&) = default;
    OrvaneInterface& operator=(const OrvaneInterface&) = default;
    ~OrvaneInterface() = default;
};

// The interface with the given id. 0 with the single device interface for
// OrvaneInterfaceId::Orvane (created by the first such call, which must come from
// the user-interface thread); ERROR_BAD_ARGUMENTS (160) for a null `out`, nothing
// created; ERROR_NOINTERFACE (632) with `*out` null for any other id.
wyr::windows::system::ErrorCode getInterface(const OrvaneInterfaceId& id, OrvaneInterface** out);

} // namespace device
