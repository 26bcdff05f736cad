#include "wyr/windows/system/TextFormat.h"

#include <cerrno>
#include <cwchar>
#include <vector>

namespace wyr::windows::system {

namespace {

locale_t makeLocale() noexcept {
    locale_t locale = ::newlocale(LC_ALL_MASK, "C.UTF-8", locale_t{});
    if (locale == locale_t{}) {
        locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    }
    return locale;
}

// The calling thread formats under the text locale for the scope's lifetime; other
// threads and the process-wide locale are untouched.
class TextLocaleScope {
public:
    TextLocaleScope() noexcept : _previous(::uselocale(textLocale())) {}
    ~TextLocaleScope() {
        if (_previous != locale_t{}) {
            ::uselocale(_previous);
        }
    }
    TextLocaleScope(const TextLocaleScope&) = delete;
    TextLocaleScope& operator=(const TextLocaleScope&) = delete;

private:
    locale_t _previous;
};

} // namespace

locale_t textLocale() noexcept {
    // Never freed: any thread may format until the process ends.
    static const locale_t locale = makeLocale();
    return locale;
}

std::wstring vformatText(const wchar_t* format, va_list args) {
    if (format == nullptr) {
        return {};
    }
    const TextLocaleScope scope;
    // Each thread keeps its buffer: a message costs one allocation, its own.
    thread_local std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        errno = 0;
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0) {
            return std::wstring(buffer.data(), static_cast<std::size_t>(n));
        }
        // -1 is "too small" or an argument that is not UTF-8; only more room helps
        // the first.
        if (errno == EILSEQ || buffer.size() >= kMaximumTextLength) {
            std::wstring text(buffer.data(), ::wcsnlen(buffer.data(), buffer.size()));
            return text.empty() ? std::wstring(format) : text;
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring formatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = vformatText(format, args);
    va_end(args);
    return text;
}

} // namespace wyr::windows::system
