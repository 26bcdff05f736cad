// The cost of a log call when nobody accepts its verbosity (every device-link
// function logs an entry trace), when it is delivered, and of composing a sentence.
#include "bench/support/CountingListener.h"
#include "device/OrvaneMessage.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_allocations{0};

} // namespace

// GCC cannot see that the replaced operators below pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts heap allocations so that "no allocation" is measured, not assumed.
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace wyr::windows::logging;
using bench::CountingListener;

void reportAllocations(benchmark::State& state, std::size_t before) {
    state.counters["allocs/call"] = benchmark::Counter(static_cast<double>(g_allocations.load() - before),
                                                       benchmark::Counter::kAvgIterations);
}

void BM_LogFiltered(benchmark::State& state) {
    LogBeacon::instance();
    CountingListener usual(0x0070); // Information, Warning, Error: the usual file mask
    const std::size_t before = g_allocations.load();
    for (auto _ : state) {
        log(LogVerbosity::DebugLevel1, "OrvaneSerialThread::processData", L" ");
    }
    reportAllocations(state, before);
    LogBeacon::instance().flush();
    if (usual.received != 0) {
        state.SkipWithError("a filtered record was delivered");
    }
}
BENCHMARK(BM_LogFiltered);

void BM_LogDelivered(benchmark::State& state) {
    LogBeacon::instance();
    CountingListener all(0xFFFF);
    std::size_t calls = 0;
    const std::size_t before = g_allocations.load();
    for (auto _ : state) {
        log(LogVerbosity::DebugLevel3, "OrvaneSerialThread::processData", L"Received [%d] bytes.", 42);
        if (++calls % 256 == 0) {
            LogBeacon::instance().flush(); // delivery on the UI thread is part of the cost
        }
    }
    LogBeacon::instance().flush();
    reportAllocations(state, before);
    if (all.received != calls) {
        state.SkipWithError("records were lost");
    }
}
BENCHMARK(BM_LogDelivered);

void BM_ComposeSetGain(benchmark::State& state) {
    LogBeacon::instance();
    CountingListener usual(state.range(0) != 0 ? 0xFFFF : 0x0040);
    std::vector<std::uint8_t> out;
    std::uint32_t gain = 0;
    std::size_t calls = 0;
    for (auto _ : state) {
        device::OrvaneMessage::compose(out, device::OrvaneMessage::SET_GAIN, gain++ & 0xFFF);
        benchmark::DoNotOptimize(out.data());
        if (++calls % 256 == 0) {
            LogBeacon::instance().flush();
        }
    }
    LogBeacon::instance().flush();
    state.SetLabel(state.range(0) != 0 ? "log delivered" : "log filtered");
}
BENCHMARK(BM_ComposeSetGain)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
