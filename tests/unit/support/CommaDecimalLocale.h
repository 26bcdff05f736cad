#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <stdexcept>
#include <string>

namespace test {

// Puts the process in a user locale whose decimal separator is a comma, as a
// window toolkit does when it starts: the C locale (setlocale) and the C++ global
// locale both become de_DE.UTF-8 while the object lives. scripts/install-deps
// installs the locale; a system without it gets it generated once into a private
// folder (LOCPATH, which costs LeakSanitizer one glibc allocation); when even that
// is impossible, active() is false and why() says so.
class CommaDecimalLocale {
public:
    static constexpr const char* Name = "de_DE.UTF-8";

    CommaDecimalLocale() : _savedC(std::setlocale(LC_ALL, nullptr)), _savedCxx(std::locale()) {
        if (!available()) {
            return;
        }
        try {
            std::locale::global(std::locale(Name));
            _active = std::setlocale(LC_ALL, Name) != nullptr;
        } catch (const std::runtime_error&) {
            _active = false;
        }
    }

    ~CommaDecimalLocale() {
        std::locale::global(_savedCxx);
        std::setlocale(LC_ALL, _savedC.c_str());
    }

    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool active() const noexcept { return _active; }
    static std::string why() { return "the locale " + std::string(Name) + " is not available: " + problem(); }

private:
    static std::string& problem() {
        static std::string text;
        return text;
    }

    static bool installed() {
        const std::string saved = std::setlocale(LC_ALL, nullptr);
        const bool found = std::setlocale(LC_ALL, Name) != nullptr;
        std::setlocale(LC_ALL, saved.c_str());
        return found;
    }

    static bool available() {
        static const bool ready = [] {
            if (installed()) {
                return true;
            }
            std::string folder = (std::filesystem::temp_directory_path() / "orvane-locale-XXXXXX").string();
            if (::mkdtemp(folder.data()) == nullptr) {
                problem() = "no temporary folder";
                return false;
            }
            const std::string command =
                "localedef -i de_DE -f UTF-8 " + folder + "/" + Name + " >/dev/null 2>&1";
            const int status = std::system(command.c_str());
            if (!std::filesystem::exists(std::filesystem::path(folder) / Name / "LC_NUMERIC")) {
                problem() = "localedef failed (" + std::to_string(status) + "); install the locales package";
                return false;
            }
            ::setenv("LOCPATH", folder.c_str(), 1);
            if (!installed()) {
                problem() = "the generated locale in " + folder + " does not load";
                return false;
            }
            return true;
        }();
        return ready;
    }

    std::string _savedC;
    std::locale _savedCxx;
    bool _active = false;
};

} // namespace test
