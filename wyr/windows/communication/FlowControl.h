#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// Handshake on the line.
class FlowControl : public NamedEnum<FlowControl> {
public:
    static const FlowControl None;
    static const FlowControl Hardware;
    static const FlowControl Software;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const FlowControl* fromValue(int value);

private:
    FlowControl(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
