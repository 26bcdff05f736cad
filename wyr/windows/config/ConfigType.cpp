#include "wyr/windows/config/ConfigType.h"

namespace wyr::windows::config {

const ConfigType ConfigType::Bool{0, L"bool"};
const ConfigType ConfigType::Int{1, L"int"};
const ConfigType ConfigType::Double{2, L"double"};
const ConfigType ConfigType::String{3, L"string"};

} // namespace wyr::windows::config
