#include "wyr/windows/communication/DataBits.h"

namespace wyr::windows::communication {

const DataBits DataBits::Five{5, L"5"};
const DataBits DataBits::Six{6, L"6"};
const DataBits DataBits::Seven{7, L"7"};
const DataBits DataBits::Eight{8, L"8"};

const DataBits::Registry& DataBits::registry() {
    return NamedEnum::registry();
}

const DataBits* DataBits::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
