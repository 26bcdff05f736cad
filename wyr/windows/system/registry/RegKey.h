#pragma once

#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/registry/RegAccess.h"
#include "wyr/windows/system/registry/RegDisposition.h"
#include "wyr/windows/system/registry/RegKeyOption.h"
#include "wyr/windows/system/registry/RegRootKey.h"
#include "wyr/windows/system/registry/RegValue.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace wyr::windows::system {

class RegistryNode;

struct RegKeyInfo {
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyLength = 0;
    std::uint32_t values = 0;
    std::uint32_t maxValueNameLength = 0;
    std::uint32_t maxValueDataLength = 0;
    std::chrono::system_clock::time_point lastWriteTime;
};

// A key under a root: its path, whether it is open and with which access, and a
// local copy of child keys and values. enumerate() fills the copy from the store;
// child() and setValue() build one, and write() puts it into the store in one
// save. Every RegKey of the process shares one hive per root (RegistryHive).
//
// Paths use "\" between key names; empty parts are ignored, so "" is the root.
// Key and value names compare without regard to case.
class RegKey {
public:
    explicit RegKey(const RegRootKey& root = RegRootKey::HKEY_CURRENT_USER, const std::wstring& path = {});
    virtual ~RegKey();

    RegKey(const RegKey& other);
    RegKey& operator=(const RegKey& other);
    RegKey(RegKey&&) = default;
    RegKey& operator=(RegKey&&) = default;

    const RegRootKey& root() const noexcept { return *_root; }
    const std::wstring& path() const noexcept { return _path; }
    // The last key name of the path; the root's name for the root itself.
    std::wstring name() const;
    // "HKEY_CURRENT_USER\Software\...".
    std::wstring fullName() const;

    // Whether the root exists on a computer: an empty name, ".", "localhost" or
    // this host's name is this computer. ERROR_BAD_NETPATH for another computer,
    // ERROR_NOT_SUPPORTED for a root without a store here.
    ErrorCode connect(const std::wstring& computer = {}) const;

    // 0, ERROR_FILE_NOT_FOUND when the key does not exist, ERROR_BADDB when the
    // settings file had to be set aside, or the error reading it. Once after some
    // lines of the settings file could not be read (they were skipped and the file
    // copied aside), ERROR_REGISTRY_RECOVERED with the key open: the one non-zero
    // result after which the key is usable.
    ErrorCode open(std::uint32_t access = RegAccess::KEY_READ.value());
    // Opens the key, creating it and missing parents first.
    ErrorCode create(const RegKeyOption& options = RegKeyOption::REG_OPTION_NON_VOLATILE,
                     std::uint32_t access = RegAccess::KEY_ALL_ACCESS.value(),
                     const RegDisposition** disposition = nullptr);
    void close() noexcept;
    bool isOpen() const noexcept { return _open; }
    std::uint32_t access() const noexcept { return _access; }

    // Operations on the open key (ERROR_INVALID_HANDLE when it is not open,
    // ERROR_ACCESS_DENIED without the right, ERROR_KEY_DELETED when it is gone).
    // enumerate() replaces the local children (names only, not open) and values;
    // enumerateTree() replaces them with the key's whole subtree, every level's
    // children and values, read in one look at the store.
    ErrorCode enumerate();
    ErrorCode enumerateTree();
    ErrorCode queryInfo(RegKeyInfo& info);
    ErrorCode readValue(const std::wstring& name, RegValue& out);
    ErrorCode deleteValue(const std::wstring& name);
    // Deletes a subkey (a relative path) with everything below it.
    ErrorCode deleteKey(const std::wstring& subKey);

    // The local copy, changed through child() and setValue(); finding or adding a
    // child or a value costs a logarithm of their number.
    const std::list<RegKey>& children() const noexcept { return _children; }
    const std::vector<RegValue>& values() const noexcept { return _values; }
    const RegValue* findValue(const std::wstring& name) const;
    // The local child of that name, added when missing. Throws
    // std::invalid_argument for a name with "\" or an empty name.
    RegKey& child(const std::wstring& name);
    // Replaces the local value of the same name, or adds it.
    void setValue(RegValue value);

    // Writes this key with all its local values and children into the store,
    // creating missing keys as non-volatile, and saves the settings file once.
    // Values and keys of the store that the copy does not name are kept.
    // ERROR_INVALID_NAME (nothing written) for a name with a control character or
    // a key deeper than the settings file keeps (RegistryFile::kMaximumDepth).
    ErrorCode write();

private:
    void fill(const RegistryNode& node, bool recursive);
    void indexChildren();

    const RegRootKey* _root;
    std::wstring _path;
    bool _open = false;
    std::uint32_t _access = 0;
    std::list<RegKey> _children;
    std::vector<RegValue> _values;
    // By folded name.
    std::unordered_map<std::wstring, std::list<RegKey>::iterator> _childIndex;
    std::unordered_map<std::wstring, std::size_t> _valueIndex;
};

} // namespace wyr::windows::system
