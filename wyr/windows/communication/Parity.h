#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// Parity of each character; the values are the line settings' parity codes.
class Parity : public NamedEnum<Parity> {
public:
    static const Parity None;
    static const Parity Odd;
    static const Parity Even;
    static const Parity Mark;
    static const Parity Space;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const Parity* fromValue(int value);

private:
    Parity(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
