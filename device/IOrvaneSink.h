#pragma once

#include "wyr/windows/system/SystemError.h"

namespace device {

struct OrvaneNotification;

// Where the sentence parser's results go: the device interface in the product, a
// recording fake in tests. Both calls come from the serial I/O thread.
class IOrvaneSink {
public:
    // Writes the ACK sentence to the port at once, on the calling thread.
    virtual wyr::windows::system::ErrorCode acknowledge() = 0;

    // Takes the record in every case (delivered, or freed when it cannot be).
    virtual wyr::windows::system::ErrorCode notify(OrvaneNotification* record) = 0;

protected:
    IOrvaneSink() = default;
    IOrvaneSink(const IOrvaneSink&) = default;
    IOrvaneSink& operator=(const IOrvaneSink&) = default;
    ~IOrvaneSink() = default;
};

} // namespace device
