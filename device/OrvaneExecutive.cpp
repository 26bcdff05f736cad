#include "device/OrvaneExecutive.h"

namespace device {

OrvaneExecutive::OrvaneExecutive(std::wstring name) : OrvaneImpl(std::move(name)) {}

OrvaneExecutive::~OrvaneExecutive() = default;

} // namespace device
