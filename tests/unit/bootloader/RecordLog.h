#pragma once

#include "bootloader/BootloaderNotification.h"
#include "wyr/windows/system/CurrentThread.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

namespace test {

// One bootloader notification as a subscriber saw it.
struct SeenRecord {
    int type = 0;
    int state = 0;
    std::uint32_t result = 0;
    std::uint32_t current = 0;
    std::uint32_t total = 0;
    bool operator==(const SeenRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SeenRecord& r) {
    return out << "{type " << r.type << ", state " << r.state << ", result " << r.result << ", " << r.current
               << "/" << r.total << "}";
}

inline SeenRecord seen(const bootloader::BootloaderNotifyType& type,
                       const bootloader::BootloaderNotifyState& state, std::uint32_t result = 0,
                       std::uint32_t current = 0, std::uint32_t total = 0) {
    return {type.value(), state.value(), result, current, total};
}

// A subscriber that keeps copies of what it receives, the thread it ran on, and
// whatever `probe` (if set) returns at that moment.
class RecordLog {
public:
    void operator()(const bootloader::tagBLNHDR* header) {
        SeenRecord r{header->type.value(), header->state.value(), header->result, 0, 0};
        if (const auto* progress = bootloader::BootloaderProgress::of(header)) {
            r.current = progress->current;
            r.total = progress->total;
        }
        records.push_back(r);
        threads.push_back(wyr::windows::system::currentThreadId());
        if (probe) {
            probes.push_back(probe());
        }
    }

    // The records of one type.
    std::vector<SeenRecord> of(const bootloader::BootloaderNotifyType& type) const {
        std::vector<SeenRecord> found;
        for (const auto& r : records) {
            if (r.type == type.value()) {
                found.push_back(r);
            }
        }
        return found;
    }

    void clear() {
        records.clear();
        threads.clear();
        probes.clear();
    }

    std::vector<SeenRecord> records;
    std::vector<wyr::windows::system::ThreadId> threads;
    std::function<int()> probe;
    std::vector<int> probes;
};

} // namespace test
