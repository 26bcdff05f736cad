#include "wyr/windows/system/registry/RegValue.h"

namespace wyr::windows::system {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void putUnit(RegValue::Data& out, std::uint16_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

} // namespace

RegValue::RegValue(std::wstring name, std::uint32_t type, Data data)
    : _name(std::move(name)), _type(type), _data(std::move(data)) {}

RegValue::~RegValue() = default;

RegValue RegValue::fromString(std::wstring name, std::wstring_view text, const RegValueType& type) {
    return RegValue(std::move(name), type.value(), encodeString(text));
}

RegValue RegValue::fromDword(std::wstring name, std::uint32_t value) {
    return RegValue(std::move(name), RegValueType::REG_DWORD.value(),
                    Data{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

bool RegValue::isString() const noexcept {
    return _type == RegValueType::REG_SZ.value() || _type == RegValueType::REG_EXPAND_SZ.value();
}

bool RegValue::asString(std::wstring& out) const {
    if (!isString()) {
        return false;
    }
    out = decodeString(_data);
    return true;
}

bool RegValue::asDword(std::uint32_t& out) const {
    if (_type != RegValueType::REG_DWORD.value() || _data.size() < 4) {
        return false;
    }
    out = static_cast<std::uint32_t>(_data[0]) | static_cast<std::uint32_t>(_data[1]) << 8 |
          static_cast<std::uint32_t>(_data[2]) << 16 | static_cast<std::uint32_t>(_data[3]) << 24;
    return true;
}

RegValue::Data RegValue::encodeString(std::wstring_view text) {
    Data out;
    out.reserve((text.size() + 1) * 2);
    for (const wchar_t c : text) {
        auto cp = static_cast<char32_t>(c);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = kReplacement;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putUnit(out, static_cast<std::uint16_t>(0xD800 | (cp >> 10)));
            putUnit(out, static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            putUnit(out, static_cast<std::uint16_t>(cp));
        }
    }
    putUnit(out, 0);
    return out;
}

std::wstring RegValue::decodeString(const Data& data) {
    std::vector<std::uint16_t> units;
    units.reserve(data.size() / 2);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        units.push_back(static_cast<std::uint16_t>(data[i] | data[i + 1] << 8));
    }
    // One terminating zero belongs to the layout, not to the text.
    if (!units.empty() && units.back() == 0) {
        units.pop_back();
    }
    std::wstring out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(static_cast<wchar_t>(kReplacement));
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

} // namespace wyr::windows::system
