#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace wyr::windows::system {

// The facts about the operating system that the log banner and the System Info
// report show, probed once per process and then kept. On Linux they come from the
// system's own sources, never from a shell command:
//
// - OS name: PRETTY_NAME of os-release, else NAME and VERSION, else the kernel's
//   name (uname's sysname), so a system without os-release still says "Linux".
// - Processor architecture: uname's machine, with the two names the program's
//   other platforms use for PCs: "x64" for x86_64 and "x86" for i386 to i686;
//   every other machine under its own name ("aarch64"); "Unknown" when empty.
// - Service pack: the kernel release ("6.1.0-18-amd64"). A distribution release
//   is updated in place by its packages, and the kernel is the part of that
//   update level that matters to a serial instrument (its drivers and its tty
//   layer), so its release takes the service pack's line. "None" when empty.
// - Build number: the patch level of the kernel release (44 in "6.18.44-rt"), 0
//   when the release has none.
//
// A probe succeeds when the kernel could be asked; a failed probe leaves every
// text empty and the build number 0, and is retried at the next request. All
// members are thread-safe.
class OsFacts {
public:
    struct Kernel {
        std::string sysname;
        std::string release;
        std::string machine;
    };

    // Where the facts come from; a test passes its own.
    struct Sources {
        // The os-release text; nullopt when there is none.
        std::function<std::optional<std::string>()> osRelease;
        // nullopt when the kernel cannot be asked.
        std::function<std::optional<Kernel>()> kernel;
    };

    // One consistent copy of the derived facts.
    struct Facts {
        bool available = false;
        std::wstring osName;
        std::wstring processorArchitecture;
        std::wstring servicePack;
        std::int32_t buildNumber = 0;
    };

    // /etc/os-release, else /usr/lib/os-release; uname().
    static Sources systemSources();
    // The process-wide facts, from the system's sources.
    static OsFacts& instance();

    explicit OsFacts(Sources sources);
    OsFacts(const OsFacts&) = delete;
    OsFacts& operator=(const OsFacts&) = delete;

    // True at once when an earlier probe succeeded; otherwise asks the sources.
    bool probe();
    // Probes, then returns what is known.
    Facts facts();

    // What the last probe found, without probing: empty texts and 0 until a probe
    // succeeded.
    bool available() const;
    std::wstring osName() const;
    std::wstring processorArchitecture() const;
    std::wstring servicePack() const;
    std::int32_t buildNumber() const;

    // The derivations, on their own.
    static std::string osNameFrom(std::string_view osReleaseText, std::string_view sysname);
    static std::string architectureFrom(std::string_view machine);
    static std::int32_t buildNumberFrom(std::string_view release);

private:
    Sources _sources;
    mutable std::mutex _lock;
    Facts _facts;
};

} // namespace wyr::windows::system
