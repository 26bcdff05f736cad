#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// The control characters that frame a device sentence.
class FramingCharacter : public wyr::NamedEnum<FramingCharacter> {
public:
    static const FramingCharacter StartOfText;
    static const FramingCharacter EndOfText;
    static const FramingCharacter EndOfTransmission;
    static const FramingCharacter Separator;

    char character() const noexcept { return _character; }

private:
    FramingCharacter(int id, std::wstring name, char character)
        : NamedEnum(id, std::move(name)), _character(character) {}

    char _character;
};

} // namespace device
