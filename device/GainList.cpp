#include "device/GainList.h"

#include "wyr/windows/system/TextFormat.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cwchar>
#include <functional>
#include <limits>

namespace device {

namespace {

std::optional<std::int32_t> parseValue(std::wstring_view part) {
    const std::wstring text(part);
    if (text.empty()) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = std::wcstoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

GainList::GainList(std::wstring_view text) {
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t bar = std::min(text.find(L'|', begin), text.size());
        if (const auto value = parseValue(text.substr(begin, bar - begin))) {
            const auto at = std::lower_bound(_values.begin(), _values.end(), *value, std::greater<>());
            if (at == _values.end() || *at != *value) {
                _values.insert(at, *value);
            }
        }
        begin = bar + 1;
    }
}

bool GainList::contains(std::int32_t gain) const noexcept {
    return std::binary_search(_values.begin(), _values.end(), gain, std::greater<>());
}

std::optional<std::int32_t> GainList::adjusted(std::int32_t gain) const {
    if (_values.empty()) {
        return std::nullopt;
    }
    const auto p = static_cast<std::size_t>(
        std::upper_bound(_values.begin(), _values.end(), gain, std::greater<>()) - _values.begin());
    if (p == 0) {
        return _values[0];
    }
    if (p == 1) {
        return _values.size() > 1 ? _values[1] : _values[0];
    }
    return _values[p - 1];
}

std::size_t GainList::startOf(std::int32_t gain) const noexcept {
    return static_cast<std::size_t>(std::lower_bound(_values.begin(), _values.end(), gain, std::greater<>()) -
                                    _values.begin());
}

std::optional<std::int32_t> GainList::stepDown(std::int32_t shown) const {
    const std::size_t at = startOf(shown);
    if (at >= _values.size()) {
        return std::nullopt;
    }
    return _values[at == 0 ? 0 : at - 1];
}

std::optional<std::int32_t> GainList::stepUp(std::int32_t shown) const {
    const std::size_t at = startOf(shown);
    if (at + 1 >= _values.size()) {
        return std::nullopt;
    }
    return _values[at + 1];
}

GainList::Steps GainList::steps(std::int32_t gain) const {
    if (!contains(gain)) {
        return {};
    }
    const std::size_t at = startOf(gain);
    return {at != 0, at != _values.size() - 1};
}

float GainList::decibels(std::int32_t gain) noexcept {
    const float r = static_cast<float>(gain) / 1023.0F * 10070.0F + 70.0F;
    const float r2 = r + r;
    const float x = 56200.0F / r2 + 1.0F;
    const float y = x * x;
    return std::log10(y) * 10.0F + 54.2F;
}

std::wstring GainList::decibelsText(std::int32_t gain) {
    return wyr::windows::system::formatText(L"%5.1f", static_cast<double>(decibels(gain)));
}

} // namespace device
