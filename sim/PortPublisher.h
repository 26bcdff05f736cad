#pragma once

#include "wyr/windows/system/SystemError.h"

#include <string>

namespace sim {

// Publishes a simulated port as a COM<n> link in the port directory, where the
// application looks for ports before the kernel's serial devices.
class PortPublisher {
public:
    // Numbers picked automatically start here, clear of the kernel devices' numbers.
    static constexpr int kFirstAutomaticNumber = 200;

    // Links COM<requested> (or the lowest free number from kFirstAutomaticNumber when
    // requested is 0) to `target`. A link whose target is gone is stale and reused.
    static wyr::windows::system::ErrorCode publish(const std::string& target, int requested, int& number,
                                                   std::string& link);
    // Removes the link if it still points at `target`.
    static void withdraw(const std::string& link, const std::string& target);
};

} // namespace sim
