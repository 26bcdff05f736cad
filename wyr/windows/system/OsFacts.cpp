#include "wyr/windows/system/OsFacts.h"

#include "wyr/windows/system/TextConversion.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/utsname.h>

namespace wyr::windows::system {

namespace {

// os-release is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kOsReleaseLimit = 64 * 1024;

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::error_code error;
    // Only a regular file: a FIFO or a device put in its place must not block the probe.
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kOsReleaseLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool isKey(std::string_view key) {
    if (key.empty()) {
        return false;
    }
    for (const char c : key) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

// A shell-style value: double quotes with backslash escapes, single quotes
// verbatim, or a bare word. nullopt for a quote that is never closed.
std::optional<std::string> unquote(std::string_view raw) {
    if (raw.empty() || (raw.front() != '"' && raw.front() != '\'')) {
        return std::string(raw);
    }
    const char quote = raw.front();
    std::string value;
    for (std::size_t i = 1; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == quote) {
            return trim(raw.substr(i + 1)).empty() ? std::optional<std::string>(value) : std::nullopt;
        }
        if (quote == '"' && c == '\\' && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += c;
        }
    }
    return std::nullopt;
}

// Lines that are not an assignment are skipped, as the format asks of readers.
std::map<std::string, std::string> parseOsRelease(std::string_view text) {
    std::map<std::string, std::string> values;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !isKey(line.substr(0, equals))) {
            continue;
        }
        if (auto value = unquote(line.substr(equals + 1))) {
            values[std::string(line.substr(0, equals))] = std::move(*value);
        }
    }
    return values;
}

std::optional<OsFacts::Kernel> askKernel() {
    struct utsname name {};
    if (::uname(&name) != 0) {
        return std::nullopt;
    }
    return OsFacts::Kernel{name.sysname, name.release, name.machine};
}

} // namespace

OsFacts::Sources OsFacts::systemSources() {
    return Sources{[]() -> std::optional<std::string> {
                       for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
                           if (auto text = readSmallFile(path)) {
                               return text;
                           }
                       }
                       return std::nullopt;
                   },
                   askKernel};
}

OsFacts& OsFacts::instance() {
    static OsFacts facts(systemSources());
    return facts;
}

OsFacts::OsFacts(Sources sources) : _sources(std::move(sources)) {}

bool OsFacts::probe() {
    const std::lock_guard guard(_lock);
    if (_facts.available) {
        return true;
    }
    const std::optional<Kernel> kernel = _sources.kernel ? _sources.kernel() : std::nullopt;
    if (!kernel) {
        return false;
    }
    const std::optional<std::string> osRelease = _sources.osRelease ? _sources.osRelease() : std::nullopt;

    _facts.osName = toWide(osNameFrom(osRelease.value_or(std::string{}), kernel->sysname));
    _facts.processorArchitecture = toWide(architectureFrom(kernel->machine));
    _facts.servicePack = kernel->release.empty() ? L"None" : toWide(kernel->release);
    _facts.buildNumber = buildNumberFrom(kernel->release);
    _facts.available = true;
    return true;
}

OsFacts::Facts OsFacts::facts() {
    probe();
    const std::lock_guard guard(_lock);
    return _facts;
}

bool OsFacts::available() const {
    const std::lock_guard guard(_lock);
    return _facts.available;
}

std::wstring OsFacts::osName() const {
    const std::lock_guard guard(_lock);
    return _facts.osName;
}

std::wstring OsFacts::processorArchitecture() const {
    const std::lock_guard guard(_lock);
    return _facts.processorArchitecture;
}

std::wstring OsFacts::servicePack() const {
    const std::lock_guard guard(_lock);
    return _facts.servicePack;
}

std::int32_t OsFacts::buildNumber() const {
    const std::lock_guard guard(_lock);
    return _facts.buildNumber;
}

std::string OsFacts::osNameFrom(std::string_view osReleaseText, std::string_view sysname) {
    const auto values = parseOsRelease(osReleaseText);
    const auto valueOf = [&values](const char* key) {
        const auto it = values.find(key);
        return it == values.end() ? std::string{} : std::string(trim(it->second));
    };
    if (std::string pretty = valueOf("PRETTY_NAME"); !pretty.empty()) {
        return pretty;
    }
    if (std::string name = valueOf("NAME"); !name.empty()) {
        const std::string version = valueOf("VERSION");
        return version.empty() ? name : name + " " + version;
    }
    return std::string(sysname);
}

std::string OsFacts::architectureFrom(std::string_view machine) {
    if (machine.empty()) {
        return "Unknown";
    }
    if (machine == "x86_64" || machine == "amd64") {
        return "x64";
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine[1] >= '3' && machine[1] <= '6' &&
        machine.substr(2) == "86") {
        return "x86";
    }
    return std::string(machine);
}

std::int32_t OsFacts::buildNumberFrom(std::string_view release) {
    // major.minor.patch, each a decimal number, before any suffix.
    std::array<std::int32_t, 3> parts{};
    const char* cursor = release.data();
    const char* const end = release.data() + release.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto [next, error] = std::from_chars(cursor, end, parts[i]);
        if (error != std::errc{} || parts[i] < 0) {
            return 0;
        }
        cursor = next;
        if (i + 1 < parts.size()) {
            if (cursor == end || *cursor != '.') {
                return 0;
            }
            ++cursor;
        }
    }
    return parts[2];
}

} // namespace wyr::windows::system
