#include "wyr/windows/system/Environment.h"

#include "wyr/windows/system/TextConversion.h"

#include <cstdlib>
#include <optional>

namespace wyr::windows::system {

namespace {

std::optional<std::string> lookup(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) {
        return std::string(value);
    }
    if (name == "TEMP" || name == "TMP") {
        const char* tmpdir = std::getenv("TMPDIR");
        return std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp");
    }
    return std::nullopt;
}

} // namespace

std::wstring expandEnvironmentStrings(const std::wstring& text) {
    std::wstring out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto open = text.find(L'%', pos);
        if (open == std::wstring::npos) {
            break;
        }
        const auto close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            break;
        }
        out.append(text, pos, open - pos);
        const auto name = text.substr(open + 1, close - open - 1);
        if (const auto value = name.empty() ? std::nullopt : lookup(toNarrow(name))) {
            out += toWide(*value);
            pos = close + 1;
        } else {
            // Not a variable: keep the first percent sign and look again from the second.
            out += L'%';
            out += name;
            pos = close;
        }
    }
    out.append(text, pos, std::wstring::npos);
    return out;
}

} // namespace wyr::windows::system
