#include "device/OrvaneNotificationType.h"

namespace device {

const OrvaneNotificationType OrvaneNotificationType::NotifyAcknowledge{1, L"NotifyAcknowledge"};
const OrvaneNotificationType OrvaneNotificationType::NotifyHeartbeat{2, L"NotifyHeartbeat"};
const OrvaneNotificationType OrvaneNotificationType::NotifySentenceReceived{3, L"NotifySentenceReceived"};
const OrvaneNotificationType OrvaneNotificationType::NotifyInterrogate{4, L"NotifyInterrogate"};
const OrvaneNotificationType OrvaneNotificationType::NotifyConnect{5, L"NotifyConnect"};
const OrvaneNotificationType OrvaneNotificationType::NotifyDisconnect{6, L"NotifyDisconnect"};
const OrvaneNotificationType OrvaneNotificationType::NotifyCommandFailure{7, L"NotifyCommandFailure"};
const OrvaneNotificationType OrvaneNotificationType::NotifyWatchDog{8, L"NotifyWatchDog"};

} // namespace device
