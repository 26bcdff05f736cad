#pragma once

namespace wyr::windows::system::threading {

class IThread;

// What a worker's initThread receives: the thread object that runs it and the
// parameter given to create. The worker copies both; the record lives only for
// the call.
struct ThreadContext {
    IThread* thread = nullptr;
    void* param = nullptr;
};

} // namespace wyr::windows::system::threading
