// Feeds arbitrary bytes to the device sentence parser the way the serial thread
// does, all at once and again one byte at a time, and checks that every call makes
// progress, that the receive buffer stays bounded, and that how the bytes were cut
// into reads changes nothing the parser hands out.
#include "device/IOrvaneSink.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneNotificationType.h"
#include "device/OrvaneParser.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using device::OrvaneNotification;
using device::OrvaneParser;

constexpr std::uint32_t kMoreData = 234;

// A listener that takes every verbosity, so that every log line is formatted.
void setUpLogging() {
    static const bool done = [] {
        wyr::windows::logging::LogBeacon::instance().connect([](const wyr::windows::logging::LogVerbosity&,
                                                                wyr::windows::system::SYSTEMTIME,
                                                                const wchar_t*, const wchar_t*) {},
                                                             0xFFFF);
        return true;
    }();
    (void)done;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// What the parser handed out, in order: the record types and the ACK requests.
class Recorder final : public device::IOrvaneSink {
public:
    wyr::windows::system::ErrorCode acknowledgeAt(std::chrono::steady_clock::time_point) override {
        events.push_back(-1);
        return 0;
    }
    wyr::windows::system::ErrorCode notify(OrvaneNotification* record) override {
        check(record != nullptr && record->type != nullptr);
        events.push_back(record->type->value());
        OrvaneNotification::release(record);
        return 0;
    }
    std::vector<int> events;
};

OrvaneParser::Clock fixedClock() {
    OrvaneParser::Clock clock;
    clock.counter = [] { return std::int64_t{1'000'000}; };
    clock.frequency = 1'000'000;
    clock.now = [] { return std::chrono::steady_clock::time_point(std::chrono::hours(1)); };
    return clock;
}

// Hands over `chunk` bytes at a time and then what each call left.
std::vector<int> run(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
    Recorder sink;
    OrvaneParser parser(sink, fixedClock());
    for (std::size_t start = 0; start < size; start += chunk) {
        std::size_t offset = start;
        const std::size_t end = std::min(size, start + chunk);
        while (offset < end) {
            const auto length = static_cast<std::uint32_t>(end - offset);
            std::uint32_t consumed = 0xFFFFFFFF;
            const std::uint32_t result = parser.parseIOBuffer(nullptr, data + offset, length, &consumed);
            check(result == 0 || result == kMoreData);
            check(consumed > 0 && consumed <= length);
            check(result != kMoreData || consumed == length);
            check(parser.bufferedLength() <= OrvaneParser::MaximumSentenceLength);
            offset += consumed;
        }
    }
    return sink.events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUpLogging();
    const std::vector<int> whole = run(data, size, size == 0 ? 1 : size);
    const std::vector<int> byByte = run(data, size, 1);
    check(whole == byByte);
    wyr::windows::logging::LogBeacon::instance().flush();
    return 0;
}
