#include "wyr/windows/system/registry/RegistryNode.h"

#include <algorithm>
#include <cwctype>

namespace wyr::windows::system {

namespace {

wchar_t fold(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
}

} // namespace

RegistryNode::RegistryNode(std::wstring name, bool isVolatile)
    : _name(std::move(name)), _volatile(isVolatile), _lastWrite(Clock::now()) {}

RegistryNode::~RegistryNode() = default;

bool RegistryNode::sameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

bool RegistryNode::nameLess(std::wstring_view a, std::wstring_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return fold(x) < fold(y); });
}

RegistryNode* RegistryNode::findChild(std::wstring_view name) const {
    const auto it = std::find_if(_children.begin(), _children.end(),
                                 [&](const auto& child) { return sameName(child->_name, name); });
    return it == _children.end() ? nullptr : it->get();
}

RegistryNode& RegistryNode::ensureChild(const std::wstring& name, bool isVolatile, bool* created) {
    if (RegistryNode* existing = findChild(name)) {
        if (created != nullptr) {
            *created = false;
        }
        return *existing;
    }
    if (created != nullptr) {
        *created = true;
    }
    adoptChild(std::make_unique<RegistryNode>(name, isVolatile));
    touch();
    return *findChild(name);
}

void RegistryNode::adoptChild(std::unique_ptr<RegistryNode> child) {
    removeChild(child->_name);
    const auto at =
        std::upper_bound(_children.begin(), _children.end(), child->_name,
                         [](const std::wstring& n, const auto& c) { return nameLess(n, c->_name); });
    _children.insert(at, std::move(child));
}

std::unique_ptr<RegistryNode> RegistryNode::removeChild(std::wstring_view name) {
    const auto it = std::find_if(_children.begin(), _children.end(),
                                 [&](const auto& child) { return sameName(child->_name, name); });
    if (it == _children.end()) {
        return nullptr;
    }
    auto removed = std::move(*it);
    _children.erase(it);
    touch();
    return removed;
}

const RegValue* RegistryNode::findValue(std::wstring_view name) const {
    const auto it = std::find_if(_values.begin(), _values.end(),
                                 [&](const RegValue& v) { return sameName(v.name(), name); });
    return it == _values.end() ? nullptr : &*it;
}

void RegistryNode::setValue(RegValue value) {
    const auto it = std::find_if(_values.begin(), _values.end(),
                                 [&](const RegValue& v) { return sameName(v.name(), value.name()); });
    if (it == _values.end()) {
        _values.push_back(std::move(value));
    } else {
        // The value keeps the spelling it was created with.
        *it = RegValue(it->name(), value.type(), value.data());
    }
    touch();
}

bool RegistryNode::removeValue(std::wstring_view name) {
    const auto before = _values.size();
    std::erase_if(_values, [&](const RegValue& v) { return sameName(v.name(), name); });
    if (_values.size() == before) {
        return false;
    }
    touch();
    return true;
}

bool RegistryNode::holdsVolatile() const {
    return std::any_of(_children.begin(), _children.end(),
                       [](const auto& c) { return c && (c->_volatile || c->holdsVolatile()); });
}

void RegistryNode::adoptVolatileFrom(RegistryNode& from) {
    for (auto& child : from._children) {
        if (!child) {
            continue;
        }
        if (child->_volatile) {
            adoptChild(std::move(child));
        } else if (child->holdsVolatile()) {
            ensureChild(child->_name, false).adoptVolatileFrom(*child);
        }
    }
    std::erase_if(from._children, [](const auto& c) { return c == nullptr; });
}

} // namespace wyr::windows::system
