#pragma once

#include "wyr/windows/system/SystemError.h"

#include <chrono>

namespace device {

struct OrvaneNotification;

// Where the sentence parser's results go: the device interface in the product, a
// recording fake in tests. Both calls come from the serial I/O thread.
class IOrvaneSink {
public:
    // Has the ACK sentence written once `due` has come, without holding up the
    // caller: the sentences behind a heartbeat are read while its answer waits.
    virtual wyr::windows::system::ErrorCode acknowledgeAt(std::chrono::steady_clock::time_point due) = 0;

    // Takes the record in every case (delivered, or freed when it cannot be).
    virtual wyr::windows::system::ErrorCode notify(OrvaneNotification* record) = 0;

protected:
    IOrvaneSink() = default;
    IOrvaneSink(const IOrvaneSink&) = default;
    IOrvaneSink& operator=(const IOrvaneSink&) = default;
    ~IOrvaneSink() = default;
};

} // namespace device
