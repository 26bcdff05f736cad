#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::system::threading {

// Where a worker thread stands in its life. Idle is defined for owners; the
// framework itself never sets it.
class ThreadState : public NamedEnum<ThreadState> {
public:
    static const ThreadState Stopped;
    static const ThreadState Suspended;
    static const ThreadState Run;
    static const ThreadState Wait;
    static const ThreadState Idle;

private:
    ThreadState(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system::threading
