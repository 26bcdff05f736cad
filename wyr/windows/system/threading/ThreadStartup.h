#pragma once

#include "wyr/windows/system/Event.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace wyr::windows::system::threading {

class IThread;
class IBasicThreadAdapter;
struct ThreadContext;

// Shared by create and ThreadEntry on the new thread. The new thread reads
// everything before it signals init_complete and afterwards writes only
// init_failed, and only on its way out; create reads that flag after its wait saw
// the thread end. Both sides hold the record by shared ownership, so even a wait
// that failed in create cannot leave the thread with a dangling record.
struct ThreadStartup {
    IThread* thread = nullptr;
    IBasicThreadAdapter* worker = nullptr;
    ThreadContext* context = nullptr;
    std::uint32_t flags = 0;
    std::shared_ptr<Event> init_complete;
    std::shared_ptr<Event> resume;
    std::atomic<bool> init_failed{false};
};

} // namespace wyr::windows::system::threading
