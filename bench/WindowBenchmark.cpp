// The whole window (OrvaneApp, its main frame and view on the program's own device
// link) on Qt's offscreen platform, against the benchmark's own instrument on a
// pseudo-terminal: the view scans the port, validates the device and streams.
//
//   BM_WindowStreaming/rate: readings at `rate` per second for a fixed time. The
//     program's share of one core (process processor time less the instrument's
//     writer thread, over wall time); the latency from a reading's last byte
//     written to the start of the output window's first paint that shows it (p50,
//     p99, max); and the age of the newest reading shown at each paint, early in
//     the run and late in it, which grows when the user-interface thread falls
//     behind.
//   BM_ConsoleStreaming: the same at 1000 per second in administrator mode with the
//     log console open at mask 0xFFFF (every trace of the link formatted and shown);
//     the lag of the console's newest reading line at each of its paints, early
//     and late.
//   BM_WindowMemory: a million readings as fast as the link takes them and 100 000
//     history lines, four times; resident size after each pass.
#include "app/HistoryWnd.h"
#include "app/MainFrame.h"
#include "app/OrvaneApp.h"
#include "app/OrvaneOutputWnd.h"
#include "app/OrvaneView.h"
#include "bench/support/StreamingInstrument.h"
#include "device/DeviceSupervisor.h"
#include "tests/ui/support/AppEnvironment.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/ui/LogConsoleWnd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using bench::StreamingInstrument;
using Clock = StreamingInstrument::Clock;

constexpr int kPort = 231;

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Runs the event loop until `done` holds (checked every 100 ms) or `timeoutMs` pass.
bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || waited.elapsed() > timeoutMs) {
            loop.quit();
        }
    });
    check.start(100);
    loop.exec();
    return done();
}

// Calls `observe` as each paint event reaches the watched widget, before it paints.
class PaintObserver : public QObject {
public:
    PaintObserver(QWidget& widget, std::function<void()> observe)
        : _widget(widget), _observe(std::move(observe)) {
        _widget.installEventFilter(this);
    }
    ~PaintObserver() override { _widget.removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &_widget && event->type() == QEvent::Paint) {
            _observe();
        }
        return false;
    }

private:
    QWidget& _widget;
    std::function<void()> _observe;
};

// The program in a private home, scanned to the instrument and streaming.
class Program {
public:
    explicit Program(QStringList arguments)
        : _instrument((_environment.path(QStringLiteral("ports")) + QStringLiteral("/COM%1").arg(kPort))
                          .toStdString()),
          _orvane(std::move(arguments)) {
        if (!_orvane.initInstance()) {
            return;
        }
        // A desktop's size rather than the offscreen screen's, so that the plot's
        // ring and paint are those of a maximised window on a common monitor.
        frame().showNormal();
        frame().setGeometry(0, 0, 1920, 1080);
        runUntil([&] { return !output().resizing() && output().width() > 1600; }, 5000);
        view().scanPort(kPort);
        ready = runUntil(
            [&] { return view().supervisor().state() == device::DeviceSupervisor::State::Streaming; }, 20000);
    }
    ~Program() { _orvane.exitInstance(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    app::MainFrame& frame() { return *_orvane.mainFrame(); }
    app::OrvaneView& view() { return frame().view(); }
    app::OrvaneOutputWnd& output() {
        return *view().findChild<app::OrvaneOutputWnd*>(QStringLiteral("outputWnd"));
    }
    app::HistoryWnd& history() { return *view().findChild<app::HistoryWnd*>(QStringLiteral("historyWnd")); }
    StreamingInstrument& instrument() { return _instrument; }

    bool ready = false;

private:
    test::AppEnvironment _environment;
    StreamingInstrument _instrument;
    app::OrvaneApp _orvane;
};

// The newest reading the output window holds, by its sequence number.
std::optional<std::size_t> newestShown(const app::OrvaneOutputWnd& output) {
    if (output.readings().empty()) {
        return std::nullopt;
    }
    const auto& newest = output.readings().back();
    return StreamingInstrument::sequenceOf(newest.reading1, newest.reading2);
}

// The newest reading among the console's last lines, from the parser's rendering
// of its sentence, "<STX>0003|1.234|1.000|...".
std::optional<std::size_t> newestLogged(const QPlainTextEdit& text) {
    static const QString marker = QStringLiteral("<STX>0003|");
    QTextBlock block = text.document()->lastBlock();
    for (int i = 0; i < 5000 && block.isValid(); ++i, block = block.previous()) {
        const QString line = block.text();
        const auto at = line.indexOf(marker);
        if (at < 0) {
            continue;
        }
        const QStringList values = line.mid(at + marker.size()).split(QLatin1Char('|'));
        if (values.size() >= 2) {
            return StreamingInstrument::sequenceOf(values[0].toDouble(), values[1].toDouble());
        }
    }
    return std::nullopt;
}

struct Sample {
    Clock::time_point at;
    std::size_t sequence;
};

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

// The median age of the newest reading shown, in the first and the last fifth of
// the samples.
void reportAge(benchmark::State& state, const std::vector<Sample>& samples,
               const std::vector<Clock::time_point>& sent, const char* name) {
    std::vector<double> ages;
    for (const Sample& s : samples) {
        if (s.sequence < sent.size()) {
            ages.push_back(micros(s.at - sent[s.sequence]));
        }
    }
    if (ages.size() < 10) {
        return;
    }
    const auto fifth = static_cast<std::ptrdiff_t>(ages.size() / 5);
    state.counters[std::string(name) + "_early_us"] =
        percentile(std::vector<double>(ages.begin(), ages.begin() + fifth), 0.5);
    state.counters[std::string(name) + "_late_us"] =
        percentile(std::vector<double>(ages.end() - fifth, ages.end()), 0.5);
    state.counters[std::string(name) + "_max_us"] = *std::max_element(ages.begin(), ages.end());
}

// Streams `count` readings at `rate` per second and reports the program's share of
// a core and what the output window (and the console, when open) showed when.
void stream(benchmark::State& state, Program& program, std::size_t count, unsigned rate) {
    std::vector<Sample> paints;
    std::vector<Sample> consolePaints;
    paints.reserve(count * 2 + 1000);
    PaintObserver plot(program.output(), [&] {
        if (const auto shown = newestShown(program.output())) {
            paints.push_back({Clock::now(), *shown});
        }
    });
    std::size_t consoleAllPaints = 0;
    std::unique_ptr<PaintObserver> console;
    if (auto* window = program.frame().console()) {
        consolePaints.reserve(count + 1000);
        console = std::make_unique<PaintObserver>(*window->textView().viewport(), [&, window] {
            ++consoleAllPaints;
            if (const auto shown = newestLogged(window->textView())) {
                consolePaints.push_back({Clock::now(), *shown});
            }
        });
    }

    const double cpuBefore = processCpuSeconds();
    const double writerBefore = program.instrument().cpuSeconds();
    const auto started = Clock::now();
    program.instrument().stream(count, 1000000 / rate);
    const bool complete = runUntil(
        [&] {
            return program.instrument().remaining() == 0 && !paints.empty() &&
                   paints.back().sequence + 1 >= count &&
                   (!console || (!consolePaints.empty() && consolePaints.back().sequence + 1 >= count));
        },
        static_cast<int>(count * 1000 / rate) + 10000);
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const double writer = program.instrument().cpuSeconds() - writerBefore;
    // A run whose last reading was never shown still tells how far behind it was.
    state.counters["complete"] = complete ? 1 : 0;
    if (!complete) {
        const auto behind = [&](const std::vector<Sample>& shown) {
            return static_cast<double>(count - (shown.empty() ? 0 : shown.back().sequence + 1));
        };
        state.counters["plot_behind"] = behind(paints);
        if (console) {
            state.counters["console_behind"] = behind(consolePaints);
        }
    }

    // Each reading's latency: to the first paint whose newest reading is it or a later one.
    const auto sent = program.instrument().sentAt();
    std::vector<double> latency;
    latency.reserve(sent.size());
    std::size_t paint = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        while (paint < paints.size() && paints[paint].sequence < i) {
            ++paint;
        }
        if (paint == paints.size()) {
            break;
        }
        latency.push_back(micros(paints[paint].at - sent[i]));
    }
    state.counters["cpu_pct"] = 100.0 * (cpu - writer) / wall;
    state.counters["writer_cpu_pct"] = 100.0 * writer / wall;
    state.counters["paints"] = static_cast<double>(paints.size());
    state.counters["plot_width"] = program.output().width();
    state.counters["p50_us"] = percentile(latency, 0.5);
    state.counters["p99_us"] = percentile(latency, 0.99);
    state.counters["max_us"] = percentile(latency, 1.0);
    reportAge(state, paints, sent, "plot_age");
    if (console) {
        reportAge(state, consolePaints, sent, "console_age");
        state.counters["console_paints"] = static_cast<double>(consoleAllPaints);
    }
}

void BM_WindowStreaming(benchmark::State& state) {
    Program program({QStringLiteral("orvane"), QStringLiteral("-noadmin")});
    if (!program.ready) {
        state.SkipWithError("the view did not reach streaming");
        return;
    }
    const auto rate = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        stream(state, program, rate * 20, rate); // 20 seconds
    }
}
BENCHMARK(BM_WindowStreaming)
    ->ArgName("rate")
    ->Arg(16)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_ConsoleStreaming(benchmark::State& state) {
    Program program({QStringLiteral("orvane"), QStringLiteral("-admin")});
    if (!program.ready) {
        state.SkipWithError("the view did not reach streaming");
        return;
    }
    program.frame().toggleConsole();
    auto* console = program.frame().console();
    if (console == nullptr || !console->isVisible()) {
        state.SkipWithError("the console did not open");
        return;
    }
    for (auto _ : state) {
        stream(state, program, 20000, 1000);
    }
    state.counters["console_lines"] = console->lineCount();
}
BENCHMARK(BM_ConsoleStreaming)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_WindowMemory(benchmark::State& state) {
    Program program({QStringLiteral("orvane"), QStringLiteral("-noadmin")});
    if (!program.ready) {
        state.SkipWithError("the view did not reach streaming");
        return;
    }
    constexpr std::size_t kReadings = 1000000;
    constexpr int kHistoryLines = 100000;
    std::size_t lastShown = 0;
    PaintObserver plot(program.output(), [&] {
        if (const auto shown = newestShown(program.output())) {
            lastShown = *shown;
        }
    });
    const auto pass = [&] {
        lastShown = 0;
        program.instrument().stream(kReadings, 0);
        // The history lines go through the logging core as any part's messages
        // do, in bursts the pane's thread takes between readings.
        for (int i = 0; i < kHistoryLines; ++i) {
            wyr::windows::logging::log(wyr::windows::logging::LogVerbosity::AppSpecific1, "WindowMemory",
                                       L"History line %d of the memory run", i);
            if (i % 100 == 99) {
                QCoreApplication::processEvents();
            }
        }
        return runUntil(
            [&] {
                return program.instrument().remaining() == 0 && lastShown + 1 >= kReadings &&
                       program.history().lineCount() >= app::HistoryWnd::kMaxLines;
            },
            900000);
    };
    if (!pass()) {
        state.SkipWithError("the first pass did not finish");
        return;
    }
    // Resident size after the first pass, and after each further one.
    std::vector<long> resident{residentKiB()};
    for (auto _ : state) {
        if (!pass()) {
            state.SkipWithError("a later pass did not finish");
            return;
        }
        resident.push_back(residentKiB());
    }
    for (std::size_t i = 0; i < resident.size(); ++i) {
        state.counters["rss_pass" + std::to_string(i + 1) + "_KiB"] = static_cast<double>(resident[i]);
    }
    state.counters["history_lines"] = program.history().lineCount();
}
BENCHMARK(BM_WindowMemory)->Iterations(3)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setOrganizationName(QStringLiteral("Tolvek"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
