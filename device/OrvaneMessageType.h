#pragma once

#include "wyr/NamedEnum.h"

#include <cstddef>
#include <string_view>

namespace device {

class OrvaneNotificationType;

// An incoming sentence kind, recognised by the code text in its first field.
class OrvaneMessageType : public wyr::NamedEnum<OrvaneMessageType> {
public:
    static const OrvaneMessageType Acknowledge;
    static const OrvaneMessageType Heartbeat;
    static const OrvaneMessageType ADCRead;

    OrvaneMessageType(const OrvaneMessageType&) = delete;
    OrvaneMessageType& operator=(const OrvaneMessageType&) = delete;
    ~OrvaneMessageType() = default;

    // The registered type whose code equals `code` exactly, or nullptr.
    static const OrvaneMessageType* fromCode(std::string_view code) noexcept;

    std::string_view code() const noexcept { return _code; }
    // Number of fields of a valid sentence, the code included.
    std::size_t fieldCount() const noexcept { return _fieldCount; }
    const OrvaneNotificationType& notificationType() const noexcept { return *_notificationType; }

private:
    OrvaneMessageType(int value, std::wstring name, std::string_view code, std::size_t fieldCount,
                      const OrvaneNotificationType& notificationType)
        : NamedEnum(value, std::move(name)), _code(code), _fieldCount(fieldCount),
          _notificationType(&notificationType) {}

    std::string_view _code;
    std::size_t _fieldCount;
    const OrvaneNotificationType* _notificationType;
};

} // namespace device
