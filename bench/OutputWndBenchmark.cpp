// The live output window's paint at 1920 × 600 with a full ring: 960 records at
// the default pixel rate 2, three lanes of about 960 vertices each, on Qt's
// offscreen platform (the raster engine the window uses on any screen).
//
//   BM_OutputWndRepaint/filtered: a synchronous repaint through the window's
//     backing store, the cached background blitted and three paths filled; the
//     default look.
//   BM_OutputWndRepaint/unfiltered: the same with the noise-floor markers.
//   BM_OutputWndRender: the paint alone, rendered into an image of the window's
//     size, without the backing store.
#include "app/OrvaneOutputWnd.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

// A busy, jagged picture: every vertex differs from its neighbours.
device::OrvaneReadingNotification readingAt(int i) {
    device::OrvaneReadingNotification record;
    const double t = i * 0.05;
    record.reading1 = static_cast<float>(2.2 + 2.0 * std::sin(t) + 0.3 * std::sin(i * 1.7));
    record.reading2 = static_cast<float>(1.5 + 1.2 * std::sin(t * 0.7 + 1.0) + 0.4 * std::cos(i * 2.3));
    record.reading3 = static_cast<float>(3.0 + 1.4 * std::cos(t * 1.3) + 0.2 * std::sin(i * 3.1));
    return record;
}

// The ring is sized by the window's first resize event, which showing it (or
// rendering it hidden) delivers.
std::unique_ptr<app::OrvaneOutputWnd> fullWindow(OwnConfigMgr& config, bool filtered, bool show) {
    config.define(L"UI.Filtering", filtered ? L"0|1" : L"0|0", true);
    auto window = std::make_unique<app::OrvaneOutputWnd>(config);
    window->resize(1920, 600);
    if (show) {
        window->show();
    } else {
        QImage first(window->size(), QImage::Format_ARGB32_Premultiplied);
        window->render(&first);
    }
    QElapsedTimer waited;
    waited.start();
    const auto ready = [&] {
        return !window->resizing() &&
               (!show || (window->windowHandle() != nullptr && window->windowHandle()->isExposed()));
    };
    while (!ready() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents();
    }
    for (std::size_t i = 0; i < window->readings().capacity(); ++i) {
        const auto record = readingAt(static_cast<int>(i));
        window->orvaneCallback(&record);
    }
    return window;
}

void BM_OutputWndRepaint(benchmark::State& state) {
    OwnConfigMgr config;
    auto window = fullWindow(config, state.range(0) != 0, true);
    if (window->readings().size() != 960 || window->resizing() || !window->windowHandle()->isExposed()) {
        state.SkipWithError("the window did not come up at 1920 x 600 with 960 records");
        return;
    }
    window->repaint(); // the first paint draws the cached background
    for (auto _ : state) {
        window->repaint();
    }
    state.counters["records"] = static_cast<double>(window->readings().size());
}
BENCHMARK(BM_OutputWndRepaint)->ArgName("filtered")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_OutputWndRender(benchmark::State& state) {
    OwnConfigMgr config;
    auto window = fullWindow(config, true, false);
    if (window->readings().size() != 960 || window->resizing()) {
        state.SkipWithError("the window did not come up at 1920 x 600 with 960 records");
        return;
    }
    QImage target(window->size(), QImage::Format_ARGB32_Premultiplied);
    window->render(&target);
    for (auto _ : state) {
        window->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_OutputWndRender)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
