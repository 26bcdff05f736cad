#include "wyr/windows/config/ConfigStorage.h"

namespace wyr::windows::config {

const ConfigStorage ConfigStorage::Registry{1, L"Registry"};
const ConfigStorage ConfigStorage::IniFile{2, L"INI File"};

} // namespace wyr::windows::config
