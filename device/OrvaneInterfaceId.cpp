#include "device/OrvaneInterfaceId.h"

namespace device {

const OrvaneInterfaceId OrvaneInterfaceId::Orvane{1, L"Orvane"};

const OrvaneInterfaceId::Registry& OrvaneInterfaceId::registry() {
    return NamedEnum::registry();
}

const OrvaneInterfaceId* OrvaneInterfaceId::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace device
