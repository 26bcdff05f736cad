#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// Identifies an interface that getInterface can look up. The device interface is
// Orvane; any other value is refused by the lookup.
class OrvaneInterfaceId : public wyr::NamedEnum<OrvaneInterfaceId> {
public:
    static const OrvaneInterfaceId Orvane;

    // Further ids are made the same way; they enter the registry like Orvane.
    OrvaneInterfaceId(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
    OrvaneInterfaceId(const OrvaneInterfaceId&) = delete;
    OrvaneInterfaceId& operator=(const OrvaneInterfaceId&) = delete;
    ~OrvaneInterfaceId() = default;

    // Defined beside the constant, so that whoever looks ids up also links it in.
    static const Registry& registry();
    static const OrvaneInterfaceId* fromValue(int value);
};

} // namespace device
