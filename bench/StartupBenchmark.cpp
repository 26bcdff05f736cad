// The program's start: the real `orvane` executable spawned on Qt's offscreen
// platform in a private home with no ports, timed from the spawn to the moment
// its main window's first paint is flushed to the window. That moment is told by
// Qt's own painting diagnostics (the "qt.widgets.painting" category, switched on
// through QT_LOGGING_RULES), which report each flush of a top-level window on the
// standard error; the program knows nothing of the measurement. Each run is then
// ended with SIGTERM, and its exit is not timed.
//
//   BM_ColdStart/first: every run a first start (no settings file: the program
//     defines and saves its defaults).
//   BM_ColdStart/later: every run after an earlier start left its settings.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A private home: settings, runtime directory (single-instance lock), an empty
// port directory and the temporary directory.
class Home {
public:
    Home() : _root(fs::temp_directory_path() / ("orvane-start-" + std::to_string(::getpid()))) {
        for (const char* name : {"config", "runtime", "ports", "tmp"}) {
            fs::create_directories(_root / name);
        }
        ::chmod((_root / "runtime").c_str(), 0700);
    }
    ~Home() {
        std::error_code ignored;
        fs::remove_all(_root, ignored);
    }
    Home(const Home&) = delete;
    Home& operator=(const Home&) = delete;

    void forgetSettings() {
        std::error_code ignored;
        fs::remove_all(_root / "config", ignored);
        fs::create_directories(_root / "config");
    }

    // The caller's environment with this home's and the offscreen platform's
    // variables in place of its own.
    std::vector<std::string> environment() const {
        const std::vector<std::pair<std::string, std::string>> own = {
            {"XDG_CONFIG_HOME", (_root / "config").string()},
            {"XDG_RUNTIME_DIR", (_root / "runtime").string()},
            {"ORVANE_PORT_DIR", (_root / "ports").string()},
            {"TMPDIR", (_root / "tmp").string()},
            {"TEMP", (_root / "tmp").string()},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"QT_LOGGING_RULES", "qt.widgets.painting=true"},
        };
        std::vector<std::string> result;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            bool replaced = false;
            for (const auto& [name, value] : own) {
                replaced = replaced || text.rfind(name + "=", 0) == 0;
            }
            if (!replaced) {
                result.push_back(text);
            }
        }
        for (const auto& [name, value] : own) {
            result.push_back(name + "=" + value);
        }
        return result;
    }

private:
    fs::path _root;
};

// Spawns the program and returns the seconds until its main window's first flush;
// negative when it never came within ten seconds.
double startOnce(const Home& home) {
    int err[2];
    if (::pipe(err) != 0) {
        return -1.0;
    }
    std::vector<std::string> environment = home.environment();
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = ORVANE_PROGRAM;
    std::string noAdmin = "-noadmin";
    char* argv[] = {program.data(), noAdmin.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    posix_spawn_file_actions_addclose(&actions, err[1]);

    const auto started = Clock::now();
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(err[0]);
        return -1.0;
    }

    double result = -1.0;
    std::string pending;
    const auto deadline = started + std::chrono::seconds(10);
    while (result < 0.0 && Clock::now() < deadline) {
        pollfd p{err[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(err[0], buffer, sizeof buffer);
        if (n <= 0) {
            break; // the program ended before it showed its window
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.find("Flushing QRegion") != std::string::npos &&
                line.find("MainFrame") != std::string::npos) {
                result = std::chrono::duration<double>(Clock::now() - started).count();
                break;
            }
        }
    }
    ::kill(child, SIGTERM);
    // Drains the diagnostics of the shutdown so the program never blocks on a full
    // pipe; one that does not end in five seconds is killed.
    const auto ending = Clock::now();
    for (;;) {
        if (Clock::now() - ending > std::chrono::seconds(5)) {
            ::kill(child, SIGKILL);
        }
        pollfd p{err[0], POLLIN, 0};
        if (::poll(&p, 1, 100) == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(err[0], buffer, sizeof buffer);
        if (n > 0 || (n < 0 && errno == EINTR)) {
            continue;
        }
        break;
    }
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

void BM_ColdStart(benchmark::State& state) {
    Home home;
    const bool first = state.range(0) != 0;
    if (!first && startOnce(home) < 0.0) {
        state.SkipWithError("the program did not show its window");
        return;
    }
    std::vector<double> times;
    for (auto _ : state) {
        if (first) {
            home.forgetSettings();
        }
        const double elapsed = startOnce(home);
        if (elapsed < 0.0) {
            state.SkipWithError("the program did not show its window");
            return;
        }
        state.SetIterationTime(elapsed);
        times.push_back(elapsed * 1000.0);
    }
    std::sort(times.begin(), times.end());
    state.counters["min_ms"] = times.front();
    state.counters["p50_ms"] = times[times.size() / 2];
    state.counters["max_ms"] = times.back();
}
BENCHMARK(BM_ColdStart)
    ->ArgName("first")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
