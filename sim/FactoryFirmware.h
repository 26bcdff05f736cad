#pragma once

#include "sim/InstrumentSettings.h"
#include "wyr/windows/system/SystemError.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class EmulatedFlash;

// The application an instrument carries when it leaves the factory: a little code
// at the start of the application area and, at its top, an info block that
// reports the instrument's settings (version, serial number, flash geometry).
class FactoryFirmware {
public:
    // The version bytes b0..b3 of "major.minor.release.build", as the info block
    // stores them: b3 = major << 4, b2 = minor, b1 = release << 6, b0 = build. Each
    // part keeps only the bits the block has room for; missing parts are 0.
    static std::array<std::uint8_t, 4> versionBytes(const std::string& text);

    // The factory application's info block in the order the bootloader reports it,
    // that is read from the top of the application area downwards.
    static std::vector<std::uint8_t> infoBlock(const InstrumentSettings& settings);

    // Programs the factory application into an erased flash and signs it.
    static wyr::windows::system::ErrorCode install(EmulatedFlash& flash, const InstrumentSettings& settings);
};

} // namespace sim
