#include "wyr/windows/config/ConfigMgr.h"

#include "wyr/windows/config/ConfigTypeMismatch.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextFormat.h"
#include "wyr/windows/system/registry/RegKey.h"
#include "wyr/windows/system/registry/RegistryFile.h"

#include <algorithm>
#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <typeinfo>

namespace wyr::windows::config {

using namespace wyr::windows::system;
using logging::log;
using logging::logSystemError;
using logging::LogVerbosity;
using logging::trace;

namespace {

// The number a whole text spells, by the same rules in every locale: an optional
// sign, then what std::from_chars takes. Anything else does not convert.
template <typename T> std::optional<T> parseNumber(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) {
        if (c <= 0 || c > 0x7F) {
            return std::nullopt;
        }
        narrow.push_back(static_cast<char>(c));
    }
    std::string_view digits(narrow);
    if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-') {
        digits.remove_prefix(1);
    }
    T value{};
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename T> T convert(const std::wstring& text) {
    if (const auto value = parseNumber<T>(text)) {
        return *value;
    }
    throw boost::bad_lexical_cast(typeid(std::wstring), typeid(T));
}

std::int32_t parseInt(const std::wstring& text) {
    if (const auto value = parseNumber<std::int32_t>(text)) {
        return *value;
    }
    // Float bit patterns may be written unsigned ("1|3212836864" is -1.0f).
    if (!text.empty() && text.front() >= L'0' && text.front() <= L'9') {
        if (const auto bits = parseNumber<std::uint32_t>(text)) {
            return static_cast<std::int32_t>(*bits);
        }
    }
    throw boost::bad_lexical_cast(typeid(std::wstring), typeid(std::int32_t));
}

std::wstring formatDouble(double value) {
    std::wstring text = formatText(L"%f", value);
    // Six decimals is the stored form; a value they cannot carry (1e-9, 0.1234567)
    // is written with every digit it needs rather than changed.
    const auto back = parseNumber<double>(text);
    if (!back || !(*back == value || (std::isnan(*back) && std::isnan(value)))) {
        text = formatText(L"%.17g", value);
    }
    return text;
}

struct Formatter : boost::static_visitor<std::wstring> {
    Formatter() = default;
    std::wstring operator()(bool v) const { return v ? L"0|1" : L"0|0"; }
    std::wstring operator()(std::int32_t v) const { return L"1|" + std::to_wstring(v); }
    std::wstring operator()(double v) const { return L"2|" + formatDouble(v); }
    std::wstring operator()(const std::wstring& v) const { return L"3|" + v; }
};

} // namespace

ConfigMgr::ConfigMgr() : _window(std::make_unique<ConfigNotificationWnd>()) {}

ConfigMgr::~ConfigMgr() {
    // Pending changes are freed with the window, before the entries go.
    _window->destroyWindow();
    _window.reset();
}

ConfigMgr& ConfigMgr::instance() {
    static ConfigMgr manager;
    return manager;
}

const ConfigType& ConfigMgr::typeOf(const ConfigValue& value) {
    return *ConfigType::fromValue(value.which());
}

ErrorCode ConfigMgr::parse(const std::wstring& text, ConfigValue& out) {
    const auto bar = text.find(L'|');
    if (text.empty() || bar == std::wstring::npos || bar == 0) {
        return ERROR_INVALID_DATA;
    }
    const std::wstring code = text.substr(0, bar);
    if (code.size() > 9 ||
        !std::all_of(code.begin(), code.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return ERROR_INVALID_DATA;
    }
    const ConfigType* type = ConfigType::fromValue(std::stoi(code));
    if (type == nullptr) {
        return ERROR_INVALID_DATA;
    }
    const std::wstring rest = text.substr(bar + 1);
    if (*type == ConfigType::Bool) {
        out = parseInt(rest) != 0;
    } else if (*type == ConfigType::Int) {
        out = parseInt(rest);
    } else if (*type == ConfigType::Double) {
        out = convert<double>(rest);
    } else {
        out = rest;
    }
    return ERROR_SUCCESS;
}

std::wstring ConfigMgr::format(const ConfigValue& value) {
    const Formatter formatter;
    return boost::apply_visitor(formatter, value);
}

ErrorCode ConfigMgr::define(const std::wstring& name, const std::wstring& text, bool transient) {
    trace("ConfigMgr::define");
    ConfigValue value;
    ErrorCode rc = ERROR_SUCCESS;
    try {
        rc = parse(text, value);
    } catch (const boost::bad_lexical_cast&) {
        log(LogVerbosity::Error, "ConfigMgr::define",
            L"Configuration value <%ls>-<%ls> does not convert to its type.", name.c_str(), text.c_str());
        throw;
    }
    if (rc != ERROR_SUCCESS) {
        log(LogVerbosity::Error, "ConfigMgr::define", L"Invalid configuration text <%ls>-<%ls> [%u].",
            name.c_str(), text.c_str(), rc);
        logSystemError(rc, "ConfigMgr::define");
        return rc;
    }
    std::lock_guard guard(_lock);
    _entries[name] = ConfigEntry{transient, std::move(value)};
    return ERROR_SUCCESS;
}

bool ConfigMgr::contains(const std::wstring& name) const {
    trace("ConfigMgr::contains");
    std::lock_guard guard(_lock);
    return _entries.count(name) != 0;
}

template <typename T> bool ConfigMgr::get(const std::wstring& name, T& out, const ConfigType& asked) const {
    trace("ConfigMgr::get");
    std::lock_guard guard(_lock);
    const auto it = _entries.find(name);
    if (it == _entries.end()) {
        return false;
    }
    if (const T* held = boost::get<T>(&it->second.value)) {
        out = *held;
        return true;
    }
    throw ConfigTypeMismatch(name, typeOf(it->second.value), asked);
}

bool ConfigMgr::getBool(const std::wstring& name, bool& out) const {
    return get(name, out, ConfigType::Bool);
}

bool ConfigMgr::getInt(const std::wstring& name, std::int32_t& out) const {
    return get(name, out, ConfigType::Int);
}

bool ConfigMgr::getDouble(const std::wstring& name, double& out) const {
    return get(name, out, ConfigType::Double);
}

bool ConfigMgr::getString(const std::wstring& name, std::wstring& out) const {
    return get(name, out, ConfigType::String);
}

bool ConfigMgr::getFloat(const std::wstring& name, float& out) const {
    std::int32_t bits = 0;
    if (!getInt(name, bits)) {
        return false;
    }
    out = floatFromBits(bits);
    return true;
}

void ConfigMgr::setBool(const std::wstring& name, bool value) {
    set(name, value);
}

void ConfigMgr::setInt(const std::wstring& name, std::int32_t value) {
    set(name, value);
}

void ConfigMgr::setDouble(const std::wstring& name, double value) {
    set(name, value);
}

void ConfigMgr::setString(const std::wstring& name, const std::wstring& value) {
    set(name, value);
}

void ConfigMgr::setFloat(const std::wstring& name, float value) {
    set(name, bitsFromFloat(value));
}

void ConfigMgr::set(const std::wstring& name, const ConfigValue& value) {
    trace("ConfigMgr::set");
    {
        std::lock_guard guard(_lock);
        _entries[name] = ConfigEntry{false, value};
    }
    notify(name, value);
}

void ConfigMgr::notify(const std::wstring& name, const ConfigValue& value) {
    if (_window->signal().empty()) {
        return; // nobody listens: nothing is posted
    }
    if (!_window->post(new std::wstring(name), new ConfigValue(value))) {
        const ErrorCode rc = getLastError();
        log(LogVerbosity::Error, "ConfigMgr::notify", L"Failed to post the change of <%ls> [%u].",
            name.c_str(), rc);
        logSystemError(rc, "ConfigMgr::notify");
    }
}

ConfigMgr::Entries ConfigMgr::entries() const {
    std::lock_guard guard(_lock);
    return _entries;
}

boost::signals2::connection ConfigMgr::connect(const Slot& slot) {
    return _window->signal().connect(slot);
}

ErrorCode ConfigMgr::open(const std::wstring& path) {
    trace("ConfigMgr::open");
    {
        std::lock_guard guard(_lock);
        _entries.clear();
    }
    RegKey key(RegRootKey::HKEY_CURRENT_USER, path);
    ErrorCode firstProblem = key.open(RegAccess::KEY_ALL_ACCESS.value());
    if (firstProblem != ERROR_SUCCESS && firstProblem != ERROR_REGISTRY_RECOVERED) {
        if (firstProblem == ERROR_FILE_NOT_FOUND) {
            log(LogVerbosity::Information, "ConfigMgr::open", L"No stored configuration under <%ls> [%u].",
                key.fullName().c_str(), firstProblem);
        } else {
            log(LogVerbosity::Error, "ConfigMgr::open", L"Failed to open the configuration <%ls> [%u].",
                key.fullName().c_str(), firstProblem);
            logSystemError(firstProblem, "ConfigMgr::open");
        }
        return firstProblem;
    }
    // The whole tree in one read: the file cannot change between two of its keys.
    if (const ErrorCode rc = key.enumerateTree(); rc != ERROR_SUCCESS) {
        log(LogVerbosity::Error, "ConfigMgr::open", L"Failed to read the configuration <%ls> [%u].",
            key.fullName().c_str(), rc);
        logSystemError(rc, "ConfigMgr::open");
        return rc;
    }
    std::wstring prefix;
    load(key, prefix, firstProblem);
    std::size_t count = 0;
    {
        std::lock_guard guard(_lock);
        count = _entries.size();
    }
    log(LogVerbosity::Information, "ConfigMgr::open", L"Configuration loaded from <%ls>: %zu entries [%u].",
        key.fullName().c_str(), count, firstProblem);
    return firstProblem;
}

void ConfigMgr::load(const RegKey& key, std::wstring& prefix, ErrorCode& firstProblem) {
    const auto remember = [&firstProblem](ErrorCode rc) {
        if (firstProblem == ERROR_SUCCESS) {
            firstProblem = rc;
        }
    };
    for (const auto& value : key.values()) {
        std::wstring name = prefix + value.name();
        std::replace(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), L'\\', L'.');
        std::wstring text;
        if (value.type() != RegValueType::REG_SZ.value() || !value.asString(text)) {
            // One odd value costs only itself: the rest still loads, so no later
            // save replaces good settings with defaults.
            log(LogVerbosity::Error, "ConfigMgr::load",
                L"Configuration value <%ls> is not a string; it is ignored [%u].", name.c_str(),
                ERROR_INVALID_DATA);
            remember(ERROR_INVALID_DATA);
            continue;
        }
        try {
            if (const ErrorCode rc = define(name, text, false); rc != ERROR_SUCCESS) {
                remember(rc);
            }
        } catch (const boost::bad_lexical_cast&) {
            remember(ERROR_INVALID_DATA);
        }
    }
    // The name of a value below the path: the keys on the way and the value's
    // name, joined by dots.
    const std::size_t length = prefix.size();
    for (const auto& child : key.children()) {
        prefix += child.name();
        prefix += L'.';
        load(child, prefix, firstProblem);
        prefix.resize(length);
    }
}

ErrorCode ConfigMgr::save(const std::wstring& path) {
    trace("ConfigMgr::save");
    const Entries snapshot = entries();
    RegKey key(RegRootKey::HKEY_CURRENT_USER, path);
    ErrorCode firstProblem = ERROR_SUCCESS;
    std::size_t count = 0;
    for (const auto& [name, entry] : snapshot) {
        if (entry.transient) {
            continue;
        }
        const auto dot = name.rfind(L'.');
        const std::wstring valueName = dot == std::wstring::npos ? name : name.substr(dot + 1);
        RegValue value = RegValue::fromString(valueName, format(entry.value));
        try {
            if (!RegistryFile::isWritableName(name)) {
                throw std::invalid_argument("Name cannot contain a control character.");
            }
            (dot == std::wstring::npos ? key : key.child(name.substr(0, dot))).setValue(std::move(value));
            ++count;
        } catch (const std::invalid_argument& e) {
            log(LogVerbosity::Error, "ConfigMgr::save",
                L"Configuration entry <%ls> cannot be saved: %s [%u].", name.c_str(), e.what(),
                ERROR_INVALID_NAME);
            if (firstProblem == ERROR_SUCCESS) {
                firstProblem = ERROR_INVALID_NAME;
            }
        }
    }
    if (const ErrorCode rc = key.write(); rc != ERROR_SUCCESS) {
        log(LogVerbosity::Error, "ConfigMgr::save", L"Failed to save the configuration under <%ls> [%u].",
            key.fullName().c_str(), rc);
        logSystemError(rc, "ConfigMgr::save");
        return rc;
    }
    log(LogVerbosity::Information, "ConfigMgr::save", L"Configuration saved under <%ls>: %zu entries.",
        key.fullName().c_str(), count);
    return firstProblem;
}

} // namespace wyr::windows::config
