#include "cli/FlashCommand.h"

#include "bootloader/BootloaderImpl.h"
#include "bootloader/BootloaderNotification.h"
#include "bootloader/BootloaderNotifyState.h"
#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "cli/CommandLine.h"
#include "cli/DeviceScan.h"
#include "cli/DeviceSession.h"
#include "cli/ErrorLog.h"
#include "cli/HexInfoCommand.h"
#include "cli/PortAccess.h"
#include "cli/PortSelection.h"
#include "cli/Terminal.h"
#include "device/DisconnectType.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneNotificationType.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <cctype>
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
using device::OrvaneNotificationType;

namespace {

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

std::string describe(sys::ErrorCode code) {
    return DeviceSession::describe(code);
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
    return &out == &std::cout && Terminal::isTerminal(STDOUT_FILENO);
}

const char* FlashCommand::usage() {
    return "flash FILE.hex [--port COM<n>] [--bootloader] [--serial N] [-y|--yes]\n"
           "    Update the instrument's firmware: find the device (on --port, else on every port),\n"
           "    ask (--yes: don't), and program the image. --bootloader opens --port for a device\n"
           "    that has no application firmware; --serial writes the device's serial number\n"
           "    (1 to 65535) into the image (needed when the image has none). Ctrl-C during the\n"
           "    erase or the writing stops at the next page or block, leaves the device in its\n"
           "    bootloader and says how to finish with --bootloader.\n"
           "    Exit 0: updated; 1: no device or no bootloader answered; 2: bad usage, bad port\n"
           "    settings, or a port you may not open or that another program holds; 3: the image\n"
           "    does not fit the device (nothing erased); 4: the image cannot be read; 5: the update\n"
           "    failed or was interrupted (run it again with --bootloader); 6: declined, or\n"
           "    interrupted before anything was erased.\n";
}

std::optional<int> FlashCommand::parse(const std::vector<std::string>& args, Options& options,
                                       std::ostream& out, std::ostream& err) {
    options = Options{};
    CommandLine line(CommonOptions::with(
        {{"help", 'h', false}, {"bootloader", 0, false}, {"serial", 0, true}, {"yes", 'y', false}}));
    if (!line.parse(args)) {
        err << "orvanectl flash: " << line.error() << " (see orvanectl flash --help)\n";
        return kUsage;
    }
    if (line.has("help")) {
        out << "Usage: orvanectl " << usage() << "\n" << CommonOptions::usageText();
        return 0;
    }
    if (const auto error = options.common.take(line)) {
        err << "orvanectl flash: " << *error << "\n";
        return kUsage;
    }
    options.port = options.common.port.value_or(0);
    if (const auto text = line.value("serial")) {
        // 0 is what an image without a serial number carries, never a device's number.
        options.serial = CommandLine::number<std::uint16_t>(*text, 1, 65535);
        if (!options.serial) {
            err << "orvanectl flash: --serial takes the device's serial number, 1 to 65535\n";
            return kUsage;
        }
    }
    options.bootloader = line.has("bootloader");
    options.yes = line.has("yes");
    if (line.operands().size() > 1) {
        err << "orvanectl flash: give one firmware image\n";
        return kUsage;
    }
    if (line.operands().empty() || line.operands().front().empty()) {
        err << "orvanectl flash: give the firmware image, such as orvanectl flash firmware.hex\n";
        return kUsage;
    }
    options.image = line.operands().front();
    if (options.bootloader && options.port == 0) {
        // A device without application firmware does not answer a scan.
        err << "orvanectl flash: --bootloader needs the port, such as --port COM5\n";
        return kUsage;
    }
    return std::nullopt;
}

int FlashCommand::run(const std::vector<std::string>& args) {
    Options options;
    if (const auto code = parse(args, options, _out, _err)) {
        return *code;
    }
    return run(options);
}

int FlashCommand::run(const Options& options) {
    _options = options;
    _port = options.port;
    _seen.clear();
    _next = 0;
    _stopped = false;

    // The image is read before the device is touched, so that a file that cannot
    // be used never leaves the device in its bootloader.
    std::vector<std::wstring> reason;
    if (const sys::ErrorCode code = HexInfoCommand::load(_image, options.image, reason)) {
        HexInfoCommand::printRefusal(_err, "orvanectl flash: ", options.image, code, reason);
        return kUnreadable;
    }
    printImage(_image.infoBlock());
    if (!options.serial && _image.infoBlock().serialNo == 0) {
        return refuseSerial();
    }

    DeviceSession session(options.common, _err, "flash");
    if (session.open(options.bootloader ? DeviceSession::Link::SettingsOnly : DeviceSession::Link::Start) !=
        sys::ERROR_SUCCESS) {
        return kUsage;
    }
    comm::PortHandle port;
    const int acquired =
        options.bootloader ? openBootloaderPort(session, port) : handOverFromDevice(session, port);
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

int FlashCommand::openBootloaderPort(DeviceSession& session, comm::PortHandle& port) {
    bootloader::BootloaderPort::LineSettings settings;
    if (!session.settings().lineSettings(settings, _err, session.prefix())) {
        return kUsage;
    }
    const PortSelection selection = PortSelection::choose(_ports, _port, _err, "flash");
    if (selection.failed) {
        return kUsage;
    }
    _progress.line(format("Opening COM%d at %u baud for the bootloader...", _port, settings.baudRate));
    if (const sys::ErrorCode code = bootloader::BootloaderPort::open(_port, settings, port)) {
        const std::string why = PortAccess::explain(_port, _ports.devicePathForPort(_port), code);
        if (!why.empty()) {
            error(why);
            return kUsage;
        }
        error(format("COM%d cannot be opened: ", _port) + describe(code));
        return kNoDevice;
    }
    return kUpdated;
}

int FlashCommand::handOverFromDevice(DeviceSession& session, comm::PortHandle& port) {
    device::OrvaneInterface& link = session.device();
    std::int32_t found = 0;
    if (const int code = findDevice(session, found); code != kUpdated) {
        closeLink(link);
        return code;
    }
    _port = found;
    if (!confirm(link.deviceState(), found) || DeviceSession::interrupted()) {
        closeLink(link);
        _progress.line(DeviceSession::interrupted() ? "Interrupted. Nothing was changed."
                                                    : "Nothing was changed.");
        return kDeclined;
    }
    _progress.line(format("Switching the device on COM%d to its bootloader...", found));
    if (const sys::ErrorCode code = link.enterBootloader(port)) {
        error(format("the device on COM%d cannot be switched to its bootloader: ", found) + describe(code));
        closeLink(link);
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

int FlashCommand::findDevice(DeviceSession& session, std::int32_t& found) {
    const PortSelection selection =
        PortSelection::choose(_ports, _port == 0 ? std::nullopt : std::optional(_port), _err, "flash");
    if (selection.failed) {
        return kUsage;
    }
    if (selection.ports.empty()) {
        error("no serial ports found");
        return kNoDevice;
    }
    device::OrvaneInterface& link = session.device();
    DeviceScan scan(link, _ports, _err, session.prefix());
    const auto outcome = scan.find(selection, [this](std::int32_t port) {
        _progress.line(format("Looking for the device on COM%d...", port));
    });
    switch (outcome) {
    case DeviceScan::Outcome::Found:
        break;
    case DeviceScan::Outcome::Interrupted:
        _progress.line("Interrupted. Nothing was changed.");
        return kDeclined;
    case DeviceScan::Outcome::Blocked:
    case DeviceScan::Outcome::Failed:
        return kUsage;
    case DeviceScan::Outcome::NotFound: {
        std::string tried;
        for (const auto& entry : selection.ports) {
            tried += (tried.empty() ? "" : ", ") + format("COM%d", entry.portNumber);
        }
        error("no device answered on " + tried +
              ". A device without application firmware is updated with --bootloader --port COM<n>.");
        return kNoDevice;
    }
    }
    found = scan.port();

    std::optional<std::uint32_t> connected;
    auto subscription = link.subscribe([&connected, found](const device::tagNMORVANEHDR* header) {
        const auto* record = device::OrvaneNotification::as<device::OrvaneConnectNotification>(header);
        if (record != nullptr && record->port == found) {
            connected = record->result;
        }
    });
    _progress.line(format("Connecting to the device on COM%d...", found));
    if (const sys::ErrorCode code = link.connect(found)) {
        error(format("the device on COM%d cannot be connected: ", found) + describe(code));
        return kNoDevice;
    }
    sys::runUntil([&] { return connected.has_value() || DeviceSession::interrupted(); }, kConnectTimeoutMs);
    subscription.disconnect();
    if (!connected && DeviceSession::interrupted()) {
        _progress.line("Interrupted. Nothing was changed.");
        return kDeclined;
    }
    if (!connected || *connected != sys::ERROR_SUCCESS) {
        error(format("the device on COM%d did not connect", found) +
              (connected ? ": " + describe(*connected) : std::string()));
        return kNoDevice;
    }
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
    // Ctrl-C ends the wait for an answer: the stop signals do not restart reads.
    const bool read = static_cast<bool>(std::getline(_in, answer));
    // A typed answer is echoed by the terminal; one from a pipe shows in the output.
    if (&_in != &std::cin || ::isatty(STDIN_FILENO) != 1) {
        _out << answer << "\n";
    } else if (!read) {
        _out << "\n";
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

    // Until the erase, Ctrl-C is answered between the steps: each is short, and the
    // device can still be given back as it was.
    int result = enterBootloader();
    if (result == kUpdated && DeviceSession::interrupted()) {
        result = interruptedBeforeErase();
    }
    if (result == kUpdated) {
        result = readTargetInfo();
    }
    if (result == kUpdated && DeviceSession::interrupted()) {
        result = interruptedBeforeErase();
    }
    if (result == kUpdated) {
        result = loadImage();
    }
    if (result == kUpdated) {
        result = checkImage();
    }
    if (result == kUpdated && DeviceSession::interrupted()) {
        result = interruptedBeforeErase();
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
    const auto erased = await(completes(BootloaderNotifyType::EraseTarget), true);
    if (_stopped && (!erased || erased->result != sys::ERROR_SUCCESS)) {
        return interruptedWhile(format("erasing (after page %u of %u)", _last.current, _last.total));
    }
    if (!erased || erased->result != sys::ERROR_SUCCESS) {
        if (erased && erased->state == BootloaderNotifyState::Initiated.value()) {
            return failed(format("erasing the signature page 0x%06x", _device.appEnd - pageSize + 1));
        }
        const std::uint32_t page = (_device.appStart / pageSize) + (erased ? erased->current : 0);
        return failed(format("erasing page 0x%06x", page * pageSize));
    }
    if (DeviceSession::interrupted()) {
        return interruptedWhile("erasing (the erase was complete)");
    }

    _bootloader->writeTarget();
    const auto written = await(completes(BootloaderNotifyType::WriteTarget), true);
    if (_stopped && (!written || written->result != sys::ERROR_SUCCESS)) {
        return interruptedWhile(
            format("writing the image (after block %u of %u)", _last.current, _last.total));
    }
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
    // Every page was written and verified: the signature and the reset that follow
    // complete a sound image, so a late Ctrl-C lets them finish.
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
    if (DeviceSession::interrupted()) {
        _progress.line(
            "(Ctrl-C came after every page was written and verified, so the update was finished.)");
    }
    return kUpdated;
}

int FlashCommand::interruptedBeforeErase() {
    _progress.finish();
    _err << "orvanectl flash: interrupted before anything was erased.\n";
    leaveBootloader();
    return kDeclined;
}

int FlashCommand::interruptedWhile(const std::string& what) {
    // The bootloader stopped before its next page or block; a step that stopped
    // signs nothing.
    error("interrupted while " + what + "; nothing more is written and the image is not signed.");
    _err << format("The device waits in its bootloader on COM%d. To finish the update, run:\n  ", _port)
         << rerunHint() << "\n";
    return kFailed;
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

std::optional<FlashCommand::Seen> FlashCommand::await(const Match& match, bool interruptible) {
    for (;;) {
        while (_next < _seen.size()) {
            const Seen seen = _seen[_next++];
            if (match(seen)) {
                return seen;
            }
            if (interruptible && !_stopped && DeviceSession::interrupted()) {
                _stopped = true;
                _last = seen;
                _bootloader->requestStop();
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
