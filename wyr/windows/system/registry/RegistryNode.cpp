#include "wyr/windows/system/registry/RegistryNode.h"

#include "wyr/windows/system/TextFormat.h"

#include <algorithm>
#include <wctype.h>

namespace wyr::windows::system {

namespace {

// Folding by the text locale, not the user's: the order of a map must never change
// while it holds keys. Names are mostly ASCII, which needs no table.
wchar_t fold(wchar_t c) {
    if (c < 0x80) {
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    }
    return static_cast<wchar_t>(::towupper_l(static_cast<wint_t>(c), textLocale()));
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

std::wstring RegistryNode::foldedName(std::wstring_view name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) {
        c = fold(c);
    }
    return folded;
}

RegistryNode* RegistryNode::findChild(std::wstring_view name) const {
    const auto it = _children.find(name);
    return it == _children.end() ? nullptr : it->second.get();
}

RegistryNode& RegistryNode::ensureChild(const std::wstring& name, bool isVolatile, bool* created) {
    const auto [it, inserted] = _children.try_emplace(name);
    if (inserted) {
        it->second = std::make_unique<RegistryNode>(name, isVolatile);
        touch();
    }
    if (created != nullptr) {
        *created = inserted;
    }
    return *it->second;
}

void RegistryNode::adoptChild(std::unique_ptr<RegistryNode> child) {
    removeChild(child->_name);
    std::wstring name = child->_name;
    _children.emplace(std::move(name), std::move(child));
}

std::unique_ptr<RegistryNode> RegistryNode::removeChild(std::wstring_view name) {
    const auto it = _children.find(name);
    if (it == _children.end()) {
        return nullptr;
    }
    auto removed = std::move(it->second);
    _children.erase(it);
    touch();
    return removed;
}

const RegValue* RegistryNode::findValue(std::wstring_view name) const {
    const auto it = _valueIndex.find(foldedName(name));
    return it == _valueIndex.end() ? nullptr : &*it->second;
}

void RegistryNode::setValue(RegValue value) {
    std::wstring folded = foldedName(value.name());
    const auto it = _valueIndex.find(folded);
    if (it == _valueIndex.end()) {
        _values.push_back(std::move(value));
        _valueIndex.emplace(std::move(folded), std::prev(_values.end()));
    } else {
        // The value keeps the spelling it was created with.
        *it->second = RegValue(it->second->name(), value.type(), value.data());
    }
    touch();
}

bool RegistryNode::removeValue(std::wstring_view name) {
    const auto it = _valueIndex.find(foldedName(name));
    if (it == _valueIndex.end()) {
        return false;
    }
    _values.erase(it->second);
    _valueIndex.erase(it);
    touch();
    return true;
}

bool RegistryNode::holdsVolatile() const {
    return std::any_of(_children.begin(), _children.end(), [](const auto& entry) {
        return entry.second && (entry.second->_volatile || entry.second->holdsVolatile());
    });
}

void RegistryNode::adoptVolatileFrom(RegistryNode& from) {
    for (auto& [name, child] : from._children) {
        if (!child) {
            continue;
        }
        if (child->_volatile) {
            adoptChild(std::move(child));
        } else if (child->holdsVolatile()) {
            ensureChild(child->_name, false).adoptVolatileFrom(*child);
        }
    }
    std::erase_if(from._children, [](const auto& entry) { return entry.second == nullptr; });
}

} // namespace wyr::windows::system
