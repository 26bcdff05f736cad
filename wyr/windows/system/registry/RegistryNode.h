#pragma once

#include "wyr/windows/system/registry/RegValue.h"

#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace wyr::windows::system {

// One key of an in-memory hive. Key and value names compare without regard to
// case, as the registry does, and keep the spelling they were created with.
// Subkeys are kept in name order (the order enumeration reports them in), values
// in the order they were first set. Finding, adding and removing a subkey or a
// value costs a logarithm of their number, so a key may hold many.
class RegistryNode {
public:
    using Clock = std::chrono::system_clock;

    // Case-insensitive name order, the same in every user locale.
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::wstring_view a, std::wstring_view b) const { return nameLess(a, b); }
    };
    using Children = std::map<std::wstring, std::unique_ptr<RegistryNode>, NameLess>;
    using Values = std::list<RegValue>;

    explicit RegistryNode(std::wstring name = {}, bool isVolatile = false);
    virtual ~RegistryNode();
    RegistryNode(const RegistryNode&) = delete;
    RegistryNode& operator=(const RegistryNode&) = delete;

    const std::wstring& name() const noexcept { return _name; }
    bool isVolatile() const noexcept { return _volatile; }
    Clock::time_point lastWriteTime() const noexcept { return _lastWrite; }
    void touch(Clock::time_point when = Clock::now()) noexcept { _lastWrite = when; }

    // Keyed by name; each child carries its own spelling.
    const Children& children() const noexcept { return _children; }
    const Values& values() const noexcept { return _values; }

    RegistryNode* findChild(std::wstring_view name) const;
    // The existing child of that name, or a new one (then `created` is set).
    RegistryNode& ensureChild(const std::wstring& name, bool isVolatile, bool* created = nullptr);
    // Puts a subtree in place of any child of the same name.
    void adoptChild(std::unique_ptr<RegistryNode> child);
    std::unique_ptr<RegistryNode> removeChild(std::wstring_view name);

    const RegValue* findValue(std::wstring_view name) const;
    // Replaces a value of the same name in place, or appends it.
    void setValue(RegValue value);
    bool removeValue(std::wstring_view name);

    // Moves every volatile subtree of `from` to the same place under this node;
    // keys on the way that this tree lacks are created.
    void adoptVolatileFrom(RegistryNode& from);
    bool holdsVolatile() const;

    static bool sameName(std::wstring_view a, std::wstring_view b);
    static bool nameLess(std::wstring_view a, std::wstring_view b);
    // The spelling every name that is the same name folds to.
    static std::wstring foldedName(std::wstring_view name);

private:
    std::wstring _name;
    bool _volatile;
    Clock::time_point _lastWrite;
    Children _children;
    Values _values;
    std::unordered_map<std::wstring, Values::iterator> _valueIndex; // by folded name
};

} // namespace wyr::windows::system
