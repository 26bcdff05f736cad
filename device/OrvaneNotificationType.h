#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// What a device notification reports; a record's header points at one of these.
class OrvaneNotificationType : public wyr::NamedEnum<OrvaneNotificationType> {
public:
    static const OrvaneNotificationType NotifyAcknowledge;
    static const OrvaneNotificationType NotifyHeartbeat;
    static const OrvaneNotificationType NotifySentenceReceived;
    static const OrvaneNotificationType NotifyInterrogate;
    static const OrvaneNotificationType NotifyConnect;
    static const OrvaneNotificationType NotifyDisconnect;
    static const OrvaneNotificationType NotifyCommandFailure;
    static const OrvaneNotificationType NotifyWatchDog;

    OrvaneNotificationType(const OrvaneNotificationType&) = delete;
    OrvaneNotificationType& operator=(const OrvaneNotificationType&) = delete;
    ~OrvaneNotificationType() = default;

private:
    OrvaneNotificationType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace device
