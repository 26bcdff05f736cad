#pragma once

#include "bootloader/BootloaderInterface.h"
#include "bootloader/BootloaderPort.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/IntelHexFile.h"
#include "bootloader/UpdateCheck.h"
#include "cli/CommonOptions.h"
#include "cli/ProgressDisplay.h"
#include "device/OrvaneInterface.h"
#include "device/SerialPortEnumerator.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace bootloader {
class BootloaderImpl;
}

namespace cli {

class DeviceSession;

// orvanectl flash FILE.hex [--port COM<n>] [--bootloader] [--serial N] [--yes]
//
// Replaces the instrument's application firmware. Without --bootloader the
// device is found by the scan every device command uses (of each port, or of the
// one given), connected, and asked to hand its port to the bootloader; with
// --bootloader the given port is opened directly with the configured line
// settings, for a device that has no application to answer. Then the bootloader
// is entered, the image compared with what the bootloader reports, the serial
// number written into the image when given, the application area erased,
// written page by page with every page checked, and the device reset.
//
// Ctrl-C before the erase leaves the device as it was; during the erase or the
// writing it stops at the next page or block the bootloader reports, never signs
// the image, and says how to finish with --bootloader.
//
// The calling thread is the user-interface thread: the device link's and the
// bootloader's notifications are delivered while it pumps.
class FlashCommand : private wyr::memory::NonCopyable {
public:
    static constexpr int kUpdated = 0;
    static constexpr int kNoDevice = 1; // nothing answered: no device, or no bootloader
    static constexpr int kUsage = 2;
    static constexpr int kRefused = 3;    // the image does not fit the device; nothing was erased
    static constexpr int kUnreadable = 4; // the image cannot be read
    static constexpr int kFailed = 5;     // erasing, writing, checking or the reset failed
    static constexpr int kDeclined = 6;   // the user answered no, or Ctrl-C came before the erase

    // The longest silence of the bootloader thread before the update is given up;
    // each exchange it makes is bounded far below that.
    static constexpr std::uint32_t kIdleTimeoutMs = 60000;
    // After the device link sent BOOTLOAD, the instrument needs this long to
    // start its bootloader.
    static constexpr std::uint32_t kBootloaderStartMs = 2000;

    struct Options {
        std::string image;
        int port = 0; // 0: scan
        CommonOptions common;
        bool bootloader = false;
        std::optional<std::uint16_t> serial;
        bool yes = false;
    };

    // `in` answers the question before the update; `progressBar` draws progress
    // in place (for a terminal) instead of one line per report.
    FlashCommand(std::ostream& out, std::ostream& err, std::istream& in, bool progressBar,
                 device::SerialPortEnumerator ports = device::SerialPortEnumerator());
    ~FlashCommand();

    int run(const std::vector<std::string>& args);

    // The update once the options are known.
    int run(const Options& options);

    // Whether `out` is the process's standard output and that is a terminal that
    // redraws a line in place.
    static bool isTerminal(const std::ostream& out);

    // The options; nothing to go on with them, else the exit code: 0 when the help
    // was shown on `out`, kUsage with the complaint on `err`.
    static std::optional<int> parse(const std::vector<std::string>& args, Options& options, std::ostream& out,
                                    std::ostream& err);

    static const char* usage();

private:
    // A notification as the slot saw it.
    struct Seen {
        int type = 0;
        int state = 0;
        std::uint32_t result = 0;
        std::uint32_t current = 0;
        std::uint32_t total = 0;
    };
    using Match = std::function<bool(const Seen&)>;

    int refuseSerial();
    int openBootloaderPort(DeviceSession& session, wyr::windows::communication::PortHandle& port);
    int handOverFromDevice(DeviceSession& session, wyr::windows::communication::PortHandle& port);
    int findDevice(DeviceSession& session, std::int32_t& found);
    bool confirm(const device::OrvaneDeviceState& state, std::int32_t port);
    void closeLink(device::OrvaneInterface& link);
    int interruptedBeforeErase();
    int interruptedWhile(const std::string& what);

    int update(wyr::windows::communication::PortHandle port);
    int enterBootloader();
    int readTargetInfo();
    int loadImage();
    int checkImage();
    int programme();
    int failed(const std::string& what);
    void leaveBootloader();

    void onNotify(const bootloader::tagBLNHDR* header);
    // The record `match` accepts; nothing when the bootloader stopped reporting.
    // In an `interruptible` wait, Ctrl-C asks the bootloader to stop before its
    // next page or block (then _stopped is set and _last holds the last progress
    // record before it); the wait still ends with the step's own last record.
    std::optional<Seen> await(const Match& match, bool interruptible = false);
    static Match completes(const bootloader::BootloaderNotifyType& type);

    void printTable();
    void printImage(const bootloader::InfoBlock& block) const;
    void error(const std::string& text);
    std::string modeHint() const;
    std::string rerunHint() const;

    std::ostream& _out;
    std::ostream& _err;
    std::istream& _in;
    ProgressDisplay _progress;
    device::SerialPortEnumerator _ports;

    Options _options;
    std::int32_t _port = 0;
    bootloader::IntelHexFile _image; // read before the device is touched
    bootloader::BootloaderImpl* _bootloader = nullptr;
    bootloader::InfoBlock _device;
    bootloader::InfoBlock _target;
    bootloader::InfoBlock _source;
    bootloader::UpdateCheck _check;

    std::vector<Seen> _seen;
    std::size_t _next = 0;
    bool _stopped = false;
    Seen _last;
};

} // namespace cli
