#include "wyr/windows/system/registry/RegValueType.h"

namespace wyr::windows::system {

const RegValueType RegValueType::REG_NONE{0, L"REG_NONE"};
const RegValueType RegValueType::REG_SZ{1, L"REG_SZ"};
const RegValueType RegValueType::REG_EXPAND_SZ{2, L"REG_EXPAND_SZ"};
const RegValueType RegValueType::REG_BINARY{3, L"REG_BINARY"};
const RegValueType RegValueType::REG_DWORD{4, L"REG_DWORD"};
const RegValueType RegValueType::REG_DWORD_BIG_ENDIAN{5, L"REG_DWORD_BIG_ENDIAN"};
const RegValueType RegValueType::REG_LINK{6, L"REG_LINK"};
const RegValueType RegValueType::REG_MULTI_SZ{7, L"REG_MULTI_SZ"};
const RegValueType RegValueType::REG_RESOURCE_LIST{8, L"REG_RESOURCE_LIST"};

} // namespace wyr::windows::system
