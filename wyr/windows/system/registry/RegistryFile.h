#pragma once

#include "wyr/windows/system/registry/RegistryNode.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace wyr::windows::system {

// The registry export text format of a settings file:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vendor\Product\Group]
//   "Name"="text with \\ and \" escaped"
//
// Reading also accepts "REGEDIT4", a UTF-8 or UTF-16LE byte-order mark, CR LF
// line ends, blank lines, ";" comments, "@" for a key's default value, dword: and
// hex:/hex(n): data (with "\" continuation lines) and the "[-key]" and "name"=-
// deletions. Strings that a quoted value cannot carry (line breaks and other
// control characters) are written as hex(1): data, so every value survives.
class RegistryFile {
public:
    // Settings never come near this; a bigger file is not taken for one.
    static constexpr std::size_t kMaximumSize = 64U * 1024U * 1024U;

    struct Problem {
        std::size_t line = 0; // 1-based; 0 when it concerns the whole file
        std::wstring reason;
    };

    // Fills `root` (named after the file's root key, for example
    // HKEY_CURRENT_USER) from the file's bytes. On failure `root` may hold part of
    // the file and `problem` says where and why.
    static bool parse(std::string_view bytes, RegistryNode& root, Problem& problem);

    // The UTF-8 text of every non-volatile key under `root`. A key is written when
    // it has values or no subkeys; the keys above it are implied by its path.
    static std::string format(const RegistryNode& root);

    // Whether a key or value name can stand in the file: no control characters.
    static bool isWritableName(std::wstring_view name);

    static constexpr const wchar_t* kHeader = L"Windows Registry Editor Version 5.00";
};

} // namespace wyr::windows::system
