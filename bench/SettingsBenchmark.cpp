// Opening, reading and saving the settings file: a large file (1 MB), a hand-made
// one nested far deeper than any settings need, and one key holding 40 000 values.
// The file lives in /dev/shm where there is one, so the figures are the program's
// own work; on a disk a save adds the time of its two flushes.
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/registry/RegKey.h"
#include "wyr/windows/system/registry/RegistryFile.h"
#include "wyr/windows/system/registry/RegistryHive.h"
#include "wyr/windows/system/registry/RegistryNode.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace wyr::windows::config;
using namespace wyr::windows::system;

const std::wstring kPath = L"Software\\Tolvek\\Orvane\\Config";
const std::string kSection = "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config";

class Manager : public ConfigMgr {
public:
    Manager() = default;
};

// A private settings file for one benchmark.
class SettingsFile {
public:
    SettingsFile() {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string folder = (base / "orvane-settings-bench-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::abort();
        }
        _folder = folder;
        _path = _folder / "Orvane.reg";
        RegistryHive::setFileOverride(_path.string());
    }
    ~SettingsFile() {
        RegistryHive::setFileOverride({});
        std::error_code ignored;
        std::filesystem::remove_all(_folder, ignored);
    }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // A new file in place of the old one, as an editor writes it, so the next
    // access reads it again.
    void write(const std::string& bytes) const {
        const auto temporary = _path.string() + ".new";
        std::ofstream(temporary, std::ios::binary | std::ios::trunc) << bytes;
        std::filesystem::rename(temporary, _path);
    }

    std::uintmax_t size() const { return std::filesystem::file_size(_path); }

private:
    std::filesystem::path _folder;
    std::filesystem::path _path;
};

// About 1 MB in 40 groups of 1000 values of every type.
std::string largeFile(std::size_t& entries) {
    std::string text = "Windows Registry Editor Version 5.00\n";
    entries = 0;
    for (int group = 0; group < 40; ++group) {
        text += "\n" + kSection + "\\Group" + std::to_string(group) + "]\n";
        for (int value = 0; value < 1000; ++value, ++entries) {
            const std::string name = "\"Setting" + std::to_string(value) + "\"=\"";
            switch (value % 4) {
            case 0:
                text += name + "1|" + std::to_string(value * 7919) + "\"\n";
                break;
            case 1:
                text += name + "2|" + std::to_string(value) + ".250000\"\n";
                break;
            case 2:
                text += name + "0|1\"\n";
                break;
            default:
                text += name + "3|C:\\\\Data\\\\run" + std::to_string(value) + "\"\n";
                break;
            }
        }
    }
    return text;
}

// One key holding `count` values.
std::string manyValues(int count) {
    std::string text = "Windows Registry Editor Version 5.00\n\n" + kSection + "\\UI]\n";
    for (int value = 0; value < count; ++value) {
        text += "\"Value" + std::to_string(value) + "\"=\"1|" + std::to_string(value) + "\"\n";
    }
    return text;
}

// A key `depth` levels below the store's path, a value at its end.
std::string nested(int depth, bool valueAtEveryLevel) {
    std::string text = "Windows Registry Editor Version 5.00\n";
    std::string section = kSection;
    for (int level = 0; level < depth; ++level) {
        section += "\\a";
        if (valueAtEveryLevel || level + 1 == depth) {
            text += "\n" + section + "]\n\"V\"=\"1|" + std::to_string(level) + "\"\n";
        }
    }
    return text;
}

void openEach(benchmark::State& state, const SettingsFile& file, const std::string& bytes,
              std::size_t expected) {
    Manager config;
    for (auto _ : state) {
        state.PauseTiming();
        file.write(bytes);
        state.ResumeTiming();
        config.open(kPath);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["entries"] = static_cast<double>(config.entries().size());
    if (config.entries().size() != expected) {
        state.SkipWithError("the file did not load whole");
    }
}

void BM_SettingsOpen1MB(benchmark::State& state) {
    const SettingsFile file;
    std::size_t entries = 0;
    const std::string bytes = largeFile(entries);
    state.counters["bytes"] = static_cast<double>(bytes.size());
    openEach(state, file, bytes, entries);
}
BENCHMARK(BM_SettingsOpen1MB)->Unit(benchmark::kMillisecond);

// The file layer alone: bytes to the in-memory tree.
void BM_SettingsParse1MB(benchmark::State& state) {
    std::size_t entries = 0;
    const std::string bytes = largeFile(entries);
    for (auto _ : state) {
        RegistryNode root(L"HKEY_CURRENT_USER");
        if (!RegistryFile::parse(bytes, root).complete()) {
            state.SkipWithError("the file did not parse");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_SettingsParse1MB)->Unit(benchmark::kMillisecond);

void BM_SettingsLookup1MB(benchmark::State& state) {
    const SettingsFile file;
    std::size_t entries = 0;
    file.write(largeFile(entries));
    Manager config;
    config.open(kPath);
    std::vector<std::wstring> names; // the string settings, in a scattered order
    for (int i = 0; i < 10000; ++i) {
        names.push_back(L"Group" + std::to_wstring(i * 7 % 40) + L".Setting" +
                        std::to_wstring(i * 28 % 1000 + 3));
    }
    std::size_t found = 0;
    std::size_t i = 0;
    std::wstring value;
    for (auto _ : state) {
        found += config.getString(names[i], value) ? 1 : 0;
        i = (i + 1) % names.size();
    }
    if (found != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("a lookup missed");
    }
}
BENCHMARK(BM_SettingsLookup1MB);

void BM_SettingsSave1MB(benchmark::State& state) {
    const SettingsFile file;
    std::size_t entries = 0;
    file.write(largeFile(entries));
    Manager config;
    config.open(kPath);
    for (auto _ : state) {
        config.setInt(L"Group0.Setting0", static_cast<std::int32_t>(state.iterations()));
        if (config.save(kPath) != ERROR_SUCCESS) {
            state.SkipWithError("the save failed");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_SettingsSave1MB)->Unit(benchmark::kMillisecond);

// The hand-edited file that took seconds and a gigabyte: one key 10 000 levels deep
// (20 KB). Keys below the depth limit are reported and skipped.
void BM_SettingsOpenDeepNesting(benchmark::State& state) {
    const SettingsFile file;
    const std::string bytes = nested(10000, false);
    state.counters["bytes"] = static_cast<double>(bytes.size());
    openEach(state, file, bytes, 0);
}
BENCHMARK(BM_SettingsOpenDeepNesting)->Unit(benchmark::kMillisecond);

// Every level down to the deepest one kept holds a value.
void BM_SettingsOpenNestedToTheLimit(benchmark::State& state) {
    const SettingsFile file;
    const int depth = static_cast<int>(RegistryFile::kMaximumDepth) - 4; // Software\Tolvek\Orvane\Config
    openEach(state, file, nested(depth, true), static_cast<std::size_t>(depth));
}
BENCHMARK(BM_SettingsOpenNestedToTheLimit)->Unit(benchmark::kMillisecond);

void BM_SettingsOpen40000Values(benchmark::State& state) {
    const SettingsFile file;
    openEach(state, file, manyValues(40000), 40000);
}
BENCHMARK(BM_SettingsOpen40000Values)->Unit(benchmark::kMillisecond);

void BM_SettingsSave40000Values(benchmark::State& state) {
    const SettingsFile file;
    file.write(manyValues(40000));
    Manager config;
    config.open(kPath);
    for (auto _ : state) {
        config.setInt(L"UI.Value0", static_cast<std::int32_t>(state.iterations()));
        if (config.save(kPath) != ERROR_SUCCESS) {
            state.SkipWithError("the save failed");
            break;
        }
    }
}
BENCHMARK(BM_SettingsSave40000Values)->Unit(benchmark::kMillisecond);

// A value read through the registry wrapper, from the key holding 40 000 values.
void BM_RegistryReadValue40000Values(benchmark::State& state) {
    const SettingsFile file;
    file.write(manyValues(40000));
    RegKey key(RegRootKey::HKEY_CURRENT_USER, kPath + L"\\UI");
    if (key.open() != ERROR_SUCCESS) {
        state.SkipWithError("the key does not open");
        return;
    }
    std::vector<std::wstring> names;
    for (int i = 0; i < 10000; ++i) {
        names.push_back(L"Value" + std::to_wstring(i * 7919 % 40000));
    }
    std::size_t i = 0;
    RegValue value;
    for (auto _ : state) {
        if (key.readValue(names[i], value) != ERROR_SUCCESS) {
            state.SkipWithError("a value is missing");
            break;
        }
        i = (i + 1) % names.size();
    }
}
BENCHMARK(BM_RegistryReadValue40000Values);

} // namespace

BENCHMARK_MAIN();
