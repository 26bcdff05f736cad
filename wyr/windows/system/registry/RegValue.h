#pragma once

#include "wyr/windows/system/registry/RegValueType.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wyr::windows::system {

// One named value of a key: its type and its data in the platform's layout
// (strings as UTF-16LE with a terminating zero, DWORDs as four little-endian bytes),
// so that any value read from a settings file can be written back unchanged.
class RegValue {
public:
    using Data = std::vector<std::uint8_t>;

    RegValue() = default;
    RegValue(std::wstring name, std::uint32_t type, Data data);
    virtual ~RegValue();

    RegValue(const RegValue&) = default;
    RegValue& operator=(const RegValue&) = default;
    RegValue(RegValue&&) = default;
    RegValue& operator=(RegValue&&) = default;

    static RegValue fromString(std::wstring name, std::wstring_view text,
                               const RegValueType& type = RegValueType::REG_SZ);
    static RegValue fromDword(std::wstring name, std::uint32_t value);

    const std::wstring& name() const noexcept { return _name; }
    std::uint32_t type() const noexcept { return _type; }
    const Data& data() const noexcept { return _data; }

    bool isString() const noexcept;
    // The text of a REG_SZ or REG_EXPAND_SZ value, without its terminating zero;
    // false for other types.
    bool asString(std::wstring& out) const;
    // The number of a REG_DWORD value; false for other types or a short data block.
    bool asDword(std::uint32_t& out) const;

    // Platform string layout, for the settings file.
    static Data encodeString(std::wstring_view text);
    static std::wstring decodeString(const Data& data);

    friend bool operator==(const RegValue& a, const RegValue& b) {
        return a._name == b._name && a._type == b._type && a._data == b._data;
    }

private:
    std::wstring _name;
    std::uint32_t _type = RegValueType::REG_NONE.value();
    Data _data;
};

} // namespace wyr::windows::system
