#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// Change-notification filters. Names and numbers are the platform's published ones.
class RegNotifyFilter : public NamedEnum<RegNotifyFilter, std::uint32_t> {
public:
    static const RegNotifyFilter REG_NOTIFY_CHANGE_NAME;
    static const RegNotifyFilter REG_NOTIFY_CHANGE_ATTRIBUTES;
    static const RegNotifyFilter REG_NOTIFY_CHANGE_LAST_SET;
    static const RegNotifyFilter REG_NOTIFY_CHANGE_SECURITY;
    static const RegNotifyFilter REG_NOTIFY_THREAD_AGNOSTIC;

private:
    RegNotifyFilter(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
