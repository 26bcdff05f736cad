#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>

namespace test {

// A private XDG_CONFIG_HOME for one test, removed afterwards, so that settings
// files are real files that never touch the user's own.
class TempConfigHome : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-config-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home = pattern;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            savedConfigHome = old;
        }
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    }

    void TearDown() override {
        if (savedConfigHome) {
            ::setenv("XDG_CONFIG_HOME", savedConfigHome->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ignored;
        std::filesystem::permissions(settingsFile(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(home, ignored);
    }

    std::filesystem::path settingsFile() const { return home / "Tolvek" / "Orvane.reg"; }

    static std::string readAll(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Replaces the file as an editor does, with a new inode, so the change is seen
    // however soon it follows the last one.
    void writeSettings(const std::string& bytes) const {
        std::filesystem::create_directories(settingsFile().parent_path());
        const auto temporary = settingsFile().string() + ".edit";
        std::ofstream(temporary, std::ios::binary | std::ios::trunc) << bytes;
        std::filesystem::rename(temporary, settingsFile());
    }

    std::filesystem::path home;
    std::optional<std::string> savedConfigHome;
};

} // namespace test
