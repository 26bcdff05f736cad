#include "wyr/windows/system/registry/RegKey.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/registry/RegistryFile.h"
#include "wyr/windows/system/registry/RegistryHive.h"
#include "wyr/windows/system/registry/RegistryNode.h"

#include <algorithm>
#include <stdexcept>
#include <unistd.h>

namespace wyr::windows::system {

using logging::log;
using logging::LogVerbosity;
using logging::trace;

namespace {

std::vector<std::wstring> splitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t sep = path.find(L'\\', start);
        if (sep == std::wstring::npos) {
            sep = path.size();
        }
        if (sep > start) {
            parts.push_back(path.substr(start, sep - start));
        }
        start = sep + 1;
    }
    return parts;
}

std::wstring joinPath(const std::vector<std::wstring>& parts) {
    std::wstring path;
    for (const auto& part : parts) {
        if (!path.empty()) {
            path += L'\\';
        }
        path += part;
    }
    return path;
}

// The node at `parts` below `from`; `inVolatile` tells whether the path passes a
// volatile key (then nothing of it reaches the file).
RegistryNode* resolve(RegistryNode& from, const std::vector<std::wstring>& parts, bool* inVolatile = nullptr,
                      std::size_t count = std::wstring::npos) {
    RegistryNode* node = &from;
    bool isVolatile = from.isVolatile();
    count = std::min(count, parts.size());
    for (std::size_t i = 0; i < count && node != nullptr; ++i) {
        node = node->findChild(parts[i]);
        isVolatile = isVolatile || (node != nullptr && node->isVolatile());
    }
    if (inVolatile != nullptr) {
        *inVolatile = isVolatile;
    }
    return node;
}

// Locks the root's hive, brings it up to date with the file and finds the key at
// `path`; null, with the reason in rc, when the file cannot be read or the key is gone.
const RegistryNode* lockedNode(const RegRootKey& root, const std::wstring& path,
                               std::unique_lock<std::mutex>& guard, ErrorCode& rc) {
    RegistryHive* hive = RegistryHive::of(root);
    guard = hive->lock();
    // A recovered file is readable; RegKey::open reports the recovery.
    if ((rc = hive->refresh()) != ERROR_SUCCESS && rc != ERROR_REGISTRY_RECOVERED) {
        return nullptr;
    }
    const RegistryNode* node = resolve(hive->root(), splitPath(path));
    rc = node == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
    return node;
}

bool has(std::uint32_t access, const RegAccess& right) {
    return (access & right.value()) == right.value();
}

// Whether the settings file can hold a key at `depth` levels below the root with
// these names, and everything the local copy holds below it.
bool storable(const RegKey& key, const std::vector<std::wstring>& pathParts, std::size_t depth) {
    const auto writable = [](const std::wstring& n) { return RegistryFile::isWritableName(n); };
    if (depth > RegistryFile::kMaximumDepth || !std::all_of(pathParts.begin(), pathParts.end(), writable)) {
        return false;
    }
    for (const auto& value : key.values()) {
        if (!writable(value.name())) {
            return false;
        }
    }
    for (const auto& child : key.children()) {
        if (!storable(child, {child.name()}, depth + 1)) {
            return false;
        }
    }
    return true;
}

void apply(RegistryNode& node, const RegKey& key) {
    for (const auto& value : key.values()) {
        node.setValue(value);
    }
    for (const auto& child : key.children()) {
        apply(node.ensureChild(child.name(), node.isVolatile()), child);
    }
}

} // namespace

RegKey::RegKey(const RegRootKey& root, const std::wstring& path)
    : _root(&root), _path(joinPath(splitPath(path))) {}

RegKey::~RegKey() = default;

// The child index points into the list; a copy points into its own.
RegKey::RegKey(const RegKey& other)
    : _root(other._root), _path(other._path), _open(other._open), _access(other._access),
      _children(other._children), _values(other._values), _valueIndex(other._valueIndex) {
    indexChildren();
}

RegKey& RegKey::operator=(const RegKey& other) {
    if (this != &other) {
        RegKey copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void RegKey::indexChildren() {
    _childIndex.clear();
    for (auto it = _children.begin(); it != _children.end(); ++it) {
        _childIndex.emplace(RegistryNode::foldedName(it->name()), it);
    }
}

void RegKey::fill(const RegistryNode& node, bool recursive) {
    _children.clear();
    _childIndex.clear();
    for (const auto& [name, child] : node.children()) {
        RegKey& local =
            _children.emplace_back(*_root, _path.empty() ? child->name() : _path + L"\\" + child->name());
        _childIndex.emplace(RegistryNode::foldedName(child->name()), std::prev(_children.end()));
        if (recursive) {
            local.fill(*child, true);
        }
    }
    _values.assign(node.values().begin(), node.values().end());
    _valueIndex.clear();
    for (std::size_t i = 0; i < _values.size(); ++i) {
        _valueIndex.emplace(RegistryNode::foldedName(_values[i].name()), i);
    }
}

std::wstring RegKey::name() const {
    const auto sep = _path.rfind(L'\\');
    if (_path.empty()) {
        return _root->name();
    }
    return sep == std::wstring::npos ? _path : _path.substr(sep + 1);
}

std::wstring RegKey::fullName() const {
    return _path.empty() ? _root->name() : _root->name() + L"\\" + _path;
}

ErrorCode RegKey::connect(const std::wstring& computer) const {
    trace("RegKey::connect");
    std::wstring host = computer;
    while (!host.empty() && host.front() == L'\\') {
        host.erase(0, 1);
    }
    char hostName[256] = {};
    ::gethostname(hostName, sizeof hostName - 1);
    const bool local = host.empty() || host == L"." || RegistryNode::sameName(host, L"localhost") ||
                       RegistryNode::sameName(host, toWide(hostName));
    if (!local) {
        return ERROR_BAD_NETPATH;
    }
    return RegistryHive::of(*_root) != nullptr ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

ErrorCode RegKey::open(std::uint32_t access) {
    trace("RegKey::open");
    close();
    RegistryHive* hive = RegistryHive::of(*_root);
    if (hive == nullptr) {
        return ERROR_NOT_SUPPORTED;
    }
    const auto guard = hive->lock();
    const ErrorCode rc = hive->refresh();
    if (rc != ERROR_SUCCESS && rc != ERROR_REGISTRY_RECOVERED) {
        return rc;
    }
    if (resolve(hive->root(), splitPath(_path)) == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    _open = true;
    _access = access;
    return rc;
}

ErrorCode RegKey::create(const RegKeyOption& options, std::uint32_t access,
                         const RegDisposition** disposition) {
    trace("RegKey::create");
    close();
    RegistryHive* hive = RegistryHive::of(*_root);
    if (hive == nullptr) {
        return ERROR_NOT_SUPPORTED;
    }
    const auto parts = splitPath(_path);
    if (parts.size() > RegistryFile::kMaximumDepth ||
        !std::all_of(parts.begin(), parts.end(),
                     [](const auto& p) { return RegistryFile::isWritableName(p); })) {
        return ERROR_INVALID_NAME;
    }
    const auto guard = hive->lock();
    // A file that was set aside or cannot be read leaves an empty tree; saving
    // reports its own failure.
    hive->refresh();
    const bool makeVolatile = options == RegKeyOption::REG_OPTION_VOLATILE;
    RegistryNode* node = &hive->root();
    bool inVolatile = node->isVolatile();
    bool createdAny = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        // Only the key itself is volatile; parents it needs are ordinary keys.
        const bool last = i + 1 == parts.size();
        bool created = false;
        node = &node->ensureChild(parts[i], (makeVolatile && last) || inVolatile, &created);
        createdAny = createdAny || created;
        inVolatile = inVolatile || node->isVolatile();
    }
    if (disposition != nullptr) {
        *disposition =
            createdAny ? &RegDisposition::REG_CREATED_NEW_KEY : &RegDisposition::REG_OPENED_EXISTING_KEY;
    }
    if (createdAny && !inVolatile) {
        if (const ErrorCode rc = hive->commit(); rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    _open = true;
    _access = access;
    return ERROR_SUCCESS;
}

void RegKey::close() noexcept {
    _open = false;
    _access = 0;
}

ErrorCode RegKey::enumerate() {
    trace("RegKey::enumerate");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_ENUMERATE_SUB_KEYS) || !has(_access, RegAccess::KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::unique_lock<std::mutex> guard;
    ErrorCode rc = ERROR_SUCCESS;
    const RegistryNode* node = lockedNode(*_root, _path, guard, rc);
    if (node == nullptr) {
        return rc;
    }
    fill(*node, false);
    return ERROR_SUCCESS;
}

ErrorCode RegKey::enumerateTree() {
    trace("RegKey::enumerateTree");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_ENUMERATE_SUB_KEYS) || !has(_access, RegAccess::KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::unique_lock<std::mutex> guard;
    ErrorCode rc = ERROR_SUCCESS;
    const RegistryNode* node = lockedNode(*_root, _path, guard, rc);
    if (node == nullptr) {
        return rc;
    }
    fill(*node, true);
    return ERROR_SUCCESS;
}

ErrorCode RegKey::queryInfo(RegKeyInfo& info) {
    trace("RegKey::queryInfo");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::unique_lock<std::mutex> guard;
    ErrorCode rc = ERROR_SUCCESS;
    const RegistryNode* node = lockedNode(*_root, _path, guard, rc);
    if (node == nullptr) {
        return rc;
    }
    info = RegKeyInfo{};
    info.subKeys = static_cast<std::uint32_t>(node->children().size());
    info.values = static_cast<std::uint32_t>(node->values().size());
    for (const auto& [name, child] : node->children()) {
        info.maxSubKeyLength =
            std::max(info.maxSubKeyLength, static_cast<std::uint32_t>(child->name().size()));
    }
    for (const auto& value : node->values()) {
        info.maxValueNameLength =
            std::max(info.maxValueNameLength, static_cast<std::uint32_t>(value.name().size()));
        info.maxValueDataLength =
            std::max(info.maxValueDataLength, static_cast<std::uint32_t>(value.data().size()));
    }
    info.lastWriteTime = node->lastWriteTime();
    return ERROR_SUCCESS;
}

ErrorCode RegKey::readValue(const std::wstring& name, RegValue& out) {
    trace("RegKey::readValue");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::unique_lock<std::mutex> guard;
    ErrorCode rc = ERROR_SUCCESS;
    const RegistryNode* node = lockedNode(*_root, _path, guard, rc);
    if (node == nullptr) {
        return rc;
    }
    const RegValue* value = node->findValue(name);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    out = *value;
    return ERROR_SUCCESS;
}

ErrorCode RegKey::deleteValue(const std::wstring& name) {
    trace("RegKey::deleteValue");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_SET_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    RegistryHive* hive = RegistryHive::of(*_root);
    const auto guard = hive->lock();
    hive->refresh();
    bool inVolatile = false;
    RegistryNode* node = resolve(hive->root(), splitPath(_path), &inVolatile);
    if (node == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (!node->removeValue(name)) {
        return ERROR_FILE_NOT_FOUND;
    }
    return inVolatile ? ERROR_SUCCESS : hive->commit();
}

ErrorCode RegKey::deleteKey(const std::wstring& subKey) {
    trace("RegKey::deleteKey");
    if (!_open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!has(_access, RegAccess::KEY_SET_VALUE) || !has(_access, RegAccess::KEY_CREATE_SUB_KEY)) {
        return ERROR_ACCESS_DENIED;
    }
    const auto relative = splitPath(subKey);
    if (relative.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryHive* hive = RegistryHive::of(*_root);
    const auto guard = hive->lock();
    hive->refresh();
    bool keyVolatile = false;
    RegistryNode* node = resolve(hive->root(), splitPath(_path), &keyVolatile);
    if (node == nullptr) {
        return ERROR_KEY_DELETED;
    }
    bool parentVolatile = false;
    RegistryNode* parent = resolve(*node, relative, &parentVolatile, relative.size() - 1);
    const auto removed = parent == nullptr ? nullptr : parent->removeChild(relative.back());
    if (!removed) {
        return ERROR_FILE_NOT_FOUND;
    }
    return keyVolatile || parentVolatile || removed->isVolatile() ? ERROR_SUCCESS : hive->commit();
}

const RegValue* RegKey::findValue(const std::wstring& name) const {
    const auto it = _valueIndex.find(RegistryNode::foldedName(name));
    return it == _valueIndex.end() ? nullptr : &_values[it->second];
}

RegKey& RegKey::child(const std::wstring& name) {
    if (name.find(L'\\') != std::wstring::npos) {
        throw std::invalid_argument("Name cannot contain the seperator character.");
    }
    if (name.empty()) {
        throw std::invalid_argument("Name cannot be empty.");
    }
    std::wstring folded = RegistryNode::foldedName(name);
    if (const auto it = _childIndex.find(folded); it != _childIndex.end()) {
        return *it->second;
    }
    RegKey& added = _children.emplace_back(*_root, _path.empty() ? name : _path + L"\\" + name);
    _childIndex.emplace(std::move(folded), std::prev(_children.end()));
    return added;
}

void RegKey::setValue(RegValue value) {
    std::wstring folded = RegistryNode::foldedName(value.name());
    if (const auto it = _valueIndex.find(folded); it != _valueIndex.end()) {
        _values[it->second] = std::move(value);
        return;
    }
    _valueIndex.emplace(std::move(folded), _values.size());
    _values.push_back(std::move(value));
}

ErrorCode RegKey::write() {
    trace("RegKey::write");
    RegistryHive* hive = RegistryHive::of(*_root);
    if (hive == nullptr) {
        return ERROR_NOT_SUPPORTED;
    }
    const auto parts = splitPath(_path);
    if (!storable(*this, parts, parts.size())) {
        return ERROR_INVALID_NAME;
    }
    const auto guard = hive->lock();
    hive->refresh();
    RegistryNode* node = &hive->root();
    for (const auto& part : parts) {
        node = &node->ensureChild(part, node->isVolatile());
    }
    apply(*node, *this);
    return hive->commit();
}

} // namespace wyr::windows::system
