#include "wyr/windows/system/registry/RegistryHive.h"

#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/registry/RegKey.h"
#include "wyr/windows/system/registry/RegistryFile.h"

#include <condition_variable>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace wyr::windows::system;
using test::LogCapture;

namespace {

const std::wstring kConfig = L"Software\\Tolvek\\Orvane\\Config";

class RegistryHiveTest : public test::TempConfigHome {
protected:
    static ErrorCode writeState(const std::wstring& state, int copies = 1) {
        RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\State");
        for (int i = 0; i < copies; ++i) {
            key.setValue(RegValue::fromString(L"V" + std::to_wstring(i), state));
        }
        return key.write();
    }

    // The values of Config\State in a file's bytes; fails the test when it does not parse.
    static std::vector<std::wstring> stateIn(const std::string& bytes) {
        RegistryNode root(L"HKEY_CURRENT_USER");
        const auto outcome = RegistryFile::parse(bytes, root);
        EXPECT_TRUE(outcome.complete()) << outcome.skippedLines << " lines skipped";
        std::vector<std::wstring> found;
        const RegistryNode* node = &root;
        for (const wchar_t* part : {L"Software", L"Tolvek", L"Orvane", L"Config", L"State"}) {
            node = node == nullptr ? nullptr : node->findChild(part);
        }
        for (const auto& value : node == nullptr ? RegistryNode::Values{} : node->values()) {
            std::wstring text;
            value.asString(text);
            found.push_back(text);
        }
        return found;
    }

    // Runs `step` and tells whether it returned by itself. Should it block opening
    // the FIFO, a writer opens the other end after a while, so that the test fails
    // instead of hanging.
    static bool returnsWithoutBlocking(const std::filesystem::path& fifo, const std::function<void()>& step) {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        bool rescued = false;
        std::thread guard([&] {
            std::unique_lock held(lock);
            if (finished.wait_for(held, std::chrono::seconds(10), [&] { return done; })) {
                return;
            }
            rescued = true;
            while (!finished.wait_for(held, std::chrono::milliseconds(100), [&] { return done; })) {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        });
        step();
        {
            std::lock_guard held(lock);
            done = true;
        }
        finished.notify_all();
        guard.join();
        return !rescued;
    }
};

} // namespace

TEST_F(RegistryHiveTest, AnUnparsableFileIsSetAsideReportedAndNeverOverwritten) {
    LogCapture log(0x0040);
    const std::string garbage("\x01\x02 not a settings file \xFF", 25);
    writeSettings(garbage);

    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig);
    EXPECT_EQ(key.open(), ERROR_BADDB);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), garbage);
    EXPECT_FALSE(log.matching(L"cannot be parsed").empty());
    EXPECT_FALSE(log.matching(L"The configuration registry database is corrupt.").empty());
    EXPECT_EQ(key.open(), ERROR_FILE_NOT_FOUND) << "reported once; the keys start empty";

    // A second bad file gets its own name; the first copy stays.
    writeSettings("REGEDIT5\n[HKEY_CURRENT_USER\\Orphan]\n");
    EXPECT_EQ(key.open(), ERROR_BADDB);
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), garbage);
    EXPECT_NE(readAll(settingsFile().string() + ".1.corrupt").find("Orphan"), std::string::npos);

    ASSERT_EQ(writeState(L"fresh"), ERROR_SUCCESS);
    EXPECT_EQ(stateIn(readAll(settingsFile())), std::vector<std::wstring>{L"fresh"});
}

TEST_F(RegistryHiveTest, LinesThatCannotBeReadAreSkippedReportedAndTheFileCopiedAside) {
    const std::string original = "Windows Registry Editor Version 5.00\n\n"
                                 "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\State]\n"
                                 "\"V0\"=\"kept\"\n"
                                 "\"V1\"=\"half a line\n"
                                 "\"V2\"=\"also kept\"\n";
    writeSettings(original);
    LogCapture log(0x0040);

    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\State");
    EXPECT_EQ(key.open(), ERROR_REGISTRY_RECOVERED);
    ASSERT_TRUE(key.isOpen());
    RegValue value;
    EXPECT_EQ(key.readValue(L"V0", value), ERROR_SUCCESS);
    EXPECT_EQ(key.readValue(L"V2", value), ERROR_SUCCESS);
    EXPECT_EQ(key.readValue(L"V1", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.open(), ERROR_SUCCESS) << "reported once";
    EXPECT_EQ(readAll(settingsFile()), original) << "reading never writes";
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), original);
    EXPECT_EQ(log.matching(L"Line 5 of the settings file").size(), 1U);
    EXPECT_FALSE(log.matching(L"The file as it was is kept as").empty());

    // The next save writes what was read; the copy keeps what was not.
    ASSERT_EQ(writeState(L"fresh"), ERROR_SUCCESS);
    EXPECT_EQ(stateIn(readAll(settingsFile())), (std::vector<std::wstring>{L"fresh", L"also kept"}));
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), original);

    // A copy that cannot be made (every name taken) leaves the file as it is for good.
    writeSettings(original);
    for (int n = 1; n < 1000; ++n) {
        std::ofstream(settingsFile().string() + "." + std::to_string(n) + ".corrupt") << "taken";
    }
    EXPECT_EQ(key.open(), ERROR_REGISTRY_RECOVERED);
    EXPECT_EQ(key.readValue(L"V2", value), ERROR_SUCCESS) << "what was read is still used";
    EXPECT_EQ(writeState(L"lost?"), ERROR_BADDB);
    EXPECT_EQ(readAll(settingsFile()), original);
    EXPECT_FALSE(log.matching(L"cannot be copied aside and will not be overwritten").empty());
}

TEST_F(RegistryHiveTest, AReadOnlyFileIsLeftAsItIs) {
    ASSERT_EQ(writeState(L"kept"), ERROR_SUCCESS);
    const std::string before = readAll(settingsFile());
    std::filesystem::permissions(settingsFile(), std::filesystem::perms::owner_read);
    LogCapture log(0x0040);

    EXPECT_EQ(writeState(L"changed"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readAll(settingsFile()), before);
    EXPECT_FALSE(log.matching(L"read-only").empty());
    EXPECT_FALSE(log.matching(L"Access is denied.").empty());
}

TEST_F(RegistryHiveTest, AFolderThatCannotBeCreatedIsAResultNotACrash) {
    const auto blocker = home / "blocker";
    std::ofstream(blocker) << "a file where the folder should be";
    ::setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    LogCapture log(0x0040);

    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig);
    EXPECT_EQ(key.open(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(writeState(L"lost?"), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(log.matching(L"Cannot create the settings folder").empty());
    EXPECT_EQ(readAll(blocker), "a file where the folder should be");
}

TEST_F(RegistryHiveTest, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directories(settingsFile() / "inside");
    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig);
    EXPECT_EQ(key.open(), ERROR_DIRECTORY);
    EXPECT_EQ(key.open(), ERROR_DIRECTORY) << "as long as it stays unreadable";
    EXPECT_EQ(writeState(L"x"), ERROR_DIRECTORY);
    EXPECT_TRUE(std::filesystem::is_directory(settingsFile() / "inside"));
}

TEST_F(RegistryHiveTest, ANamedPipeOrADeviceAtThePathIsNeitherReadNorReplaced) {
    std::filesystem::create_directories(settingsFile().parent_path());
    const auto fifo = home / "settings.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::function<void()> place;
        const wchar_t* kind;
    };
    const std::vector<Case> cases{
        {"a named pipe", [&] { std::filesystem::rename(fifo, settingsFile()); }, L"a named pipe"},
        {"a link to a named pipe", [&] { std::filesystem::create_symlink(fifo, settingsFile()); },
         L"a named pipe"},
        {"a link to an endless device", [&] { std::filesystem::create_symlink("/dev/zero", settingsFile()); },
         L"a device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!std::filesystem::exists(fifo) && !std::filesystem::is_fifo(settingsFile())) {
            ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        }
        c.place();
        const auto placed = std::filesystem::symlink_status(settingsFile()).type();
        LogCapture log(0x0040);
        RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig);
        ErrorCode opened = ERROR_SUCCESS;
        ErrorCode saved = ERROR_SUCCESS;
        EXPECT_TRUE(
            returnsWithoutBlocking(std::filesystem::is_fifo(settingsFile()) ? settingsFile() : fifo, [&] {
                opened = key.open();
                saved = writeState(L"lost?");
            }));
        EXPECT_EQ(opened, ERROR_CANTREAD);
        EXPECT_EQ(saved, ERROR_CANTWRITE);
        EXPECT_EQ(std::filesystem::symlink_status(settingsFile()).type(), placed) << "left where it was";
        EXPECT_FALSE(std::filesystem::exists(settingsFile().string() + ".corrupt"));
        EXPECT_FALSE(log.matching(c.kind).empty());
        EXPECT_FALSE(log.matching(L"The configuration registry key could not be written.").empty());
        std::filesystem::remove(settingsFile());
    }
}

TEST_F(RegistryHiveTest, AKillBetweenWritingAndRenamingLeavesTheOldFile) {
    ASSERT_EQ(writeState(L"old", 50), ERROR_SUCCESS);
    const std::string before = readAll(settingsFile());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        RegistryHive::setCommitHook([&](const std::string&) {
            const char c = 'x';
            (void)!::write(ready[1], &c, 1);
            for (;;) {
                ::pause();
            }
        });
        writeState(L"new", 50);
        ::_exit(1);
    }
    ::close(ready[1]);
    char c = 0;
    const ssize_t n = ::read(ready[0], &c, 1); // EOF if the child died before the hook
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(n, 1) << "the child reached the moment before the rename";

    EXPECT_EQ(readAll(settingsFile()), before);
    EXPECT_EQ(stateIn(readAll(settingsFile())), std::vector<std::wstring>(50, L"old"));
    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\State");
    RegValue value;
    ASSERT_EQ(key.open(), ERROR_SUCCESS);
    ASSERT_EQ(key.readValue(L"V49", value), ERROR_SUCCESS);
}

TEST_F(RegistryHiveTest, KillsAtRandomMomentsNeverLeaveAMixedOrTornFile) {
    ASSERT_EQ(writeState(L"0", 200), ERROR_SUCCESS);
    std::mt19937 random(12345);
    std::set<std::wstring> generationsSeen;
    for (int round = 0; round < 25; ++round) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            for (int generation = 1;; ++generation) {
                writeState(std::to_wstring(round * 100000 + generation), 200);
                const char c = 'w';
                (void)!::write(progress[1], &c, 1);
            }
        }
        ::close(progress[1]);
        // Let the child finish a few saves (none in some rounds), then kill it
        // somewhere in the next one.
        char c = 0;
        for (int done = 0; done < round % 3 && ::read(progress[0], &c, 1) == 1; ++done) {
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 5000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(progress[0]);

        const auto state = stateIn(readAll(settingsFile()));
        ASSERT_EQ(state.size(), 200U) << "round " << round;
        EXPECT_EQ(std::set<std::wstring>(state.begin(), state.end()).size(), 1U) << "one generation per file";
        generationsSeen.insert(state.front());
    }
    EXPECT_GT(generationsSeen.size(), 1U) << "the children did replace the file";
}

TEST_F(RegistryHiveTest, KeysOfManyThreadsShareOneHive) {
    constexpr int kThreads = 4;
    constexpr int kWrites = 20;
    std::vector<std::thread> threads;
    std::atomic<bool> failed{false};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failed] {
            for (int i = 0; i < kWrites; ++i) {
                RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\T" + std::to_wstring(t));
                key.setValue(RegValue::fromString(L"V" + std::to_wstring(i), std::to_wstring(i)));
                RegKey reader(RegRootKey::HKEY_CURRENT_USER, kConfig);
                if (key.write() != ERROR_SUCCESS || reader.open() != ERROR_SUCCESS ||
                    reader.enumerate() != 0) {
                    failed = true;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(failed);
    RegistryNode root(L"HKEY_CURRENT_USER");
    ASSERT_TRUE(RegistryFile::parse(readAll(settingsFile()), root).complete());
    const RegistryNode* config =
        root.findChild(L"Software")->findChild(L"Tolvek")->findChild(L"Orvane")->findChild(L"Config");
    ASSERT_EQ(config->children().size(), static_cast<std::size_t>(kThreads));
    for (const auto& [name, child] : config->children()) {
        EXPECT_EQ(child->values().size(), static_cast<std::size_t>(kWrites)) << toNarrow(child->name());
    }
}
