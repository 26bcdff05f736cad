#pragma once

#include "device/OrvaneDeviceState.h"
#include "device/OrvaneNotificationType.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <memory>

namespace device {

class OrvaneMessage;
class OrvaneScanPhase;

// The header every device notification begins with; subscribers receive a pointer
// to it, valid only during their call.
struct tagNMORVANEHDR {
    const OrvaneNotificationType* type = nullptr;
    // Stamped when the record is handed to the device interface.
    std::uint64_t id = 0;
    // The COM port concerned, where the type has one; otherwise 0.
    std::int32_t port = 0;
};

// A device notification record. Records are created on the heap as one of the
// types below and travel by pointer between threads; whoever holds one last frees
// it with release(), which knows what each type owns. Deleting through this base
// is not possible.
//
// A subscriber turns the header it receives back into its record with as<T>(),
// which checks the type first.
struct OrvaneNotification : tagNMORVANEHDR {
    // Frees the record and what its type owns. A record whose type is not one of
    // the notification types is reported and only its own storage is freed.
    static void release(OrvaneNotification* record,
                        const char* context = "OrvaneNotification::release") noexcept;

    template <typename Record> static const Record* as(const tagNMORVANEHDR* header) noexcept {
        return header != nullptr && header->type != nullptr && Record::carries(*header->type)
                   ? static_cast<const Record*>(header)
                   : nullptr;
    }
    template <typename Record> static Record* as(tagNMORVANEHDR* header) noexcept {
        return const_cast<Record*>(as<Record>(static_cast<const tagNMORVANEHDR*>(header)));
    }

protected:
    OrvaneNotification(const OrvaneNotificationType& notificationType, std::int32_t portNumber) noexcept {
        type = &notificationType;
        port = portNumber;
    }
    ~OrvaneNotification() = default;
    OrvaneNotification(const OrvaneNotification&) = default;
    OrvaneNotification& operator=(const OrvaneNotification&) = default;
};

// Frees records with OrvaneNotification::release, for std::unique_ptr.
struct OrvaneNotificationRelease {
    void operator()(OrvaneNotification* record) const noexcept { OrvaneNotification::release(record); }
};

// NotifyAcknowledge and NotifyHeartbeat: the device state from the sentence.
struct OrvaneStateNotification : OrvaneNotification {
    // Must be NotifyAcknowledge or NotifyHeartbeat.
    explicit OrvaneStateNotification(const OrvaneNotificationType& notificationType)
        : OrvaneNotification(notificationType, 0) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyAcknowledge || t == OrvaneNotificationType::NotifyHeartbeat;
    }

    // Set at creation and never changed; consumers ignore it.
    std::int32_t code = static_cast<std::int32_t>(wyr::windows::system::ERROR_INVALID_DATA);
    OrvaneDeviceState state;
};

// NotifySentenceReceived: the three channels of one reading.
struct OrvaneReadingNotification : OrvaneNotification {
    OrvaneReadingNotification() : OrvaneNotification(OrvaneNotificationType::NotifySentenceReceived, 0) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifySentenceReceived;
    }

    float reading1 = 0.0F;
    float reading2 = 0.0F;
    float reading3 = 0.0F;
};

// NotifyInterrogate: one step of a port scan.
struct OrvaneInterrogateNotification : OrvaneNotification {
    OrvaneInterrogateNotification(const OrvaneScanPhase& scanPhase, std::int32_t portNumber,
                                  std::int32_t argument, std::uint32_t code = 0)
        : OrvaneNotification(OrvaneNotificationType::NotifyInterrogate, portNumber), phase(&scanPhase),
          scanArg(argument), result(code) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyInterrogate;
    }

    const OrvaneScanPhase* phase;
    std::int32_t scanArg;
    // Meaningful for NotifyScanResult only: 0 when a device answered.
    std::uint32_t result;
};

// NotifyConnect: 0 when connected, otherwise why not.
struct OrvaneConnectNotification : OrvaneNotification {
    explicit OrvaneConnectNotification(std::int32_t portNumber, std::uint32_t code = 0)
        : OrvaneNotification(OrvaneNotificationType::NotifyConnect, portNumber), result(code) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyConnect;
    }

    std::uint32_t result;
};

// NotifyDisconnect: the result of the device reset for a normal disconnection, 0
// for an abnormal one.
struct OrvaneDisconnectNotification : OrvaneNotification {
    explicit OrvaneDisconnectNotification(std::int32_t portNumber, std::uint32_t code = 0)
        : OrvaneNotification(OrvaneNotificationType::NotifyDisconnect, portNumber), result(code) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyDisconnect;
    }

    std::uint32_t result;
};

// NotifyCommandFailure: a command the device did not acknowledge in time.
struct OrvaneCommandFailureNotification : OrvaneNotification {
    OrvaneCommandFailureNotification(std::int32_t portNumber, const OrvaneMessage& failed,
                                     std::unique_ptr<std::uint8_t[]> sentence)
        : OrvaneNotification(OrvaneNotificationType::NotifyCommandFailure, portNumber), command(&failed),
          bytes(std::move(sentence)) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyCommandFailure;
    }

    std::uint32_t error = wyr::windows::system::ERROR_TIMEOUT;
    const OrvaneMessage* command;
    // A copy of the sentence that was sent; its length is not kept.
    std::unique_ptr<std::uint8_t[]> bytes;
};

// NotifyWatchDog: no heartbeat came within the watchdog period.
struct OrvaneWatchDogNotification : OrvaneNotification {
    OrvaneWatchDogNotification() : OrvaneNotification(OrvaneNotificationType::NotifyWatchDog, 0) {}

    static bool carries(const OrvaneNotificationType& t) noexcept {
        return t == OrvaneNotificationType::NotifyWatchDog;
    }

    std::uint32_t error = wyr::windows::system::ERROR_TIMEOUT;
};

} // namespace device
