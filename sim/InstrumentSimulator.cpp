#include "sim/InstrumentSimulator.h"

#include "bootloader/InfoBlock.h"
#include "bootloader/TargetInfoReply.h"
#include "device/FramingCharacter.h"
#include "device/OrvaneMessage.h"
#include "sim/FactoryFirmware.h"
#include "sim/PortPublisher.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

using namespace wyr::windows::system;
using device::FramingCharacter;
using device::OrvaneMessage;

namespace {

constexpr char STX = '\x02';
constexpr char ETX = '\x03';
constexpr char EOT = '\x04';
// Longer than any valid sentence, so that a receiver has to give it up.
constexpr std::size_t kOverlongLength = 4096;
// A command sentence never comes close; anything longer is noise.
constexpr std::size_t kMaximumCommand = 64;

std::string hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFU);
    return text;
}

// Sentences are protocol, not text for people: never in the process's locale.
std::string formatFloat(double value) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(text, end) : std::string("0.000");
}

} // namespace

InstrumentSimulator::InstrumentSimulator(InstrumentSettings settings, FaultSettings faults)
    : _settings(std::move(settings)), _faults(std::move(faults)),
      _antennaDisconnected(_settings.antennaDisconnected) {
    _status.frameRate = _settings.frameRate;
    _status.gain = _settings.gain;
    _status.firmwareVersion = _settings.firmwareVersion;
    _status.serialNumber = _settings.serialNumber;
}

InstrumentSimulator::~InstrumentSimulator() {
    stop();
}

ErrorCode InstrumentSimulator::start(int comNumber) {
    if (const ErrorCode error = prepareFlash(); error != ERROR_SUCCESS) {
        setLastError(error);
        return error;
    }
    _master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!_master || ::grantpt(_master.get()) != 0 || ::unlockpt(_master.get()) != 0) {
        const ErrorCode error = setLastErrorFromErrno();
        closePort();
        return error;
    }
    char name[128] = {};
    if (::ptsname_r(_master.get(), name, sizeof name) != 0) {
        const ErrorCode error = setLastErrorFromErrno();
        closePort();
        return error;
    }
    _devicePath = name;
    _slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!_slave) {
        const ErrorCode error = setLastErrorFromErrno();
        closePort();
        return error;
    }
    termios tio{};
    ::tcgetattr(_slave.get(), &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(_slave.get(), TCSANOW, &tio);

    const ErrorCode published = PortPublisher::publish(_devicePath, comNumber, _comNumber, _linkPath);
    if (published != ERROR_SUCCESS) {
        closePort();
        return published;
    }
    _stop.reset();
    _unplug.reset();
    _thread = std::thread([this] { run(); });
    return ERROR_SUCCESS;
}

void InstrumentSimulator::stop() {
    _stop.set();
    if (_thread.joinable()) {
        _thread.join();
    }
    closePort();
}

void InstrumentSimulator::closePort() {
    PortPublisher::withdraw(_linkPath, _devicePath);
    std::lock_guard guard(_lock);
    _slave.reset();
    _master.reset();
    // Releases the flash file, so that a restarted simulator can take it.
    _bootloader.reset();
    _flash.reset();
}

ErrorCode InstrumentSimulator::prepareFlash() {
    const BootloaderSettings& device = _settings.bootloader;
    if (!SimulatedBootloader::settingsProblem(device).empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    auto flash = std::make_unique<EmulatedFlash>(device.appStart, device.appEnd,
                                                 bootloader::sizeFromCode(device.pageSizeCode));
    bool fresh = true;
    if (!device.flashFile.empty()) {
        const ErrorCode loaded = flash->load(device.flashFile);
        if (loaded != ERROR_SUCCESS && loaded != ERROR_FILE_NOT_FOUND) {
            return loaded;
        }
        fresh = loaded == ERROR_FILE_NOT_FOUND;
    }
    if (fresh) {
        // A device without application firmware has a blank flash.
        if (!device.startInBootloader) {
            if (const ErrorCode error = FactoryFirmware::install(*flash, _settings); error != ERROR_SUCCESS) {
                return error;
            }
        }
        if (!device.flashFile.empty()) {
            if (const ErrorCode error = flash->create(device.flashFile); error != ERROR_SUCCESS) {
                return error;
            }
        }
    }
    SimulatedBootloader::Hooks hooks;
    hooks.reply = [this](const SimulatedBootloader::Bytes& bytes) { onBootloaderReply(bytes); };
    hooks.reset = [this] { boot(); };
    hooks.unplug = [this] { pullPlug(); };
    _flash = std::move(flash);
    if (device.interruptedUpdate && _flash->signature()) {
        if (const ErrorCode error = _flash->setSignature(false); error != ERROR_SUCCESS) {
            return error;
        }
    }
    _bootloader = std::make_unique<SimulatedBootloader>(device, _faults, *_flash, std::move(hooks));
    // Like the device, power-up starts the application exactly when it is signed.
    boot();
    return ERROR_SUCCESS;
}

void InstrumentSimulator::boot() {
    const bool application = _bootloader->applicationValid();
    std::string version = _settings.firmwareVersion;
    std::int32_t serial = _settings.serialNumber;
    if (application) {
        // The factory application reports the configured identity as given; any
        // other application reports what its info block says.
        const auto block = _bootloader->applicationBlock();
        if (block != FactoryFirmware::infoBlock(_settings)) {
            using bootloader::TargetInfoReply;
            auto decoded = TargetInfoReply::emptyBlock(bootloader::InfoBlockType::TargetInfoBlock);
            TargetInfoReply::parseInfoBlock(block, decoded);
            version = toNarrow(decoded.version.text());
            serial = decoded.serialNo;
        }
    }
    _bootloader->restart();
    std::lock_guard guard(_lock);
    _receive.clear();
    _status.inBootloader = !application;
    // A restart: streaming stops, power-on settings return.
    _status.streaming = false;
    _status.frameRate = _settings.frameRate;
    _status.gain = _settings.gain;
    if (application) {
        _status.firmwareVersion = version;
        _status.serialNumber = serial;
    }
}

void InstrumentSimulator::onBootloaderReply(const SimulatedBootloader::Bytes& bytes) {
    if (_faults.bootloaderDelayMs > 0) {
        // A slow bootloader, but never slower than a stop.
        pollfd stop{_stop.waitDescriptor(), POLLIN, 0};
        ::poll(&stop, 1, static_cast<int>(_faults.bootloaderDelayMs));
        if (_stop.isSignalled()) {
            return;
        }
    }
    writeRaw(std::string(bytes.begin(), bytes.end()));
}

void InstrumentSimulator::unplug() {
    // The simulator's own thread closes the descriptors: it may be polling them.
    if (_thread.joinable()) {
        _unplug.set();
    } else {
        pullPlug();
    }
}

void InstrumentSimulator::pullPlug() {
    PortPublisher::withdraw(_linkPath, _devicePath);
    std::lock_guard guard(_lock);
    // Closing the master hangs up every open slave descriptor, as an unplugged adapter does.
    _slave.reset();
    _master.reset();
}

void InstrumentSimulator::setHeartbeats(bool enabled) {
    std::lock_guard guard(_lock);
    _heartbeats = enabled;
}

void InstrumentSimulator::setAntennaDisconnected(bool disconnected) {
    std::lock_guard guard(_lock);
    _antennaDisconnected = disconnected;
}

InstrumentSimulator::Status InstrumentSimulator::status() const {
    std::lock_guard guard(_lock);
    return _status;
}

void InstrumentSimulator::run() {
    const auto started = Clock::now();
    auto nextHeartbeat = started + std::chrono::milliseconds(_settings.heartbeatPeriodMs);
    auto nextReading = started;
    for (;;) {
        const auto now = Clock::now();
        int masterFd = -1;
        bool streaming = false;
        unsigned frameRate = 0;
        {
            std::lock_guard guard(_lock);
            masterFd = _master.get();
            streaming = _status.streaming && !_status.inBootloader;
            frameRate = _status.frameRate;
        }
        if (masterFd >= 0 &&
            (_unplug.isSignalled() || (_faults.unplugAfterMs >= 0 &&
                                       now - started >= std::chrono::milliseconds(_faults.unplugAfterMs)))) {
            pullPlug();
            masterFd = -1;
        }
        if (masterFd >= 0 && now >= nextHeartbeat) {
            sendState("0002");
            nextHeartbeat += std::chrono::milliseconds(_settings.heartbeatPeriodMs);
            if (nextHeartbeat < now) {
                nextHeartbeat = now + std::chrono::milliseconds(_settings.heartbeatPeriodMs);
            }
        }
        if (masterFd >= 0 && streaming && frameRate > 0 && now >= nextReading) {
            sendReading();
            nextReading += std::chrono::microseconds(1000000 / frameRate);
            if (nextReading < now) {
                nextReading = now + std::chrono::microseconds(1000000 / frameRate);
            }
        } else if (!streaming) {
            nextReading = now;
        }

        auto wake = nextHeartbeat;
        if (streaming && frameRate > 0 && nextReading < wake) {
            wake = nextReading;
        }
        if (_faults.unplugAfterMs >= 0 && masterFd >= 0) {
            wake = std::min(wake, started + std::chrono::milliseconds(_faults.unplugAfterMs));
        }
        const auto timeout =
            std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count());
        pollfd fds[3] = {{_stop.waitDescriptor(), POLLIN, 0},
                         {_unplug.waitDescriptor(), POLLIN, 0},
                         {masterFd, POLLIN, 0}};
        const int n =
            ::poll(fds, masterFd >= 0 ? 3 : 2, static_cast<int>(std::min<long long>(timeout, 1000)));
        if (n < 0 && errno != EINTR) {
            return;
        }
        if (_stop.isSignalled()) {
            return;
        }
        if (masterFd >= 0 && (fds[2].revents & POLLIN) != 0) {
            char buffer[512];
            const ssize_t got = ::read(masterFd, buffer, sizeof buffer);
            if (got > 0) {
                onBytes(buffer, static_cast<std::size_t>(got));
            }
        }
    }
}

void InstrumentSimulator::onBytes(const char* data, std::size_t length) {
    const auto inBootloader = [this] {
        std::lock_guard guard(_lock);
        return _status.inBootloader;
    };
    const auto toBootloader = [this, data](std::size_t from, std::size_t to) {
        if (from < to) {
            _bootloader->onBytes(std::span(reinterpret_cast<const std::uint8_t*>(data) + from, to - from));
        }
    };
    if (inBootloader()) {
        toBootloader(0, length);
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (_receive.empty()) {
            if (c == STX) {
                _receive.push_back(c);
            }
            continue; // the CR after EOT, or noise
        }
        _receive.push_back(c);
        if (_receive.size() > kMaximumCommand) {
            _receive.clear();
            continue;
        }
        if (c != EOT) {
            continue;
        }
        const auto etx = _receive.find(ETX);
        if (etx != std::string::npos && _receive.size() - etx == 4) {
            const std::string payload = _receive.substr(1, etx - 1);
            const std::string checksum = _receive.substr(etx + 1, 2);
            if (checksum == hex2(OrvaneMessage::checksum(payload))) {
                onSentence(payload);
            }
        }
        _receive.clear();
        if (inBootloader()) {
            // The rest of the line already belongs to the bootloader.
            toBootloader(i + 1, length);
            return;
        }
    }
}

const char* InstrumentSimulator::commandName(char command) {
    switch (command) {
    case '1':
        return "INTERROGATE";
    case '2':
        return "START_STREAMING";
    case '3':
        return "STOP_STREAMING";
    case '4':
        return "SET_GAIN";
    case '5':
        return "SET_FRAME_RATE";
    default:
        return "";
    }
}

void InstrumentSimulator::onSentence(const std::string& payload) {
    const char command = payload.empty() ? '\0' : payload[0];
    const std::string value = payload.size() > 2 ? payload.substr(2) : std::string();
    std::string name;
    bool bootload = false;
    {
        std::lock_guard guard(_lock);
        _status.commands.push_back(payload);
        if (command == '\x06') {
            ++_status.acksReceived;
            return;
        }
        if (_status.inBootloader) {
            return;
        }
        if (!_faults.dropCommand.empty() && commandName(command) == _faults.dropCommand &&
            (_faults.dropCount < 0 || _droppedSoFar < _faults.dropCount)) {
            ++_droppedSoFar;
            return;
        }
        switch (command) {
        case '1':
            name = "INTERROGATE";
            break;
        case '2':
            name = "START_STREAMING";
            _status.streaming = true;
            break;
        case '3':
            name = "STOP_STREAMING";
            _status.streaming = false;
            break;
        case '4':
            name = "SET_GAIN";
            _status.gain = std::atoi(value.c_str());
            break;
        case '5':
            name = "SET_FRAME_RATE";
            _status.frameRate = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10)) & 0xFFU;
            break;
        case '7':
            // A reset restarts the instrument: streaming stops, power-on settings return.
            _status.streaming = false;
            _status.frameRate = _settings.frameRate;
            _status.gain = _settings.gain;
            return;
        case 'Z':
            _status.inBootloader = true;
            _status.streaming = false;
            bootload = true;
            break;
        default:
            return;
        }
        if (!_faults.ignoreCommand.empty() && name == _faults.ignoreCommand &&
            (_faults.ignoreCount < 0 || _ignoredSoFar < _faults.ignoreCount)) {
            ++_ignoredSoFar;
            return;
        }
    }
    if (bootload) {
        // The application withdraws its signature before it hands over, so that an
        // update that never finishes leaves the instrument in its bootloader.
        _flash->setSignature(false);
        _bootloader->restart();
        return;
    }
    sendState("0001");
}

std::string InstrumentSimulator::statePayload(const char* code) {
    float voltage = _settings.voltage;
    if (!_settings.voltageProfile.empty()) {
        voltage = _settings.voltageProfile[_voltageIndex++ % _settings.voltageProfile.size()];
    }
    const unsigned flags = (_antennaDisconnected ? 1U : 0U) | (_status.streaming ? 2U : 0U);
    return std::string(code) + "|" + _settings.model + "|" + std::to_string(_status.serialNumber) + "|" +
           _status.firmwareVersion + "|" + std::to_string(_status.frameRate) + "|" + std::to_string(flags) +
           "|" + formatFloat(voltage) + "|" + std::to_string(_status.gain);
}

void InstrumentSimulator::sendState(const char* code) {
    std::string payload;
    {
        std::lock_guard guard(_lock);
        const bool heartbeat = code[3] == '2';
        if (heartbeat) {
            const bool stopped = _faults.heartbeatsStopAfter >= 0 &&
                                 _status.heartbeatsSent >= static_cast<unsigned>(_faults.heartbeatsStopAfter);
            if (!_heartbeats || stopped || _status.inBootloader) {
                return;
            }
            ++_status.heartbeatsSent;
        }
        payload = statePayload(code);
    }
    sendSentence(payload);
}

void InstrumentSimulator::sendReading() {
    std::string payload;
    {
        std::lock_guard guard(_lock);
        _phase += 0.1;
        payload = "0003|" + formatFloat(1.5 + std::sin(_phase)) + "|" + formatFloat(2.5 + std::cos(_phase)) +
                  "|" + formatFloat(3.5 + std::sin(_phase * 0.5));
        ++_status.readingsSent;
    }
    sendSentence(payload);
}

void InstrumentSimulator::sendSentence(const std::string& payload) {
    std::string bytes;
    unsigned count = 0;
    {
        std::lock_guard guard(_lock);
        count = ++_sentenceCount;
    }
    if (_faults.noiseEvery != 0 && count % _faults.noiseEvery == 0) {
        bytes += "\r\n\x7F~noise\x15";
    }
    if (_faults.overlongEvery != 0 && count % _faults.overlongEvery == 0) {
        bytes += STX;
        bytes.append(kOverlongLength, '9');
    }
    int checksum = OrvaneMessage::checksum(payload);
    if (_faults.corruptEvery != 0 && count % _faults.corruptEvery == 0) {
        checksum ^= 0x5A;
    }
    bytes += STX;
    bytes += payload;
    bytes += ETX;
    bytes += hex2(checksum);
    bytes += EOT;
    writeRaw(bytes);
}

void InstrumentSimulator::writeRaw(const std::string& bytes) {
    std::lock_guard guard(_lock);
    std::size_t done = 0;
    while (_master && done < bytes.size()) {
        const ssize_t n = ::write(_master.get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            // Nobody reads the line: what a real instrument sends then is lost too.
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace sim
