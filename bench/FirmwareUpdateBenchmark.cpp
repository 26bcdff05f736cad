// Wall time of a whole firmware update through orvanectl's flash command against
// the simulated instrument: a 32 KiB image filling a 32 KiB application area of
// 512-byte pages, written in 64-byte blocks, with the line set to 115200 baud.
//
// The protocol sets a floor no implementation can beat: 200 ms before each page
// checksum, 5 ms per erased page and per loaded line, and every byte of every
// frame and answer on the wire at the line rate. The counters report that floor,
// split into its pauses and its wire time, beside the measured time. The simulator
// sits on a pseudo-terminal, which carries bytes without the line's rate, so the
// measurement leaves the wire time out: compare it with the pauses, and add the
// wire time for a real line.
#include "bench/support/UpdateImage.h"
#include "cli/FlashCommand.h"
#include "device/SerialPortEnumerator.h"
#include "sim/InstrumentSimulator.h"
#include "wyr/windows/communication/PortMap.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using bench::UpdateImage;
constexpr std::uint32_t kAppStart = UpdateImage::kAppStart;
constexpr std::uint32_t kAppEnd = UpdateImage::kAppEnd;
constexpr std::uint32_t kPageSize = UpdateImage::kPageSize;
constexpr std::uint32_t kBlockSize = UpdateImage::kBlockSize;
constexpr std::uint32_t kBaud = UpdateImage::kBaud;
constexpr double kBitsPerByte = 10.0; // 8N1

void BM_FirmwareUpdate32KiB(benchmark::State& state) {
    std::string pattern = (fs::temp_directory_path() / "orvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const fs::path dir = pattern;
    fs::create_directories(dir / "ports");
    fs::create_directories(dir / "sys" / "class" / "tty");
    fs::create_directories(dir / "dev");
    ::setenv("ORVANE_PORT_DIR", (dir / "ports").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    UpdateImage::writeSettings(dir / "config" / "Tolvek" / "Orvane.reg");
    const fs::path image = dir / "image.hex";
    const std::uint32_t lines = UpdateImage::write(image);

    const sim::InstrumentSettings settings = UpdateImage::device();

    for (auto _ : state) {
        state.PauseTiming();
        sim::InstrumentSimulator simulator(settings, {});
        if (simulator.start() != 0) {
            state.SkipWithError("the simulator did not start");
            break;
        }
        std::ostringstream out;
        std::ostringstream err;
        std::istringstream in;
        cli::FlashCommand command(
            out, err, in, false,
            device::SerialPortEnumerator(wyr::windows::communication::PortMap::fromEnvironment(),
                                         (dir / "sys").string(), (dir / "dev").string()));
        const std::string port = "COM" + std::to_string(simulator.comNumber());
        state.ResumeTiming();
        const int code = command.run({image.string(), "--bootloader", "--port", port});
        state.PauseTiming();
        if (code != cli::FlashCommand::kUpdated || out.str().find("at 115200 baud") == std::string::npos) {
            state.SkipWithError(("the update failed: " + err.str()).c_str());
        }
        simulator.stop();
        state.ResumeTiming();
    }

    // The floor of one update.
    const std::uint32_t areaPages = (kAppEnd + 1 - kAppStart) / kPageSize;
    const std::uint32_t imagePages = areaPages;
    const std::uint32_t blocks = imagePages * (kPageSize / kBlockSize);
    const double pausesMs = 200.0 * imagePages + 5.0 * areaPages + 5.0 * lines;
    const double wireBytes = 3.0                                       // enter bootload mode
                             + 1.0 + 1.0 + 16.0 + 1.0                  // info: command, code, both blocks
                             + (1.0 + areaPages) * (8.0 + 1.0)         // signature page, then the area
                             + blocks * (8.0 + 1.0 + kBlockSize + 1.0) // header, answer, data, answer
                             + imagePages * (8.0 + 3.0)                // page checksums
                             + (8.0 + 1.0) + (1.0 + 1.0);              // signature, reset
    const double wireMs = wireBytes * kBitsPerByte * 1000.0 / kBaud;
    state.counters["lines"] = lines;
    state.counters["pages"] = imagePages;
    state.counters["blocks"] = blocks;
    state.counters["pause_floor_ms"] = pausesMs;
    state.counters["wire_bytes"] = wireBytes;
    state.counters["wire_ms_at_115200"] = wireMs;
    state.counters["floor_ms"] = pausesMs + wireMs;

    ::unsetenv("ORVANE_PORT_DIR");
    ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

BENCHMARK(BM_FirmwareUpdate32KiB)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
