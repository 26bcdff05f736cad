#include "cli/FlashCommand.h"

#include "bootloader/BootloaderImpl.h"
#include "bootloader/BootloaderNotification.h"
#include "bootloader/BootloaderNotifyState.h"
#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "cli/ErrorLog.h"
#include "cli/HexInfoCommand.h"
#include "device/DisconnectType.h"
#include "device/OrvaneConfigKey.h"
#include "device/OrvaneInterfaceId.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneNotificationType.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/communication/BaudRate.h"
#include "wyr/windows/communication/DataBits.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <boost/lexical_cast.hpp>
#include <boost/variant/get.hpp>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace cli {

namespace sys = wyr::windows::system;
namespace comm = wyr::windows::communication;
using bootloader::BootloaderNotifyState;
using bootloader::BootloaderNotifyType;
using bootloader::FieldRow;
using bootloader::InfoBlockType;
using bootloader::InfoColumn;
using bootloader::UpdateCheck;
using device::OrvaneConfigKey;
using device::OrvaneNotificationType;
using wyr::windows::config::ConfigMgr;

namespace {

// Where the application keeps its settings, below the current user's hive.
const wchar_t* const kConfigPath = L"Software\\Tolvek\\Orvane\\Config";

constexpr std::uint32_t kScanResultTimeoutMs = 15000;
constexpr std::uint32_t kConnectTimeoutMs = 10000;
constexpr std::uint32_t kDisconnectTimeoutMs = 5000;

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return n < 0 ? std::string()
                 : std::string(text, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}

std::string narrow(const std::wstring& text) {
    return sys::toNarrow(text);
}

// "<system text> [code]", or the code alone when it has no text.
std::string describe(sys::ErrorCode code) {
    const std::wstring& text = sys::systemMessage(code);
    return text.empty() ? format("[%u]", code) : narrow(text) + format(" [%u]", code);
}

template <typename T> std::optional<T> parseNumber(const std::string& text, T maximum) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > static_cast<std::uint64_t>(maximum)) {
        return std::nullopt;
    }
    return static_cast<T>(value);
}

// "COM5", "com5" or "5".
std::optional<int> parsePort(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && std::equal(digits.begin(), digits.begin() + 3, "COM", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        })) {
        digits = digits.substr(3);
    }
    const auto port = parseNumber<int>(digits, 255);
    if (!port || *port == 0) {
        return std::nullopt;
    }
    return port;
}

std::string firmwareText(const device::OrvaneDeviceState& state) {
    return format("%u.%u.%u.%u", state.firmwareMajor(), state.firmwareMinor(), state.firmwareReleaseType(),
                  state.firmwareBuild());
}

} // namespace

FlashCommand::FlashCommand(std::ostream& out, std::ostream& err, std::istream& in, bool progressBar,
                           device::SerialPortEnumerator ports)
    : _out(out), _err(err), _in(in), _progress(out, progressBar), _ports(std::move(ports)) {}

FlashCommand::~FlashCommand() = default;

bool FlashCommand::isTerminal(const std::ostream& out) {
    return &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
}

bool FlashCommand::parse(const std::vector<std::string>& args, Options& options, std::ostream& err) {
    options = Options{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--port") {
            const auto port = hasValue ? parsePort(args[++i]) : std::nullopt;
            if (!port) {
                err << "orvanectl flash: --port takes a port such as COM5 (1 to 255)\n";
                return false;
            }
            options.port = *port;
        } else if (arg == "--serial") {
            const auto serial = hasValue ? parseNumber<std::uint16_t>(args[++i], 65535) : std::nullopt;
            if (!serial) {
                err << "orvanectl flash: --serial takes the device's serial number, 1 to 65535\n";
                return false;
            }
            options.serial = *serial;
        } else if (arg == "--bootloader") {
            options.bootloader = true;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "orvanectl flash: unknown option '" << arg << "'\n";
            return false;
        } else if (!options.image.empty()) {
            err << "orvanectl flash: give one firmware image\n";
            return false;
        } else {
            options.image = arg;
        }
    }
    if (options.image.empty()) {
        err << "orvanectl flash: give the firmware image, such as orvanectl flash firmware.hex\n";
        return false;
    }
    if (options.bootloader && options.port == 0) {
        // A device without application firmware does not answer a scan.
        err << "orvanectl flash: --bootloader needs the port, such as --port COM5\n";
        return false;
    }
    return true;
}

int FlashCommand::run(const std::vector<std::string>& args) {
    Options options;
    if (!parse(args, options, _err)) {
        return kUsage;
    }
    return run(options);
}

int FlashCommand::run(const Options& options) {
    _options = options;
    _port = options.port;
    _seen.clear();
    _next = 0;

    // The image is read before the device is touched, so that a file that cannot
    // be used never leaves the device in its bootloader.
    std::vector<std::wstring> reason;
    if (const sys::ErrorCode code = HexInfoCommand::load(_image, options.image, reason)) {
        HexInfoCommand::printRefusal(_err, "orvanectl flash: ", options.image, code, reason);
        return kUnreadable;
    }
    printImage(_image.infoBlock());
    if ((!options.serial && _image.infoBlock().serialNo == 0) || (options.serial && *options.serial == 0)) {
        return refuseSerial();
    }

    // Not found on a first run, and a damaged file is set aside: defaults serve.
    ConfigMgr::instance().open(kConfigPath);

    comm::PortHandle port;
    const int acquired = options.bootloader ? openBootloaderPort(port) : handOverFromDevice(port);
    if (acquired != kUpdated) {
        return acquired;
    }
    return update(std::move(port));
}

int FlashCommand::refuseSerial() {
    error("the image carries serial number 0; give the device's serial number with --serial N (1 to 65535). "
          "Nothing was changed.");
    return kRefused;
}

// ---------------------------------------------------------------------------
// Finding the device

bool FlashCommand::readLineSettings(bootloader::BootloaderPort::LineSettings& settings) {
    device::OrvaneInterface* link = nullptr;
    if (device::getInterface(device::OrvaneInterfaceId::Orvane, &link) != sys::ERROR_SUCCESS ||
        link == nullptr) {
        error("the device link is not available");
        return false;
    }
    ConfigMgr& config = ConfigMgr::instance();
    // A key that is not set takes its default, for this run only.
    const auto read = [&](const OrvaneConfigKey& key, std::int32_t& value) {
        const std::wstring name = key.fullName(link->name());
        try {
            if (!config.contains(name)) {
                config.define(name, key.defaultValue(), true);
            }
            if (config.getInt(name, value)) {
                return true;
            }
        } catch (const boost::bad_get&) {
        } catch (const boost::bad_lexical_cast&) {
        }
        error("the setting " + narrow(name) + " is not a number; correct or remove it");
        return false;
    };
    std::int32_t baud = 0, dataBits = 0, parity = 0, stopBits = 0, flow = 0;
    if (!read(OrvaneConfigKey::SerialBaudRate, baud) || !read(OrvaneConfigKey::SerialDataBits, dataBits) ||
        !read(OrvaneConfigKey::SerialParity, parity) || !read(OrvaneConfigKey::SerialStopBits, stopBits) ||
        !read(OrvaneConfigKey::SerialFlowControl, flow)) {
        return false;
    }
    const auto invalid = [&](const OrvaneConfigKey& key, std::int32_t value, const char* what) {
        error(format("the setting %s holds %d, which is no %s; correct or remove it",
                     narrow(key.fullName(link->name())).c_str(), static_cast<int>(value), what));
        return false;
    };
    if (comm::BaudRate::fromValue(baud) == nullptr) {
        return invalid(OrvaneConfigKey::SerialBaudRate, baud, "baud rate");
    }
    if (comm::DataBits::fromValue(dataBits) == nullptr) {
        return invalid(OrvaneConfigKey::SerialDataBits, dataBits, "number of data bits");
    }
    settings.parity = comm::Parity::fromValue(parity);
    if (settings.parity == nullptr) {
        return invalid(OrvaneConfigKey::SerialParity, parity, "parity");
    }
    settings.stopBits = comm::StopBits::fromValue(stopBits);
    if (settings.stopBits == nullptr) {
        return invalid(OrvaneConfigKey::SerialStopBits, stopBits, "number of stop bits");
    }
    settings.flowControl = comm::FlowControl::fromValue(flow);
    if (settings.flowControl == nullptr) {
        return invalid(OrvaneConfigKey::SerialFlowControl, flow, "flow control");
    }
    settings.baudRate = static_cast<std::uint32_t>(baud);
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    return true;
}

int FlashCommand::openBootloaderPort(comm::PortHandle& port) {
    bootloader::BootloaderPort::LineSettings settings;
    if (!readLineSettings(settings)) {
        return kUsage;
    }
    _progress.line(format("Opening COM%d at %u baud for the bootloader...", _port, settings.baudRate));
    if (const sys::ErrorCode code = bootloader::BootloaderPort::open(_port, settings, port)) {
        error(format("COM%d cannot be opened: ", _port) + describe(code));
        return kNoDevice;
    }
    return kUpdated;
}

int FlashCommand::handOverFromDevice(comm::PortHandle& port) {
    bootloader::BootloaderPort::LineSettings settings;
    if (!readLineSettings(settings)) {
        return kUsage;
    }
    device::OrvaneInterface* link = nullptr;
    device::getInterface(device::OrvaneInterfaceId::Orvane, &link);
    link->registerConfiguration();
    // Settings the window would repair without asking are repaired for this run.
    if (link->validateConfiguration() == OrvaneConfigKey::GroupLink) {
        link->setDefaultConfiguration(OrvaneConfigKey::GroupLink);
    }
    if (const sys::ErrorCode code = link->initialize()) {
        error("the device link cannot start: " + describe(code));
        return kNoDevice;
    }
    std::int32_t found = 0;
    if (const int code = findDevice(*link, found); code != kUpdated) {
        closeLink(*link);
        return code;
    }
    _port = found;
    if (!confirm(link->deviceState(), found)) {
        closeLink(*link);
        _progress.line("Nothing was changed.");
        return kDeclined;
    }
    _progress.line(format("Switching the device on COM%d to its bootloader...", found));
    if (const sys::ErrorCode code = link->enterBootloader(port)) {
        error(format("the device on COM%d cannot be switched to its bootloader: ", found) + describe(code));
        closeLink(*link);
        return kNoDevice;
    }
    if (!port || !port->isOpen()) {
        error(format("the device link handed over no port for COM%d", found));
        return kNoDevice;
    }
    // The instrument restarts into its bootloader; nothing is expected meanwhile.
    sys::runUntil([] { return false; }, kBootloaderStartMs);
    return kUpdated;
}

int FlashCommand::findDevice(device::OrvaneInterface& link, std::int32_t& found) {
    struct Result {
        std::int32_t port = 0;
        std::uint32_t result = 0;
        bool connect = false;
    };
    std::vector<Result> results;
    auto subscription = link.subscribe([&results](const device::tagNMORVANEHDR* header) {
        if (const auto* scan =
                device::OrvaneNotification::as<device::OrvaneInterrogateNotification>(header)) {
            if (scan->phase != nullptr && *scan->phase == device::OrvaneScanPhase::NotifyScanResult) {
                results.push_back({scan->port, scan->result, false});
            }
        } else if (const auto* connect =
                       device::OrvaneNotification::as<device::OrvaneConnectNotification>(header)) {
            results.push_back({connect->port, connect->result, true});
        }
    });
    const auto awaitResult = [&](bool connect, std::uint32_t timeoutMs) -> std::optional<Result> {
        std::optional<Result> seen;
        sys::runUntil(
            [&] {
                for (auto it = results.begin(); it != results.end(); ++it) {
                    if (it->connect == connect) {
                        seen = *it;
                        results.erase(it);
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return seen;
    };

    std::vector<std::int32_t> candidates;
    if (_port != 0) {
        candidates.push_back(_port);
    } else {
        std::vector<device::SerialPortEntry> ports;
        if (!_ports.enumeratePorts(ports)) {
            error("the serial ports cannot be listed: " + describe(sys::getLastError()));
            return kNoDevice;
        }
        for (const auto& entry : ports) {
            candidates.push_back(entry.portNumber);
        }
        std::sort(candidates.begin(), candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
        if (candidates.empty()) {
            error("no serial ports found");
            return kNoDevice;
        }
    }

    std::int32_t scanArg = 0;
    for (const std::int32_t candidate : candidates) {
        _progress.line(format("Looking for the device on COM%d...", candidate));
        if (const sys::ErrorCode code = link.interrogatePort(candidate, ++scanArg)) {
            error("the port cannot be probed: " + describe(code));
            return kNoDevice;
        }
        const auto result = awaitResult(false, kScanResultTimeoutMs);
        if (result && result->result == sys::ERROR_SUCCESS) {
            found = candidate;
            break;
        }
    }
    if (found == 0) {
        std::string tried;
        for (const auto candidate : candidates) {
            tried += (tried.empty() ? "" : ", ") + format("COM%d", candidate);
        }
        error("no device answered on " + tried +
              ". A device without application firmware is updated with --bootloader --port COM<n>.");
        return kNoDevice;
    }

    _progress.line(format("Connecting to the device on COM%d...", found));
    if (const sys::ErrorCode code = link.connect(found)) {
        error(format("the device on COM%d cannot be connected: ", found) + describe(code));
        return kNoDevice;
    }
    const auto connected = awaitResult(true, kConnectTimeoutMs);
    if (!connected || connected->result != sys::ERROR_SUCCESS) {
        error(format("the device on COM%d did not connect", found) +
              (connected ? ": " + describe(connected->result) : std::string()));
        return kNoDevice;
    }
    subscription.disconnect();
    return kUpdated;
}

bool FlashCommand::confirm(const device::OrvaneDeviceState& state, std::int32_t port) {
    _progress.line(format("Found %s on COM%d: firmware %s, serial number %d.",
                          state.model.empty() ? "a device" : state.model.c_str(), port,
                          firmwareText(state).c_str(), static_cast<int>(state.serialNumber)));
    if (_options.yes) {
        return true;
    }
    _progress.finish();
    _out << format("Update the firmware of the device on COM%d? [y/N] ", port) << std::flush;
    std::string answer;
    const bool read = static_cast<bool>(std::getline(_in, answer));
    // A typed answer is echoed by the terminal; one from a pipe shows in the output.
    if (&_in != &std::cin || ::isatty(STDIN_FILENO) != 1) {
        _out << answer << "\n";
    }
    if (!read) {
        return false;
    }
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

void FlashCommand::closeLink(device::OrvaneInterface& link) {
    if (link.isOpen()) {
        bool disconnected = false;
        auto subscription = link.subscribe([&disconnected](const device::tagNMORVANEHDR* header) {
            disconnected = disconnected || (header != nullptr && header->type != nullptr &&
                                            *header->type == OrvaneNotificationType::NotifyDisconnect);
        });
        if (link.disconnect(device::DisconnectType::Normal, 0) == sys::ERROR_SUCCESS) {
            sys::runUntil([&] { return disconnected; }, kDisconnectTimeoutMs);
        }
        subscription.disconnect();
    }
    link.finalize();
}

// ---------------------------------------------------------------------------
// The update

int FlashCommand::update(comm::PortHandle port) {
    _bootloader = bootloader::BootloaderImpl::init();
    const auto entry = _options.bootloader ? bootloader::BootloaderEntry::FoundInBootloader
                                           : bootloader::BootloaderEntry::FromApplication;
    if (const sys::ErrorCode code = _bootloader->initialize(std::move(port), entry)) {
        error(format("the bootloader cannot take COM%d: ", _port) + describe(code));
        _bootloader->finalize();
        return kNoDevice;
    }
    // initialize() dropped every earlier subscriber; this one goes before the port.
    auto connection = _bootloader->connect([this](const bootloader::tagBLNHDR* header) { onNotify(header); });

    int result = enterBootloader();
    if (result == kUpdated) {
        result = readTargetInfo();
    }
    if (result == kUpdated) {
        result = loadImage();
    }
    if (result == kUpdated) {
        result = checkImage();
    }
    if (result == kUpdated) {
        result = programme();
    }
    _progress.finish();
    connection.disconnect();
    _bootloader->finalize();
    return result;
}

int FlashCommand::enterBootloader() {
    _progress.line("Querying device...");
    _bootloader->enterBootloadMode();
    const auto entered = await(completes(BootloaderNotifyType::EnteredBootloadMode));
    if (!entered || entered->result != sys::ERROR_SUCCESS) {
        error(format("the bootloader on COM%d did not answer", _port) +
              (entered ? ": " + describe(entered->result) : std::string()) + modeHint());
        return kNoDevice;
    }
    return kUpdated;
}

int FlashCommand::readTargetInfo() {
    std::optional<Seen> info;
    // One silent moment right after entering is forgiven, as the update dialog does.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        if (attempt == 2) {
            _progress.line("Querying device(2)...");
        }
        _bootloader->getTargetInfo();
        info = await(completes(BootloaderNotifyType::ReceivedTargetInfo));
        if (info && info->result == sys::ERROR_SUCCESS) {
            break;
        }
    }
    if (!info || info->result != sys::ERROR_SUCCESS) {
        error(format("the bootloader on COM%d did not report its info block", _port) +
              (info ? ": " + describe(info->result) : std::string()) + modeHint());
        leaveBootloader();
        return kNoDevice;
    }
    _bootloader->getInfoBlock(InfoBlockType::BootloaderInfoBlock, _device);
    _bootloader->getInfoBlock(InfoBlockType::TargetInfoBlock, _target);
    return kUpdated;
}

int FlashCommand::loadImage() {
    ErrorLog errors("bootloader::IntelHexFile");
    _bootloader->loadFile(sys::toWide(_options.image));
    const auto loaded = await(completes(BootloaderNotifyType::LoadSource));
    if (!loaded || loaded->result != sys::ERROR_SUCCESS ||
        !_bootloader->getInfoBlock(InfoBlockType::SourceInfoBlock, _source)) {
        const sys::ErrorCode code = loaded ? loaded->result : sys::ERROR_TIMEOUT;
        std::vector<std::wstring> reason;
        for (auto& message : errors.take()) {
            if (message != sys::systemMessage(code)) {
                reason.push_back(std::move(message));
            }
        }
        HexInfoCommand::printRefusal(_err, "orvanectl flash: ", _options.image, code, reason);
        leaveBootloader();
        return kUnreadable;
    }
    return kUpdated;
}

int FlashCommand::checkImage() {
    UpdateCheck::Buttons buttons = _check.refresh(_bootloader->getState(), _device, &_source);
    printTable();
    if (_check.markedCount() != 0) {
        error("the image does not fit this device:");
        for (const auto& mismatch : _check.mismatches()) {
            _err << "  " << narrow(mismatch.reason) << "\n";
        }
        leaveBootloader();
        _err << "Nothing was erased.\n";
        return kRefused;
    }
    if (_options.serial) {
        if (const sys::ErrorCode code = _bootloader->setSerialNumber(*_options.serial)) {
            error("the serial number cannot be written into the image: " + describe(code));
            leaveBootloader();
            return kUnreadable;
        }
        _bootloader->getInfoBlock(InfoBlockType::SourceInfoBlock, _source);
        buttons = _check.refresh(_bootloader->getState(), _device, &_source);
        _progress.line(format("Serial number %u written into the image.", unsigned{_source.serialNo}));
    }
    if (!buttons.update) {
        leaveBootloader();
        return refuseSerial();
    }
    return kUpdated;
}

int FlashCommand::programme() {
    const std::uint32_t pageSize = _device.pageSize();
    _bootloader->eraseTarget();
    const auto erased = await(completes(BootloaderNotifyType::EraseTarget));
    if (!erased || erased->result != sys::ERROR_SUCCESS) {
        if (erased && erased->state == BootloaderNotifyState::Initiated.value()) {
            return failed(format("erasing the signature page 0x%06x", _device.appEnd - pageSize + 1));
        }
        const std::uint32_t page = (_device.appStart / pageSize) + (erased ? erased->current : 0);
        return failed(format("erasing page 0x%06x", page * pageSize));
    }

    _bootloader->writeTarget();
    const auto written = await(completes(BootloaderNotifyType::WriteTarget));
    if (!written || written->result != sys::ERROR_SUCCESS) {
        // The record counts the blocks of the pages that were written and verified.
        const std::uint32_t perPage =
            std::max<std::uint32_t>(1, _source.pageSize() / std::max<std::uint32_t>(1, _source.bufferSize()));
        const std::uint32_t index = written ? written->current / perPage : 0;
        const auto& pages = _image.pages();
        if (index < pages.size()) {
            const auto page = std::next(pages.begin(), index);
            return failed(
                format("writing page 0x%06x (page %u of %u; the pages before it were written and verified)",
                       page->first << _source.pageSizeCode, index + 1, static_cast<unsigned>(pages.size())));
        }
        return failed("writing the image");
    }
    const auto signed_ = await(completes(BootloaderNotifyType::WriteTarget));
    if (!signed_ || signed_->result != sys::ERROR_SUCCESS) {
        return failed("writing the application signature (every page was written and verified)");
    }
    _progress.line(format("All %u pages written and verified.", _image.pageCount()));

    _bootloader->resetTarget();
    const auto reset = await(completes(BootloaderNotifyType::ResetTarget));
    if (!reset || reset->result != sys::ERROR_SUCCESS) {
        error("the image was written and verified, but the device did not acknowledge the reset" +
              (reset ? ": " + describe(reset->result) : std::string()) + ". Power the device off and on.");
        return kFailed;
    }
    _progress.line(format("Firmware %s installed on COM%d; the device restarts.",
                          narrow(_source.version.text()).c_str(), _port));
    return kUpdated;
}

int FlashCommand::failed(const std::string& what) {
    error("the update failed while " + what + ".");
    // The application is gone, so the device stays in its bootloader: say whether
    // that still answers.
    _bootloader->getTargetInfo();
    const auto info = await(completes(BootloaderNotifyType::ReceivedTargetInfo));
    if (info && info->result == sys::ERROR_SUCCESS) {
        _err << format("The bootloader still answers on COM%d, so the update can be run again:\n  ", _port)
             << rerunHint() << "\n";
    } else {
        _err << format("The bootloader on COM%d does not answer any more", _port)
             << (info ? " (" + describe(info->result) + ")" : std::string())
             << ". Check the cable and the power, then run the update again:\n  " << rerunHint() << "\n";
    }
    return kFailed;
}

void FlashCommand::leaveBootloader() {
    // Before any erase this gives an application back its signature, then resets.
    _bootloader->cancelBootloadMode();
    const auto left = await([](const Seen& s) {
        return s.type == BootloaderNotifyType::ResetTarget.value() ||
               (s.type == BootloaderNotifyType::WriteTarget.value() && s.result != sys::ERROR_SUCCESS);
    });
    if (left && left->type == BootloaderNotifyType::ResetTarget.value() &&
        left->result == sys::ERROR_SUCCESS) {
        _progress.line("The device was reset.");
    } else {
        error("the device did not take the reset" + (left ? ": " + describe(left->result) : std::string()) +
              "; power it off and on");
    }
}

// ---------------------------------------------------------------------------
// Notifications (user-interface thread)

void FlashCommand::onNotify(const bootloader::tagBLNHDR* header) {
    if (header == nullptr) {
        return;
    }
    Seen seen{header->type.value(), header->state.value(), header->result, 0, 0};
    if (const auto* progress = bootloader::BootloaderProgress::of(header)) {
        seen.current = progress->current;
        seen.total = progress->total;
    }
    _seen.push_back(seen);

    const char* title = nullptr;
    const char* running = nullptr;
    if (header->type == BootloaderNotifyType::LoadSource) {
        title = "Reading file";
        running = "Processing line %u of %u";
    } else if (header->type == BootloaderNotifyType::EraseTarget) {
        title = "Erasing Target";
        running = "Erasing page %u of %u";
    } else if (header->type == BootloaderNotifyType::WriteTarget) {
        title = "Writing Target";
        running = "Writing flash block %u of %u";
    } else {
        return;
    }
    if (header->state == BootloaderNotifyState::Initiated) {
        if (header->result == sys::ERROR_SUCCESS) {
            _progress.begin(title, seen.total);
        }
    } else if (header->state == BootloaderNotifyState::Running) {
        // The erase announces its start as page 0.
        if (seen.current != 0) {
            _progress.update(format(running, seen.current, seen.total), seen.current);
        }
    } else if (header->state == BootloaderNotifyState::Completed) {
        _progress.finish();
    }
}

std::optional<FlashCommand::Seen> FlashCommand::await(const Match& match) {
    for (;;) {
        while (_next < _seen.size()) {
            const Seen seen = _seen[_next++];
            if (match(seen)) {
                return seen;
            }
        }
        const std::size_t before = _seen.size();
        if (!sys::runUntil([&] { return _seen.size() > before; }, kIdleTimeoutMs)) {
            error("the bootloader stopped reporting");
            return std::nullopt;
        }
    }
}

FlashCommand::Match FlashCommand::completes(const BootloaderNotifyType& type) {
    const int value = type.value();
    // A step ends with its Completed record, or a plain record for the single
    // exchanges; a load or an erase that fails at once ends with a failed Initiated.
    return [value](const Seen& s) {
        return s.type == value && (s.state == BootloaderNotifyState::Completed.value() ||
                                   s.state == BootloaderNotifyState::None.value() ||
                                   (s.state == BootloaderNotifyState::Initiated.value() && s.result != 0));
    };
}

// ---------------------------------------------------------------------------
// Output

void FlashCommand::printTable() {
    const bool application = UpdateCheck::hasApplication(_target);
    std::ostringstream table;
    table << std::left << std::setw(18) << "Field";
    for (const auto& [id, column] : InfoColumn::registry()) {
        table << std::setw(22) << narrow(column->name());
    }
    table << "\n";
    for (const auto& [rowId, row] : FieldRow::registry()) {
        table << std::setw(18) << narrow(row->name());
        for (const auto& [columnId, column] : InfoColumn::registry()) {
            const bootloader::InfoBlock& block = *column == InfoColumn::Bootloader ? _device
                                                 : *column == InfoColumn::Target   ? _target
                                                                                   : _source;
            std::string text;
            if (*column != InfoColumn::Target || application) {
                text = narrow(UpdateCheck::cellText(*column, *row, block));
            }
            if (_check.isMarked(*column, *row)) {
                text = "*" + text + "*";
            }
            table << std::setw(22) << text;
        }
        table << "\n";
    }
    _progress.finish();
    std::istringstream lines(table.str());
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        _out << line << "\n";
    }
    if (!application) {
        _out << "The device reports no application firmware.\n";
    }
    if (_check.markedCount() != 0) {
        _out << "Cells between * do not fit the device.\n";
    }
    _out << std::flush;
}

void FlashCommand::printImage(const bootloader::InfoBlock& block) const {
    _out << format("Image %s: firmware %s for product %u, ", _options.image.c_str(),
                   narrow(block.version.text()).c_str(), unsigned{block.productCode})
         << (block.serialNo == 0 ? std::string("no serial number")
                                 : format("serial number %u", unsigned{block.serialNo}))
         << format(", %u pages from 0x%06x to 0x%06x.\n", _image.pageCount(), block.appStart, block.appEnd)
         << std::flush;
}

void FlashCommand::error(const std::string& text) {
    // A bar in progress keeps its line; the complaint starts on a new one.
    _progress.finish();
    _err << "orvanectl flash: " << text << "\n" << std::flush;
}

std::string FlashCommand::modeHint() const {
    // An application's sentences can pass for a bootloader's first answer, so
    // either failure may mean the device was never in its bootloader.
    if (_options.bootloader) {
        return ". If the device runs its application firmware, leave out --bootloader.";
    }
    // The device was told to start its bootloader and may be waiting there.
    return ". If the device stays in its bootloader, run: " + rerunHint();
}

std::string FlashCommand::rerunHint() const {
    std::string hint = format("orvanectl flash %s --bootloader --port COM%d", _options.image.c_str(), _port);
    if (_options.serial) {
        hint += format(" --serial %u", unsigned{*_options.serial});
    }
    return hint;
}

} // namespace cli
