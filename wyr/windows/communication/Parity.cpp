#include "wyr/windows/communication/Parity.h"

namespace wyr::windows::communication {

const Parity Parity::None{0, L"None"};
const Parity Parity::Odd{1, L"Odd"};
const Parity Parity::Even{2, L"Even"};
const Parity Parity::Mark{3, L"Mark"};
const Parity Parity::Space{4, L"Space"};

const Parity::Registry& Parity::registry() {
    return NamedEnum::registry();
}

const Parity* Parity::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
