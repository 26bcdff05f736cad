// Throughput of the sentence parser on a stream of ADC readings, the way the serial
// thread feeds it: one sentence per call, each reading posted to the broadcast window
// and delivered to a subscriber on the user-interface thread, with a log listener
// connected. Delivery (notifications and log records) is part of the measured cost.
#include "bench/support/CountingListener.h"
#include "device/OrvaneBroadcastWnd.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneParser.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/MessageLoop.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace wyr::windows::logging;
using bench::CountingListener;
using wyr::windows::system::ErrorCode;

// Hands the parser's records to the broadcast window, as the device interface does.
class BroadcastSink final : public device::IOrvaneSink {
public:
    explicit BroadcastSink(device::OrvaneBroadcastWnd& window) : _window(window) {}
    ErrorCode acknowledgeAt(std::chrono::steady_clock::time_point) override { return 0; }
    ErrorCode notify(device::OrvaneNotification* record) override {
        return _window.post(record) ? 0 : wyr::windows::system::getLastError();
    }

private:
    device::OrvaneBroadcastWnd& _window;
};

// Readings as the instrument formats them: three channels with three decimals.
std::vector<std::uint8_t> readingStream(std::size_t sentences) {
    std::vector<std::uint8_t> stream;
    for (std::size_t i = 0; i < sentences; ++i) {
        const double t = static_cast<double>(i) * 0.05;
        char payload[96];
        std::snprintf(payload, sizeof payload, "0003|%.3f|%.3f|%.3f", 2.5 * std::sin(t), 1.25 * std::cos(t),
                      12.0 + std::sin(3.0 * t));
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%02X",
                      static_cast<unsigned>(device::OrvaneMessage::checksum(payload)));
        stream.push_back(0x02);
        stream.insert(stream.end(), payload, payload + std::char_traits<char>::length(payload));
        stream.push_back(0x03);
        stream.push_back(static_cast<std::uint8_t>(checksum[0]));
        stream.push_back(static_cast<std::uint8_t>(checksum[1]));
        stream.push_back(0x04);
    }
    return stream;
}

void BM_ParseReadings(benchmark::State& state) {
    constexpr std::size_t kSentences = 256;
    LogBeacon::instance();
    CountingListener listener(static_cast<std::uint16_t>(state.range(0)));
    device::OrvaneBroadcastWnd window;
    std::size_t readings = 0;
    boost::signals2::scoped_connection subscriber =
        window.subscribe([&readings](const device::tagNMORVANEHDR* h) {
            if (*h->type == device::OrvaneNotificationType::NotifySentenceReceived) {
                ++readings;
            }
        });
    BroadcastSink sink(window);
    device::OrvaneParser parser(sink);
    wyr::windows::system::Event terminate(wyr::windows::system::Event::Reset::Manual);
    const std::vector<std::uint8_t> stream = readingStream(kSentences);

    for (auto _ : state) {
        const std::uint8_t* data = stream.data();
        auto left = static_cast<std::uint32_t>(stream.size());
        while (left > 0) {
            std::uint32_t consumed = 0;
            parser.parseIOBuffer(&terminate, data, left, &consumed);
            data += consumed;
            left -= consumed;
        }
        wyr::windows::system::pump(); // the user-interface thread's share
    }
    wyr::windows::system::pump();

    const auto bytes =
        static_cast<std::int64_t>(stream.size()) * static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(bytes);
    state.counters["sentences/s"] =
        benchmark::Counter(static_cast<double>(kSentences * state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes/sentence"] = static_cast<double>(stream.size()) / kSentences;
    state.SetLabel(state.range(0) == 0x0F60 ? "history-pane listener" : "Information listened to as well");
    if (readings != kSentences * state.iterations()) {
        state.SkipWithError("readings were lost");
    }
}
// 0x0F60: the history pane's mask (Warning, Error, App Specific 1-4), the usual listener;
// 0x00F0 adds Information, which every sentence logs twice.
BENCHMARK(BM_ParseReadings)->Arg(0x0F60)->Arg(0x00F0);

} // namespace

BENCHMARK_MAIN();
