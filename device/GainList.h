#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace device {

// The gain register values the device may run at, largest first. A larger
// register value is a smaller gain in dB. An empty list permits any gain: the
// checks accept every value and the steps do nothing.
class GainList {
public:
    // Which gain steps are possible from a device gain.
    struct Steps {
        bool down = false; // towards larger register values
        bool up = false;   // towards smaller register values

        bool operator==(const Steps&) const = default;
    };

    GainList() = default;
    // Parses "|"-separated base-10 values in any order. Parts that are not a
    // whole 32-bit number, and repeated values, are left out.
    explicit GainList(std::wstring_view text);

    const std::vector<std::int32_t>& values() const noexcept { return _values; }
    bool empty() const noexcept { return _values.empty(); }
    bool contains(std::int32_t gain) const noexcept;

    // The permitted value a device gain outside the list is brought to: with
    // p the index of the first value smaller than the gain (the size when none
    // is), values[0] for p = 0, values[1] for p = 1, values[p - 1] otherwise.
    // Nothing for an empty list.
    std::optional<std::int32_t> adjusted(std::int32_t gain) const;

    // The value one step down ("˅") or up ("˄") from the shown gain; a shown gain
    // outside the list starts from the first value not greater than it. Down
    // stays at the first value (so it is sent again); up stops at the last.
    // Nothing when there is nowhere to start from or to go.
    std::optional<std::int32_t> stepDown(std::int32_t shown) const;
    std::optional<std::int32_t> stepUp(std::int32_t shown) const;

    // The steps offered while the device runs at `gain`: none off the list, only
    // up at the first value, only down at the last, both in between.
    Steps steps(std::int32_t gain) const;

    // The gain in dB of a register value, in single precision at every step.
    static float decibels(std::int32_t gain) noexcept;
    // decibels() as "%.1f" right-aligned in five characters.
    static std::wstring decibelsText(std::int32_t gain);

private:
    // The index of `gain`, or of the first value not greater than it; the size
    // when there is none.
    std::size_t startOf(std::int32_t gain) const noexcept;

    std::vector<std::int32_t> _values;
};

} // namespace device
