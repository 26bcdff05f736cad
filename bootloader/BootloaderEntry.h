#pragma once

namespace bootloader {

// How the device came to its bootloader, which decides whether a cancelled
// update may sign the application again. A running application withdraws its
// signature when BOOTLOAD hands it over, so only this run's BOOTLOAD can have
// removed a signature over a verified image. A device found waiting in its
// bootloader may hold an image that an earlier update never verified; it stays
// there until an update completes.
enum class BootloaderEntry {
    FromApplication,   // the device link's hand-over after BOOTLOAD
    FoundInBootloader, // opened directly (no application answered)
};

} // namespace bootloader
