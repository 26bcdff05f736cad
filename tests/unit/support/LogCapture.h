#pragma once

#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"
#include "wyr/windows/system/MessageLoop.h"

#include <string>
#include <vector>

namespace test {

struct CapturedLog {
    int verbosity;
    wyr::windows::system::SYSTEMTIME time;
    std::wstring context;
    std::wstring message;
};

// A listener that keeps what it receives. The test thread is the user-interface
// thread: collect() pumps it so that posted records arrive.
class LogCapture : public wyr::windows::logging::LogListener,
                   public wyr::windows::logging::TLogFilter<LogCapture> {
public:
    explicit LogCapture(std::uint16_t mask = 0xFFFF) {
        wyr::windows::logging::LogBeacon::instance();
        setFilter(mask);
        connect();
    }
    ~LogCapture() override { disconnect(); }

    void onLogMessage(const wyr::windows::logging::LogVerbosity& verbosity,
                      wyr::windows::system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override {
        if (passes(verbosity)) {
            records.push_back(CapturedLog{verbosity.value(), time, context, message});
        }
    }

    std::vector<CapturedLog> collect() {
        wyr::windows::logging::LogBeacon::instance().flush();
        return records;
    }

    // Only the records whose message or context contains `text`.
    std::vector<CapturedLog> matching(const std::wstring& text) {
        std::vector<CapturedLog> found;
        for (const auto& r : collect()) {
            if (r.message.find(text) != std::wstring::npos || r.context.find(text) != std::wstring::npos) {
                found.push_back(r);
            }
        }
        return found;
    }

    std::vector<CapturedLog> records;
};

} // namespace test
