#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// Why the link to the device goes down. Passed between threads as a pointer to
// the constant, which stays valid for the life of the program.
class DisconnectType : public wyr::NamedEnum<DisconnectType> {
public:
    static const DisconnectType Normal;   // the user asked for it
    static const DisconnectType Abnormal; // the link failed

    DisconnectType(const DisconnectType&) = delete;
    DisconnectType& operator=(const DisconnectType&) = delete;
    ~DisconnectType() = default;

private:
    DisconnectType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace device
