#pragma once

#include <cstdint>

namespace wyr::windows::system::threading {

struct ThreadStartup;

// The function every worker thread runs: initialises the worker, reports to
// create, waits to be released, runs the worker and cleans up. Returns the exit
// code.
std::uint32_t ThreadEntry(ThreadStartup* startup);

} // namespace wyr::windows::system::threading
