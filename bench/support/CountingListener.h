#pragma once

#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"

#include <cstddef>
#include <cstdint>

namespace bench {

// A log listener that only counts what passes its mask, so that a benchmark pays
// for delivery but not for any output.
class CountingListener : public wyr::windows::logging::LogListener,
                         public wyr::windows::logging::TLogFilter<CountingListener> {
public:
    explicit CountingListener(std::uint16_t mask) {
        setFilter(mask);
        connect();
    }
    ~CountingListener() override { disconnect(); }

    void onLogMessage(const wyr::windows::logging::LogVerbosity& verbosity, wyr::windows::system::SYSTEMTIME,
                      const wchar_t*, const wchar_t*) override {
        if (passes(verbosity)) {
            ++received;
        }
    }

    std::size_t received = 0;
};

} // namespace bench
