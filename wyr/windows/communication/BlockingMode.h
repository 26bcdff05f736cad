#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// Whether a read returns at once with what has arrived (Non-Blocking) or waits for
// the requested count (Blocking).
class BlockingMode : public NamedEnum<BlockingMode> {
public:
    static const BlockingMode NonBlocking;
    static const BlockingMode Blocking;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const BlockingMode* fromValue(int value);

private:
    BlockingMode(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
