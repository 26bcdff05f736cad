#pragma once

#include "wyr/windows/system/registry/RegistryNode.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
    // Levels of keys below the root. No settings file needs more; a deeper key
    // (a hand-made file) is skipped rather than nested without end.
    static constexpr std::size_t kMaximumDepth = 64;
    // Skipped lines beyond this many are counted, not listed.
    static constexpr std::size_t kListedProblems = 20;

    struct Problem {
        std::size_t line = 0; // 1-based; 0 when it concerns the whole file
        std::wstring reason;
    };

    struct Outcome {
        // False when the bytes are not a settings file at all (not text, no
        // header, too large): then nothing should be taken from them.
        bool settingsFile = true;
        // The first kListedProblems lines that were skipped, in line order, or the
        // reason the file is not a settings file.
        std::vector<Problem> problems;
        // How many lines were skipped in all.
        std::size_t skippedLines = 0;

        bool complete() const noexcept { return settingsFile && skippedLines == 0; }
    };

    // Fills `root` (named after the file's root key, for example
    // HKEY_CURRENT_USER) from the file's bytes. A line that cannot be read is
    // skipped, and with a key line every value until the next key; everything
    // else is taken.
    static Outcome parse(std::string_view bytes, RegistryNode& root);

    // The UTF-8 text of every non-volatile key under `root`. A key is written when
    // it has values or no subkeys; the keys above it are implied by its path.
    static std::string format(const RegistryNode& root);

    // Whether a key or value name can stand in the file: no control characters.
    static bool isWritableName(std::wstring_view name);

    static constexpr const wchar_t* kHeader = L"Windows Registry Editor Version 5.00";
};

} // namespace wyr::windows::system
