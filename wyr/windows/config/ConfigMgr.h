#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/config/ConfigNotificationWnd.h"
#include "wyr/windows/config/ConfigType.h"
#include "wyr/windows/config/ConfigValue.h"
#include "wyr/windows/system/SystemError.h"

#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace wyr::windows::system {
class RegKey;
}

namespace wyr::windows::config {

// Every setting of the program as a named, typed value, loaded from and saved to
// the current user's registry hive, with change notification on the thread that
// created the manager (the user-interface thread).
//
// Text form of a value: the type code, "|", the value ("0|1", "1|38400",
// "2|1.000000", "3|%TEMP%"). Under the storage path, the entry "Group.Setting" is
// the string value "Setting" of the subkey "Group" (split at the last dot).
//
// A getter asked for a type its entry does not hold throws ConfigTypeMismatch; a
// value text that does not convert to its type throws boost::bad_lexical_cast.
// Every other failure is a result code and a log entry.
class ConfigMgr : private memory::NonCopyable {
public:
    using Slot = ConfigNotificationWnd::Signal::slot_type;
    using Entries = std::map<std::wstring, ConfigEntry>;

    // The process-wide manager, created on first use: by the user-interface thread,
    // which then owns its notification window.
    static ConfigMgr& instance();

    virtual ~ConfigMgr();

    // Clears every entry, then loads everything stored under `path` (relative to
    // HKEY_CURRENT_USER). The key's error when it cannot be opened (not found on a
    // first run, ERROR_BADDB for a settings file that had to be set aside); else
    // 0, or the first problem among what could not be taken, which is skipped and
    // logged while the rest loads: ERROR_REGISTRY_RECOVERED for lines of the
    // settings file that could not be read (the file was copied aside),
    // ERROR_INVALID_DATA for values that do not convert.
    system::ErrorCode open(const std::wstring& path);
    // Writes every non-transient entry under `path`, in one save of the settings
    // file. Stored values that no entry names are kept.
    system::ErrorCode save(const std::wstring& path);

    // Parses the text form and sets the entry, replacing any earlier one; does not
    // notify. ERROR_INVALID_DATA for an empty text, no "|", a "|" first or an
    // unknown type code (nothing changes); boost::bad_lexical_cast for a value
    // that does not convert (nothing changes).
    system::ErrorCode define(const std::wstring& name, const std::wstring& text, bool transient);
    bool contains(const std::wstring& name) const;

    // False, with `out` unchanged, when there is no such entry.
    bool getBool(const std::wstring& name, bool& out) const;
    bool getInt(const std::wstring& name, std::int32_t& out) const;
    bool getDouble(const std::wstring& name, double& out) const;
    bool getString(const std::wstring& name, std::wstring& out) const;
    // An int entry read as the 32-bit float whose bit pattern it holds.
    bool getFloat(const std::wstring& name, float& out) const;

    // Set the entry (creating it), clear its transient flag and notify listeners.
    void setBool(const std::wstring& name, bool value);
    void setInt(const std::wstring& name, std::int32_t value);
    void setDouble(const std::wstring& name, double value);
    void setString(const std::wstring& name, const std::wstring& value);
    void setFloat(const std::wstring& name, float value);

    // A copy of every entry in name order.
    Entries entries() const;

    // Listeners run on the notification window's thread, one change at a time, in
    // the order the changes were made.
    boost::signals2::connection connect(const Slot& slot);
    ConfigNotificationWnd& notificationWindow() noexcept { return *_window; }

    // The text form. parse() returns ERROR_INVALID_DATA for malformed text and
    // throws boost::bad_lexical_cast for a value that does not convert. An int may
    // also be written as an unsigned 32-bit number (a float's bit pattern).
    static system::ErrorCode parse(const std::wstring& text, ConfigValue& out);
    static std::wstring format(const ConfigValue& value);
    static const ConfigType& typeOf(const ConfigValue& value);

protected:
    ConfigMgr();

private:
    void set(const std::wstring& name, const ConfigValue& value);
    void notify(const std::wstring& name, const ConfigValue& value);
    // Defines the values of `key` and of every key below it; `prefix` names the key.
    void load(const system::RegKey& key, std::wstring& prefix, system::ErrorCode& firstProblem);
    template <typename T> bool get(const std::wstring& name, T& out, const ConfigType& asked) const;

    std::unique_ptr<ConfigNotificationWnd> _window;
    // Worker threads read settings too, so entries are guarded.
    mutable std::mutex _lock;
    Entries _entries;
};

} // namespace wyr::windows::config
