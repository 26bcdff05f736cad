// Feeds arbitrary bytes to the settings file reader and every string value it
// finds to the configuration store's text form, and checks that what is read stays
// within its limits and survives being written and read again unchanged; then
// opens the same bytes as the settings file, through the store, as a start does.
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/registry/RegistryFile.h"
#include "wyr/windows/system/registry/RegistryHive.h"
#include "wyr/windows/system/registry/RegistryNode.h"

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

namespace {

using wyr::windows::config::ConfigMgr;
using wyr::windows::config::ConfigValue;
using wyr::windows::system::RegistryFile;
using wyr::windows::system::RegistryNode;

// A listener that takes every verbosity, so that every log line is formatted.
void setUpLogging() {
    static const bool done = [] {
        wyr::windows::logging::LogBeacon::instance().connect([](const wyr::windows::logging::LogVerbosity&,
                                                                wyr::windows::system::SYSTEMTIME,
                                                                const wchar_t*, const wchar_t*) {},
                                                             0xFFFF);
        return true;
    }();
    (void)done;
}

class Store : public ConfigMgr {
public:
    Store() = default;
};

// A private folder holding the settings file; removed when the process ends normally.
const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path = [] {
        char name[] = "/tmp/settings-fuzz-XXXXXX";
        if (::mkdtemp(name) == nullptr) {
            std::abort();
        }
        const std::filesystem::path file = std::filesystem::path(name) / "Orvane.reg";
        wyr::windows::system::RegistryHive::setFileOverride(file.string());
        return file;
    }();
    return path;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool sameValue(const ConfigValue& a, const ConfigValue& b) {
    const auto* x = boost::get<double>(&a);
    const auto* y = boost::get<double>(&b);
    if (x != nullptr && y != nullptr && std::isnan(*x) && std::isnan(*y)) {
        return true;
    }
    return a == b;
}

// A stored text either does not convert or converts to a value whose own text
// converts back to it.
void checkTextForm(const std::wstring& text) {
    ConfigValue value;
    try {
        if (ConfigMgr::parse(text, value) != 0) {
            return;
        }
    } catch (const boost::bad_lexical_cast&) {
        return;
    }
    ConfigValue back;
    check(ConfigMgr::parse(ConfigMgr::format(value), back) == 0);
    check(sameValue(value, back));
}

void walk(const RegistryNode& node, std::size_t depth) {
    check(depth <= RegistryFile::kMaximumDepth);
    for (const auto& value : node.values()) {
        std::wstring text;
        if (value.asString(text)) {
            checkTextForm(text);
        }
    }
    for (const auto& [name, child] : node.children()) {
        check(child != nullptr && RegistryNode::sameName(name, child->name()));
        walk(*child, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUpLogging();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RegistryNode root(L"HKEY_CURRENT_USER");
    const RegistryFile::Outcome outcome = RegistryFile::parse(bytes, root);
    check(!outcome.problems.empty() || outcome.complete());
    check(outcome.problems.size() <= RegistryFile::kListedProblems);
    if (outcome.settingsFile) {
        check(outcome.skippedLines >= outcome.problems.size());
        walk(root, 0);
        // What is written is read back whole, and writing that again changes nothing.
        const std::string text = RegistryFile::format(root);
        RegistryNode again(L"HKEY_CURRENT_USER");
        check(RegistryFile::parse(text, again).complete());
        check(RegistryFile::format(again) == text);
    }

    // As a start reads it: a new file each time, so the store reads it again.
    static Store store;
    const std::filesystem::path& file = scratchFile();
    {
        std::ofstream out(file.string() + ".new", std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::rename(file.string() + ".new", file);
    store.open(L"Software\\Tolvek\\Orvane\\Config");
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ignored)) {
        if (entry.path() != file) {
            std::filesystem::remove(entry.path(), ignored); // the copies set aside
        }
    }
    wyr::windows::logging::LogBeacon::instance().flush();
    return 0;
}
