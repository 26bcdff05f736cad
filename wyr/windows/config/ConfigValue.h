#pragma once

#include <bit>
#include <boost/variant.hpp>
#include <cstdint>
#include <string>

namespace wyr::windows::config {

// A setting's value. The alternatives are in type-code order, so which() is the
// ConfigType number.
using ConfigValue = boost::variant<bool, std::int32_t, double, std::wstring>;

struct ConfigEntry {
    bool transient = false; // kept in memory only, never saved
    ConfigValue value;
};

// Float settings are kept in int entries as the float's bit pattern.
inline float floatFromBits(std::int32_t bits) noexcept {
    return std::bit_cast<float>(bits);
}
inline std::int32_t bitsFromFloat(float value) noexcept {
    return std::bit_cast<std::int32_t>(value);
}

} // namespace wyr::windows::config
