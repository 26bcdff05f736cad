#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// Stop bits per character; the values are the line settings' stop-bit codes.
class StopBits : public NamedEnum<StopBits> {
public:
    static const StopBits One;
    static const StopBits OnePointFive;
    static const StopBits Two;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const StopBits* fromValue(int value);

private:
    StopBits(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
