#include "wyr/windows/system/registry/RegistryFile.h"

#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <optional>
#include <vector>

namespace wyr::windows::system {

namespace {

constexpr std::wstring_view kRegedit4 = L"REGEDIT4";

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring_view trim(std::wstring_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool startsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
    return s.size() >= prefix.size() && RegistryNode::sameName(s.substr(0, prefix.size()), prefix);
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// 1 to 8 hexadecimal digits.
std::optional<std::uint32_t> parseHex32(std::wstring_view s) {
    if (s.empty() || s.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (const wchar_t c : s) {
        const int d = hexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

// Text of a settings file as wide characters; nullopt for bytes that are not text
// in a known encoding.
std::optional<std::wstring> decode(std::string_view bytes, std::wstring& reason) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            reason = L"The UTF-16 text ends in the middle of a character.";
            return std::nullopt;
        }
        RegValue::Data data(bytes.begin() + 2, bytes.end());
        data.push_back(0);
        data.push_back(0);
        std::wstring text = RegValue::decodeString(data);
        if (RegValue::encodeString(text) != data) {
            reason = L"The UTF-16 text holds an unpaired surrogate.";
            return std::nullopt;
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    std::wstring text = toWide(bytes);
    // Decoding replaces malformed sequences; a file that does not survive the
    // round trip is not UTF-8, and guessing its encoding could garble a setting.
    if (toNarrow(text) != bytes) {
        reason = L"The file is not UTF-8 text.";
        return std::nullopt;
    }
    return text;
}

class Parser {
public:
    Parser(std::wstring_view text, RegistryNode& root, RegistryFile::Outcome& outcome)
        : _root(root), _outcome(outcome) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(L'\n', start);
            if (end == std::wstring_view::npos) {
                end = text.size();
            }
            std::wstring_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == L'\r') {
                line.remove_suffix(1);
            }
            _lines.push_back(line);
            start = end + 1;
        }
    }

    void run() {
        bool headerSeen = false;
        for (_index = 0; _index < _lines.size(); ++_index) {
            const std::wstring_view line = trim(_lines[_index]);
            if (line.empty() || line.front() == L';') {
                continue;
            }
            if (!headerSeen) {
                if (line != RegistryFile::kHeader && line != kRegedit4) {
                    // Not a settings file at all, whatever else it holds.
                    _outcome.settingsFile = false;
                    _outcome.problems.assign(
                        1, {_index + 1, L"The file does not begin with a registry editor header."});
                    return;
                }
                headerSeen = true;
                continue;
            }
            if (line.front() == L'[') {
                section(line);
            } else if (line.front() == L'"' || line.front() == L'@') {
                value(line);
            } else {
                skip(L"Unexpected text.", _index);
            }
        }
    }

private:
    // Records a line that is not taken; false, for the caller to return.
    bool skip(std::wstring reason, std::size_t index) {
        ++_outcome.skippedLines;
        if (_outcome.problems.size() < RegistryFile::kListedProblems) {
            _outcome.problems.push_back({index + 1, std::move(reason)});
        }
        return false;
    }

    // A key line that cannot be taken: it and the values under it are skipped.
    void skipKey(const std::wstring& reason) {
        skip(reason + L" The key and its values are skipped.", _index);
        _current = nullptr;
        _values = Values::Skipped;
    }

    static bool restIsEmpty(std::wstring_view rest) {
        rest = trim(rest);
        return rest.empty() || rest.front() == L';';
    }

    void section(std::wstring_view line) {
        const std::size_t close = line.rfind(L']');
        if (close == std::wstring_view::npos || !restIsEmpty(line.substr(close + 1))) {
            return skipKey(L"A key line must end with \"]\".");
        }
        std::wstring_view path = line.substr(1, close - 1);
        const bool remove = !path.empty() && path.front() == L'-';
        if (remove) {
            path.remove_prefix(1);
        }
        std::vector<std::wstring_view> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t sep = path.find(L'\\', start);
            const std::wstring_view part =
                path.substr(start, sep == std::wstring_view::npos ? sep : sep - start);
            if (part.empty()) {
                return skipKey(L"A key name is empty.");
            }
            parts.push_back(part);
            if (sep == std::wstring_view::npos) {
                break;
            }
            start = sep + 1;
        }
        if (!RegistryNode::sameName(parts.front(), _root.name())) {
            return skipKey(L"The key is not under " + _root.name() + L".");
        }
        const std::size_t depth = parts.size() - 1;
        if (remove) {
            // A key deeper than the limit cannot exist; there is nothing to delete.
            _current = nullptr;
            _values = Values::UnderDeletedKey;
            RegistryNode* parent = depth > RegistryFile::kMaximumDepth ? nullptr : &_root;
            for (std::size_t i = 1; parent != nullptr && i + 1 < parts.size(); ++i) {
                parent = parent->findChild(parts[i]);
            }
            if (parent != nullptr && parts.size() > 1) {
                parent->removeChild(parts.back());
            }
            return;
        }
        if (depth > RegistryFile::kMaximumDepth) {
            return skipKey(L"The key is nested " + std::to_wstring(depth) + L" levels deep, more than the " +
                           std::to_wstring(RegistryFile::kMaximumDepth) + L" a settings file may use.");
        }
        RegistryNode* node = &_root;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            node = &node->ensureChild(std::wstring(parts[i]), false);
        }
        _current = node;
        _values = Values::Taken;
    }

    // A quoted string from `pos` (at the opening quote); `pos` ends after the
    // closing quote. Only \\ and \" are escapes; any other backslash is kept.
    static bool quoted(std::wstring_view line, std::size_t& pos, std::wstring& out) {
        out.clear();
        for (std::size_t i = pos + 1; i < line.size(); ++i) {
            const wchar_t c = line[i];
            if (c == L'"') {
                pos = i + 1;
                return true;
            }
            if (c == L'\\' && i + 1 < line.size() && (line[i + 1] == L'\\' || line[i + 1] == L'"')) {
                out.push_back(line[++i]);
            } else {
                out.push_back(c);
            }
        }
        return false;
    }

    bool value(std::wstring_view line) {
        const std::size_t first = _index;
        std::wstring name;
        std::size_t pos = 0;
        if (line.front() == L'@') {
            pos = 1;
        } else if (!quoted(line, pos, name)) {
            return skip(L"A value name has no closing quote.", first);
        }
        while (pos < line.size() && isBlank(line[pos])) {
            ++pos;
        }
        if (pos >= line.size() || line[pos] != L'=') {
            return skip(L"A value name must be followed by \"=\".", first);
        }
        const std::wstring_view data = trim(line.substr(pos + 1));
        if (_values == Values::BeforeAnyKey) {
            return skip(L"A value comes before any key.", first);
        }
        std::optional<RegValue> parsed;
        bool remove = false;
        if (!data.empty() && data.front() == L'"') {
            std::size_t end = 0;
            std::wstring text;
            if (!quoted(data, end, text)) {
                return skip(L"A string value has no closing quote.", first);
            }
            if (!restIsEmpty(data.substr(end))) {
                return skip(L"Unexpected text after a string value.", first);
            }
            parsed = RegValue::fromString(name, text);
        } else if (data == L"-") {
            remove = true;
        } else if (startsWithNoCase(data, L"dword:")) {
            const auto number = parseHex32(trim(data.substr(6)));
            if (!number) {
                return skip(L"A dword value needs one to eight hexadecimal digits.", first);
            }
            parsed = RegValue::fromDword(name, *number);
        } else if (startsWithNoCase(data, L"hex")) {
            parsed.emplace();
            if (!hex(name, data.substr(3), *parsed)) {
                return false;
            }
        } else {
            return skip(L"Unknown value data.", first);
        }
        if (_values == Values::Skipped) {
            // Under a key line that was skipped: counted with it, not listed.
            ++_outcome.skippedLines;
            return true;
        }
        if (_current == nullptr) {
            return true; // under a deleted key
        }
        if (remove) {
            _current->removeValue(name);
        } else {
            _current->setValue(std::move(*parsed));
        }
        return true;
    }

    // hex:aa,bb or hex(n):aa,bb with continuation lines; `rest` follows "hex".
    bool hex(const std::wstring& name, std::wstring_view rest, RegValue& out) {
        const std::size_t first = _index;
        std::uint32_t type = RegValueType::REG_BINARY.value();
        if (!rest.empty() && rest.front() == L'(') {
            const std::size_t close = rest.find(L')');
            const auto number =
                close == std::wstring_view::npos ? std::nullopt : parseHex32(rest.substr(1, close - 1));
            if (!number) {
                return skip(L"A hex(n) value needs a hexadecimal type number.", first);
            }
            type = *number;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != L':') {
            return skip(L"Unknown value data.", first);
        }
        std::wstring list(trim(rest.substr(1)));
        while (!list.empty() && list.back() == L'\\') {
            list.pop_back();
            if (_index + 1 >= _lines.size()) {
                return skip(L"A continued hex value ends with the file.", first);
            }
            list += trim(_lines[++_index]);
        }
        RegValue::Data bytes;
        std::size_t start = 0;
        while (start < list.size()) {
            std::size_t comma = list.find(L',', start);
            if (comma == std::wstring::npos) {
                comma = list.size();
            }
            const std::wstring_view token = trim(std::wstring_view(list).substr(start, comma - start));
            const auto byte = token.size() <= 2 ? parseHex32(token) : std::nullopt;
            if (!byte) {
                return skip(L"A hex value needs comma-separated bytes of two hexadecimal digits.", first);
            }
            bytes.push_back(static_cast<std::uint8_t>(*byte));
            start = comma + 1;
        }
        out = RegValue(name, type, std::move(bytes));
        return true;
    }

    // Where the values of the lines that follow go.
    enum class Values { BeforeAnyKey, Taken, UnderDeletedKey, Skipped };

    RegistryNode& _root;
    RegistryFile::Outcome& _outcome;
    std::vector<std::wstring_view> _lines;
    std::size_t _index = 0;
    RegistryNode* _current = nullptr;
    Values _values = Values::BeforeAnyKey;
};

std::wstring escape(std::wstring_view s) {
    std::wstring out;
    out.reserve(s.size() + 2);
    for (const wchar_t c : s) {
        if (c == L'\\' || c == L'"') {
            out.push_back(L'\\');
        }
        out.push_back(c);
    }
    return out;
}

// A string value that a quoted line can carry unchanged.
bool quotable(const RegValue& value) {
    if (value.type() != RegValueType::REG_SZ.value()) {
        return false;
    }
    const std::wstring text = RegValue::decodeString(value.data());
    return RegistryFile::isWritableName(text) && RegValue::encodeString(text) == value.data();
}

void appendValue(std::wstring& out, const RegValue& value) {
    std::wstring line = value.name().empty() ? L"@=" : L"\"" + escape(value.name()) + L"\"=";
    std::uint32_t number = 0;
    if (quotable(value)) {
        line += L"\"" + escape(RegValue::decodeString(value.data())) + L"\"";
    } else if (value.type() == RegValueType::REG_DWORD.value() && value.data().size() == 4 &&
               value.asDword(number)) {
        wchar_t buffer[16];
        std::swprintf(buffer, 16, L"dword:%08x", number);
        line += buffer;
    } else {
        wchar_t buffer[24];
        if (value.type() == RegValueType::REG_BINARY.value()) {
            line += L"hex:";
        } else {
            std::swprintf(buffer, 24, L"hex(%x):", value.type());
            line += buffer;
        }
        std::size_t column = line.size();
        const auto& data = value.data();
        for (std::size_t i = 0; i < data.size(); ++i) {
            std::swprintf(buffer, 24, L"%02x", static_cast<unsigned>(data[i]));
            if (i > 0) {
                // Lines stay within 80 columns, as the platform's editor writes them.
                if (column + 4 > 78) {
                    line += L",\\\n  ";
                    column = 2;
                } else {
                    line += L",";
                    ++column;
                }
            }
            line += buffer;
            column += 2;
        }
    }
    out += line;
    out += L'\n';
}

// `path` is the key's full name; it grows and shrinks back as the walk goes down
// and up, so each name is copied once.
void appendKey(std::wstring& out, const RegistryNode& node, std::wstring& path, bool isRoot) {
    if (node.isVolatile()) {
        return;
    }
    const bool hasKeptChildren = std::any_of(node.children().begin(), node.children().end(),
                                             [](const auto& entry) { return !entry.second->isVolatile(); });
    if (!node.values().empty() || (!hasKeptChildren && !isRoot)) {
        out += L"\n[";
        out += path;
        out += L"]\n";
        for (const auto& value : node.values()) {
            appendValue(out, value);
        }
    }
    const std::size_t length = path.size();
    for (const auto& [name, child] : node.children()) {
        path += L'\\';
        path += child->name();
        appendKey(out, *child, path, false);
        path.resize(length);
    }
}

} // namespace

bool RegistryFile::isWritableName(std::wstring_view name) {
    return std::none_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

RegistryFile::Outcome RegistryFile::parse(std::string_view bytes, RegistryNode& root) {
    Outcome outcome;
    if (bytes.size() > kMaximumSize) {
        outcome.settingsFile = false;
        outcome.problems.push_back({0, L"The file is too large to be a settings file."});
        return outcome;
    }
    std::wstring reason;
    const auto text = decode(bytes, reason);
    if (!text) {
        outcome.settingsFile = false;
        outcome.problems.push_back({0, std::move(reason)});
        return outcome;
    }
    Parser(*text, root, outcome).run();
    return outcome;
}

std::string RegistryFile::format(const RegistryNode& root) {
    std::wstring out = kHeader;
    out += L'\n';
    std::wstring path = root.name();
    appendKey(out, root, path, true);
    return toNarrow(out);
}

} // namespace wyr::windows::system
