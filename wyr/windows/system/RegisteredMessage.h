#pragma once

#include "wyr/windows/system/Message.h"

#include <string>
#include <string_view>

namespace wyr::windows::system {

// The process-wide id of a named message: the same name always gives the same id,
// at or above 0xC000. Returns 0 with ERROR_INVALID_PARAMETER for an empty name.
MessageId registerMessage(std::string_view name);

// The name a registered id was made from, empty when the id is not registered.
std::string registeredMessageName(MessageId id);

} // namespace wyr::windows::system
