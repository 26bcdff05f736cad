#include "device/OrvaneMessageType.h"

#include "device/OrvaneNotificationType.h"

namespace device {

const OrvaneMessageType OrvaneMessageType::Acknowledge{1, L"Acknowledge", "0001", 8,
                                                       OrvaneNotificationType::NotifyAcknowledge};
const OrvaneMessageType OrvaneMessageType::Heartbeat{2, L"Heartbeat", "0002", 8,
                                                     OrvaneNotificationType::NotifyHeartbeat};
const OrvaneMessageType OrvaneMessageType::ADCRead{3, L"ADCRead", "0003", 4,
                                                   OrvaneNotificationType::NotifySentenceReceived};

const OrvaneMessageType* OrvaneMessageType::fromCode(std::string_view code) noexcept {
    for (const auto& [value, type] : registry()) {
        if (type->_code == code) {
            return type;
        }
    }
    return nullptr;
}

} // namespace device
