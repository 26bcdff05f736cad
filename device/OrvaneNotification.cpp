#include "device/OrvaneNotification.h"

#include "wyr/windows/logging/Log.h"

#include <new>

namespace device {

using wyr::windows::logging::LogVerbosity;

void OrvaneNotification::release(OrvaneNotification* record, const char* context) noexcept {
    if (record == nullptr) {
        return;
    }
    if (record->type != nullptr) {
        const OrvaneNotificationType& type = *record->type;
        if (OrvaneStateNotification::carries(type)) {
            delete static_cast<OrvaneStateNotification*>(record); // the state's text with it
            return;
        }
        if (OrvaneReadingNotification::carries(type)) {
            delete static_cast<OrvaneReadingNotification*>(record);
            return;
        }
        if (OrvaneInterrogateNotification::carries(type)) {
            delete static_cast<OrvaneInterrogateNotification*>(record);
            return;
        }
        if (OrvaneConnectNotification::carries(type)) {
            delete static_cast<OrvaneConnectNotification*>(record);
            return;
        }
        if (OrvaneDisconnectNotification::carries(type)) {
            delete static_cast<OrvaneDisconnectNotification*>(record);
            return;
        }
        if (OrvaneCommandFailureNotification::carries(type)) {
            delete static_cast<OrvaneCommandFailureNotification*>(record); // the sentence copy with it
            return;
        }
        if (OrvaneWatchDogNotification::carries(type)) {
            delete static_cast<OrvaneWatchDogNotification*>(record);
            return;
        }
    }
    // Only a programming error gets here: what the record's real type owns is lost.
    wyr::windows::logging::log(LogVerbosity::Error, context,
                               L"Unhandled OrvaneNotification type [%d] -- Memory leak!!!",
                               record->type != nullptr ? record->type->value() : 0);
    ::operator delete(static_cast<void*>(record));
}

} // namespace device
