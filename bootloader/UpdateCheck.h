#pragma once

#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/InfoColumn.h"

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bootloader {

// Whether an image may be programmed into a device: the image's info block
// compared with the bootloader's, the cells of the comparison table that this
// marks, and what the update offers at each step. It draws nothing; the update
// dialog paints the marks and the command line lists them.
//
// The version and the bootloader type are shown but never compared: an image of
// any version may replace any other.
class UpdateCheck {
public:
    struct Mismatch {
        const InfoColumn* column;
        const FieldRow* row;
        std::wstring reason; // "<row>: what the image says, what the device says"
    };

    // What the update offers: Set Serial, Update, and whether Cancel has become Close.
    struct Buttons {
        bool setSerial = false;
        bool update = false;
        bool close = false;

        bool operator==(const Buttons&) const = default;
    };

    // Clears the marks, then compares the bootloader's block (`device`) with the
    // image's (`source`). Returns the number of marked cells.
    std::size_t compare(const InfoBlock& device, const InfoBlock& source);
    void clear();

    bool isMarked(const InfoColumn& column, const FieldRow& row) const;
    std::size_t markedCount() const noexcept { return _marks.size(); }
    // The marked cells in the order the checks run, each with why.
    const std::vector<Mismatch>& mismatches() const noexcept { return _mismatches; }

    // The buttons at the step reached. At "Load Source" this compares again; the
    // marks of other steps stay as they were. `source` is null while no image is
    // loaded. An image with serial number 0 may get a serial number but is not
    // programmed until it has one.
    Buttons refresh(const BootloaderNotifyType& step, const InfoBlock& device, const InfoBlock* source);

    // The text of a cell, from the block that its column shows.
    static std::wstring cellText(const InfoColumn& column, const FieldRow& row, const InfoBlock& block);
    // The Target column shows the application block only when there is one.
    static bool hasApplication(const InfoBlock& target) noexcept { return target.length != 0; }

private:
    void mark(const InfoColumn& column, const FieldRow& row, std::wstring reason);

    std::set<std::pair<int, int>> _marks; // (column, row)
    std::vector<Mismatch> _mismatches;
};

} // namespace bootloader
