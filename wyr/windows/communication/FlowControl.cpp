#include "wyr/windows/communication/FlowControl.h"

namespace wyr::windows::communication {

const FlowControl FlowControl::None{1, L"None"};
const FlowControl FlowControl::Hardware{2, L"Hardware (RTS/CTS)"};
const FlowControl FlowControl::Software{3, L"Software (XON/XOFF)"};

const FlowControl::Registry& FlowControl::registry() {
    return NamedEnum::registry();
}

const FlowControl* FlowControl::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
