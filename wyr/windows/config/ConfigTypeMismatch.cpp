#include "wyr/windows/config/ConfigTypeMismatch.h"

#include "wyr/windows/system/TextConversion.h"

namespace wyr::windows::config {

ConfigTypeMismatch::ConfigTypeMismatch(const std::wstring& name, const ConfigType& held,
                                       const ConfigType& asked)
    : _name(name), _held(&held), _asked(&asked),
      _message("Configuration entry " + system::toNarrow(name) + " holds a " + system::toNarrow(held.name()) +
               " value, not a " + system::toNarrow(asked.name()) + " value.") {}

} // namespace wyr::windows::config
