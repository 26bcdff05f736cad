#include "wyr/windows/communication/StopBits.h"

namespace wyr::windows::communication {

const StopBits StopBits::One{0, L"1"};
const StopBits StopBits::OnePointFive{1, L"1.5"};
const StopBits StopBits::Two{2, L"2"};

const StopBits::Registry& StopBits::registry() {
    return NamedEnum::registry();
}

const StopBits* StopBits::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
