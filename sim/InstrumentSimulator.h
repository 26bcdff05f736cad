#pragma once

#include "sim/EmulatedFlash.h"
#include "sim/InstrumentSettings.h"
#include "sim/SimulatedBootloader.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/SystemError.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// Plays the instrument on a pseudo-terminal: answers every command with an
// acknowledgement carrying the new state, sends heartbeats, and streams ADC readings
// at the frame rate while streaming. It publishes itself as COM<n> in the port
// directory, so the application finds it like a real port.
//
// BOOTLOAD hands the line to the serial bootloader, which programs an emulated
// flash. A reset from the bootloader starts the flashed application when it is
// signed and intact, and the instrument then reports that application's version
// and serial number; otherwise it stays in the bootloader.
class InstrumentSimulator {
public:
    struct Status {
        unsigned acksReceived = 0;
        std::vector<std::string> commands; // payloads of the valid sentences received
        unsigned heartbeatsSent = 0;
        unsigned readingsSent = 0;
        bool streaming = false;
        unsigned frameRate = 0;
        std::int32_t gain = 0;
        bool inBootloader = false;   // after BOOTLOAD, or when no valid application is flashed
        std::string firmwareVersion; // of the running application
        std::int32_t serialNumber = 0;
    };

    InstrumentSimulator(InstrumentSettings settings, FaultSettings faults);
    ~InstrumentSimulator();
    InstrumentSimulator(const InstrumentSimulator&) = delete;
    InstrumentSimulator& operator=(const InstrumentSimulator&) = delete;

    // Prepares the flash (from the flash file when one is set), opens the
    // pseudo-terminal, publishes it as COM<comNumber> (0: the lowest free number) and
    // starts playing. Returns 0 or a system error code: ERROR_INVALID_PARAMETER for
    // bootloader settings that describe no device, the flash file's errors (see
    // EmulatedFlash::load), or the port's.
    wyr::windows::system::ErrorCode start(int comNumber = 0);
    void stop();

    int comNumber() const { return _comNumber; }
    const std::string& devicePath() const { return _devicePath; }
    const std::string& linkPath() const { return _linkPath; }

    // Pulls the plug: the port disappears as a USB adapter would.
    void unplug();
    void setHeartbeats(bool enabled);
    void setAntennaDisconnected(bool disconnected);
    Status status() const;

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void onBytes(const char* data, std::size_t length);
    void onSentence(const std::string& payload);
    // "SET_GAIN" for the command letter of SET_GAIN; "" for a letter no fault names.
    static const char* commandName(char command);
    void sendSentence(const std::string& payload);
    void sendState(const char* code);
    void sendReading();
    void writeRaw(const std::string& bytes);
    std::string statePayload(const char* code);
    void closePort();
    void pullPlug();
    wyr::windows::system::ErrorCode prepareFlash();
    // Power-up and reset: the application when it is signed, else the bootloader.
    void boot();
    void onBootloaderReply(const SimulatedBootloader::Bytes& bytes);

    const InstrumentSettings _settings;
    const FaultSettings _faults;

    mutable std::mutex _lock;
    Status _status;
    bool _heartbeats = true;
    bool _antennaDisconnected;
    std::size_t _voltageIndex = 0;
    int _ignoredSoFar = 0;
    int _droppedSoFar = 0;
    unsigned _sentenceCount = 0;
    std::string _receive;
    double _phase = 0.0;

    // Used by the simulator's thread only, once started.
    std::unique_ptr<EmulatedFlash> _flash;
    std::unique_ptr<SimulatedBootloader> _bootloader;

    wyr::windows::system::Descriptor _master;
    wyr::windows::system::Descriptor _slave; // held so the master never sees a hang-up between clients
    wyr::windows::system::Event _stop{wyr::windows::system::Event::Reset::Manual};
    wyr::windows::system::Event _unplug{wyr::windows::system::Event::Reset::Manual};
    std::thread _thread;
    int _comNumber = 0;
    std::string _devicePath;
    std::string _linkPath;
};

} // namespace sim
