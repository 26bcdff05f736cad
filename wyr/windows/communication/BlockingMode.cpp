#include "wyr/windows/communication/BlockingMode.h"

namespace wyr::windows::communication {

const BlockingMode BlockingMode::NonBlocking{1, L"Non-Blocking"};
const BlockingMode BlockingMode::Blocking{2, L"Blocking"};

const BlockingMode::Registry& BlockingMode::registry() {
    return NamedEnum::registry();
}

const BlockingMode* BlockingMode::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
