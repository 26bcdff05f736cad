#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The instrument's serial bootloader and the flash it programs. By default a 28 KiB
// application area sits above a 4 KiB bootloader, with 512-byte pages and 64-byte
// write blocks.
struct BootloaderSettings {
    std::uint32_t appStart = 0x001000; // first byte of the application area, page aligned
    std::uint32_t appEnd = 0x007FFF;   // last byte of the application area, the end of a page
    std::uint8_t pageSizeCode = 9;     // page size 2^code bytes
    std::uint8_t packetSizeCode = 6;   // packet size 2^code bytes
    std::uint8_t bufferSizeCode = 6;   // largest write block 2^code bytes
    std::uint8_t crcType = 0x40;       // page checksum: 0x40 CRC-16-CCITT, 0xC0 CRC-32
    std::uint8_t productCode = 0x42;
    std::uint8_t bootloaderType = 0x80; // UART
    std::array<std::uint8_t, 4> versionBytes{0x02, 0xC0, 0x00,
                                             0x10}; // b0..b3 of the bootloader's own version, 1.0.3.2
    std::string flashFile;                          // where the flash persists; empty: in memory only
    bool startInBootloader = false;                 // a device without application firmware
    // An earlier update stopped after writing the application's top page but before
    // it verified: the image is in flash, its signature is not, and the device
    // powers up in its bootloader.
    bool interruptedUpdate = false;
};

// What the simulated instrument reports and how it behaves. The defaults put the
// frame rate and the gain outside the application's defaults so that every
// connection has something to correct.
struct InstrumentSettings {
    std::string model = "X1";
    std::int32_t serialNumber = 1001;
    std::string firmwareVersion = "1.2.3.45";
    unsigned frameRate = 30;
    std::int32_t gain = 1000;
    float voltage = 12.0F;
    bool antennaDisconnected = false;
    // Voltages reported by successive heartbeats, cycling; empty: `voltage` always.
    std::vector<float> voltageProfile;
    unsigned heartbeatPeriodMs = 1000;
    BootloaderSettings bootloader;
};

// Faults to inject, so that the link can be tested against everything it must survive.
struct FaultSettings {
    int heartbeatsStopAfter = -1; // heartbeats sent before they stop; -1: never stop
    std::string ignoreCommand;    // a command name whose acknowledgement is withheld ...
    int ignoreCount = 1;          // ... this many times (-1: always)
    std::string dropCommand;      // a command name that is dropped (no effect, no acknowledgement) ...
    int dropCount = 1;            // ... this many times (-1: always)
    unsigned corruptEvery = 0;    // every Nth sentence sent carries a wrong checksum
    unsigned noiseEvery = 0;      // line noise before every Nth sentence sent
    unsigned overlongEvery = 0;   // every Nth sentence is preceded by an endless unterminated one
    int unplugAfterMs = -1;       // the port vanishes this long after start

    // Bootloader faults. Counts run over the simulator's whole life, from 1.
    unsigned badPageCrcAt = 0;      // the Nth page checksum reply carries a wrong checksum; 0: none
    unsigned failBlockAt = 0;       // the Nth block write is refused; 0: none
    bool failEveryBlock = false;    // every block write is refused
    bool silentBootloader = false;  // the bootloader never answers
    unsigned bootloaderDelayMs = 0; // the bootloader waits this long before every reply
    int unplugAfterBlocks = -1;     // once this many blocks were written, the port vanishes as the host
                                    // sends its next frame; -1: never
};

} // namespace sim
