#pragma once

#include "wyr/NamedEnum.h"

#include <string>

namespace bootloader {

// Where a long step stands when it reports: begun, under way or finished. Steps
// that report once use None.
class BootloaderNotifyState : public wyr::NamedEnum<BootloaderNotifyState> {
public:
    static const BootloaderNotifyState None;
    static const BootloaderNotifyState Initiated;
    static const BootloaderNotifyState Running;
    static const BootloaderNotifyState Completed;

private:
    BootloaderNotifyState(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
