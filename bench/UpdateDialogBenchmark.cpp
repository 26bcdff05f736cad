// The firmware update through the window's dialog against the simulated
// instrument, beside orvanectl's flash command on the same device and image as
// FirmwareUpdateBenchmark; each iteration runs both, orvanectl first.
//
// Both are timed over the same part, the one the Update button starts: the erase,
// every page written and its checksum checked, and the signature, up to the
// signature's record on the user-interface thread. For the dialog that is the
// press of Update to the Cancel button reading "Close"; for orvanectl, the
// comparison table it prints right before it asks for the erase to its line
// "All 64 pages written and verified.", each output line stamped as it is written.
// The query and the image's load before it (5 ms a line) and the reset after it
// are left out of both; FirmwareUpdateBenchmark times the whole command.
//
// probe:1 ticks a 0-ms timer through the dialog's part, once for every pass of
// the user-interface thread's event loop, and reports the longest gap between two
// ticks; probe:0 runs without it, so that the ticking's own cost shows.
#include "app/FirmwareUpdateDlg.h"
#include "bench/support/UpdateImage.h"
#include "bootloader/BootloaderImpl.h"
#include "bootloader/BootloaderPort.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "cli/FlashCommand.h"
#include "device/SerialPortEnumerator.h"
#include "sim/InstrumentSimulator.h"
#include "tests/ui/support/AppEnvironment.h"
#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/ui/MessageQueuePump.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <boost/signals2/connection.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bench::UpdateImage;
using Clock = std::chrono::steady_clock;

constexpr int kStepTimeoutMs = 60000;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Output whose every line is stamped with the moment its end was written.
class StampedLines : public std::streambuf {
public:
    struct Line {
        Clock::time_point at;
        std::string text;
    };
    std::vector<Line> lines;

    // The first line that starts with `prefix`.
    std::optional<std::size_t> find(const std::string& prefix) const {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].text.rfind(prefix, 0) == 0) {
                return i;
            }
        }
        return std::nullopt;
    }

    bool contains(const std::string& part) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const Line& line) { return line.text.find(part) != std::string::npos; });
    }

protected:
    // No put area: every character comes here.
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        if (traits_type::to_char_type(c) == '\n') {
            lines.push_back({Clock::now(), std::move(_current)});
            _current.clear();
        } else {
            _current.push_back(traits_type::to_char_type(c));
        }
        return c;
    }

private:
    std::string _current;
};

struct Folder {
    test::AppEnvironment environment;
    fs::path root{environment.root().toStdString()};
    fs::path image = root / "image.hex";
    std::uint32_t lines = 0;

    Folder() {
        environment.path(QStringLiteral("ports"));
        environment.path(QStringLiteral("sys/class/tty"));
        environment.path(QStringLiteral("dev"));
        UpdateImage::writeSettings(environment.settingsFile().toStdString());
        lines = UpdateImage::write(image);
    }
};

// orvanectl flash --bootloader; the erase to the signature in ms, or the failure.
std::optional<double> flashWithCommand(const Folder& folder, std::string& failure) {
    sim::InstrumentSimulator simulator(UpdateImage::device(), {});
    if (simulator.start() != 0) {
        failure = "the simulator did not start";
        return std::nullopt;
    }
    StampedLines stamped;
    std::ostream out(&stamped);
    std::ostringstream err;
    std::istringstream in;
    cli::FlashCommand command(
        out, err, in, false,
        device::SerialPortEnumerator(wyr::windows::communication::PortMap::fromEnvironment(),
                                     (folder.root / "sys").string(), (folder.root / "dev").string()));
    const int code = command.run(
        {folder.image.string(), "--bootloader", "--port", "COM" + std::to_string(simulator.comNumber())});
    simulator.stop();
    const auto erasing = stamped.find("Erasing Target");
    const auto signed_ =
        stamped.find("All " + std::to_string(UpdateImage::kPages) + " pages written and verified.");
    if (code != cli::FlashCommand::kUpdated || !stamped.contains("at 115200 baud") || !erasing ||
        *erasing == 0 || !signed_) {
        failure = "orvanectl flash failed: " + err.str();
        return std::nullopt;
    }
    // The table's last line is written right before the erase is asked for.
    return msBetween(stamped.lines[*erasing - 1].at, stamped.lines[*signed_].at);
}

struct DialogRun {
    double updateMs = 0.0;
    double longestGapMs = 0.0;
    double gapsOver16Ms = 0.0;
};

QPushButton* button(const app::FirmwareUpdateDlg& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

// The dialog from its query to the restart; Update to "Close" timed.
std::optional<DialogRun> flashWithDialog(const Folder& folder, bool probe, std::string& failure) {
    sim::InstrumentSimulator simulator(UpdateImage::device(), {});
    if (simulator.start() != 0) {
        failure = "the simulator did not start";
        return std::nullopt;
    }
    wyr::windows::communication::PortHandle port;
    bootloader::BootloaderPort::LineSettings line;
    line.baudRate = UpdateImage::kBaud;
    auto loader = std::make_unique<bootloader::BootloaderImpl>();
    if (bootloader::BootloaderPort::open(simulator.comNumber(), line, port) != 0 ||
        loader->initialize(std::move(port), bootloader::BootloaderEntry::FoundInBootloader) != 0) {
        failure = "the bootloader did not take the port";
        return std::nullopt;
    }
    auto dialog = std::make_unique<app::FirmwareUpdateDlg>(*loader, false);
    QPushButton* update = button(*dialog, "update");
    QPushButton* cancel = button(*dialog, "cancel");
    const QTableWidgetItem* version =
        dialog->findChild<QTableWidget*>(QStringLiteral("properties"))
            ->item(bootloader::FieldRow::Version.value() - 1, bootloader::InfoColumn::Bootloader.value());
    dialog->show();
    if (!QTest::qWaitFor([&] { return !version->text().isEmpty() && !dialog->busy(); }, kStepTimeoutMs)) {
        failure = "the dialog's query did not end";
        return std::nullopt;
    }
    dialog->loadFile(QString::fromStdString(folder.image.string()));
    if (!QTest::qWaitFor([&] { return !dialog->busy() && update->isEnabled(); }, kStepTimeoutMs)) {
        failure = "the image did not load";
        return std::nullopt;
    }

    DialogRun run;
    QEventLoop loop;
    std::optional<Clock::time_point> closed;
    bool refused = false;
    // After the dialog's own handler, which connected first.
    const boost::signals2::scoped_connection watcher =
        loader->connect([&](const bootloader::tagBLNHDR* record) {
            if (closed || refused) {
                return;
            }
            if (record != nullptr && record->result != 0) {
                refused = true;
                loop.quit();
            } else if (cancel->text() == QStringLiteral("Close") && !dialog->busy()) {
                closed = Clock::now();
                loop.quit();
            }
        });
    QTimer tick;
    tick.setInterval(0);
    Clock::time_point lastTick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const double gap = msBetween(lastTick, now);
        run.longestGapMs = std::max(run.longestGapMs, gap);
        if (gap > 16.0) {
            run.gapsOver16Ms += 1.0;
        }
        lastTick = now;
    });
    QTimer::singleShot(kStepTimeoutMs, &loop, &QEventLoop::quit);

    const Clock::time_point pressed = Clock::now();
    lastTick = pressed;
    if (probe) {
        tick.start();
    }
    update->click();
    loop.exec();
    tick.stop();
    if (!closed) {
        failure = refused ? "the dialog's update failed" : "the dialog's update did not end";
        return std::nullopt;
    }
    if (probe) {
        run.longestGapMs = std::max(run.longestGapMs, msBetween(lastTick, *closed));
    }
    run.updateMs = msBetween(pressed, *closed);

    // Close restarts the instrument and ends the dialog.
    cancel->click();
    if (!QTest::qWaitFor([&] { return dialog->exitCode() == app::FirmwareUpdateDlg::kClosed; },
                         kStepTimeoutMs)) {
        failure = "Close did not end the dialog";
        return std::nullopt;
    }
    dialog.reset();
    loader.reset();
    static_cast<void>(QTest::qWaitFor([&] { return !simulator.status().inBootloader; }, kStepTimeoutMs));
    const bool installed = simulator.status().firmwareVersion == "3.4.0.7";
    simulator.stop();
    if (!installed) {
        failure = "the dialog's image is not installed";
        return std::nullopt;
    }
    return run;
}

void BM_UpdateFromDialog(benchmark::State& state) {
    const bool probe = state.range(0) != 0;
    const Folder folder;
    std::vector<double> command;
    std::vector<double> dialog;
    DialogRun worst;
    for (auto _ : state) {
        std::string failure;
        const auto flashed = flashWithCommand(folder, failure);
        const auto run = flashed ? flashWithDialog(folder, probe, failure) : std::nullopt;
        if (!run) {
            state.SkipWithError(failure.c_str());
            break;
        }
        command.push_back(*flashed);
        dialog.push_back(run->updateMs);
        worst.longestGapMs = std::max(worst.longestGapMs, run->longestGapMs);
        worst.gapsOver16Ms = std::max(worst.gapsOver16Ms, run->gapsOver16Ms);
        state.SetIterationTime(run->updateMs / 1000.0);
    }
    const double commandMs = median(command);
    const double dialogMs = median(dialog);
    state.counters["dialog_ms"] = dialogMs;
    state.counters["dialog_max_ms"] = dialog.empty() ? 0.0 : *std::max_element(dialog.begin(), dialog.end());
    state.counters["orvanectl_ms"] = commandMs;
    state.counters["orvanectl_max_ms"] =
        command.empty() ? 0.0 : *std::max_element(command.begin(), command.end());
    state.counters["dialog_over_orvanectl_pct"] =
        commandMs > 0.0 ? (dialogMs / commandMs - 1.0) * 100.0 : 0.0;
    // The pauses of that part: 200 ms before each page checksum, 5 ms per erased page.
    state.counters["pause_floor_ms"] = 200.0 * UpdateImage::kPages + 5.0 * UpdateImage::kPages;
    if (probe) {
        state.counters["loop_gap_max_ms"] = worst.longestGapMs;
        state.counters["loop_gaps_over_16ms"] = worst.gapsOver16Ms;
    }
}
BENCHMARK(BM_UpdateFromDialog)
    ->ArgName("probe")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const wyr::windows::ui::MessageQueuePump pump;
    if (!pump.isValid()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
