#include "device/OrvaneInterface.h"

#include "device/OrvaneExecutive.h"

namespace device {

using namespace wyr::windows::system;

ErrorCode getInterface(const OrvaneInterfaceId& id, OrvaneInterface** out) {
    if (out == nullptr) {
        return ERROR_BAD_ARGUMENTS;
    }
    if (id.value() != OrvaneInterfaceId::Orvane.value()) {
        *out = nullptr;
        return ERROR_NOINTERFACE;
    }
    static OrvaneExecutive instance(L"Device");
    *out = &instance;
    return ERROR_SUCCESS;
}

} // namespace device
