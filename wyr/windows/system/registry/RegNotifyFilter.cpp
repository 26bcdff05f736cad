#include "wyr/windows/system/registry/RegNotifyFilter.h"

namespace wyr::windows::system {

const RegNotifyFilter RegNotifyFilter::REG_NOTIFY_CHANGE_NAME{0x00000001, L"REG_NOTIFY_CHANGE_NAME"};
const RegNotifyFilter RegNotifyFilter::REG_NOTIFY_CHANGE_ATTRIBUTES{0x00000002,
                                                                    L"REG_NOTIFY_CHANGE_ATTRIBUTES"};
const RegNotifyFilter RegNotifyFilter::REG_NOTIFY_CHANGE_LAST_SET{0x00000004, L"REG_NOTIFY_CHANGE_LAST_SET"};
const RegNotifyFilter RegNotifyFilter::REG_NOTIFY_CHANGE_SECURITY{0x00000008, L"REG_NOTIFY_CHANGE_SECURITY"};
const RegNotifyFilter RegNotifyFilter::REG_NOTIFY_THREAD_AGNOSTIC{0x10000000, L"REG_NOTIFY_THREAD_AGNOSTIC"};

} // namespace wyr::windows::system
