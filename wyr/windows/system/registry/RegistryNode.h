#pragma once

#include "wyr/windows/system/registry/RegValue.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wyr::windows::system {

// One key of an in-memory hive. Key and value names compare without regard to
// case, as the registry does, and keep the spelling they were created with.
// Subkeys are kept in name order (the order enumeration reports them in), values
// in the order they were first set.
class RegistryNode {
public:
    using Clock = std::chrono::system_clock;

    explicit RegistryNode(std::wstring name = {}, bool isVolatile = false);
    virtual ~RegistryNode();
    RegistryNode(const RegistryNode&) = delete;
    RegistryNode& operator=(const RegistryNode&) = delete;

    const std::wstring& name() const noexcept { return _name; }
    bool isVolatile() const noexcept { return _volatile; }
    Clock::time_point lastWriteTime() const noexcept { return _lastWrite; }
    void touch(Clock::time_point when = Clock::now()) noexcept { _lastWrite = when; }

    const std::vector<std::unique_ptr<RegistryNode>>& children() const noexcept { return _children; }
    const std::vector<RegValue>& values() const noexcept { return _values; }

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

private:
    std::wstring _name;
    bool _volatile;
    Clock::time_point _lastWrite;
    std::vector<std::unique_ptr<RegistryNode>> _children;
    std::vector<RegValue> _values;
};

} // namespace wyr::windows::system
