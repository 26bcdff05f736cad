#include "wyr/windows/system/threading/ThreadState.h"

namespace wyr::windows::system::threading {

const ThreadState ThreadState::Stopped{1, L"Stopped"};
const ThreadState ThreadState::Suspended{2, L"Suspended"};
const ThreadState ThreadState::Run{3, L"Run"};
const ThreadState ThreadState::Wait{4, L"Wait"};
const ThreadState ThreadState::Idle{5, L"Idle"};

} // namespace wyr::windows::system::threading
