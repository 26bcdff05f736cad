#include "tests/unit/communication/PtyPair.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/Wait.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace wyr::windows::communication;
using wyr::windows::system::Event;
using wyr::windows::system::INFINITE;
using wyr::windows::system::Mutex;

namespace {

constexpr int kError = 0x40;
constexpr int kDebug2 = 0x02;
constexpr int kDebug3 = 0x04;
constexpr int kDebug4 = 0x08;
constexpr std::uint32_t kLong = 10000; // bounds a wait that must end for another reason

const std::wstring kWaitContext = L"wyr::windows::communication::Serial::waitCommEvent";
const std::wstring kReadContext = L"wyr::windows::communication::Serial::readPort";
const std::wstring kWriteContext = L"wyr::windows::communication::Serial::writePort";

// The messages logged under one context, in order.
std::vector<std::pair<int, std::wstring>> messages(test::LogCapture& capture, const std::wstring& context) {
    std::vector<std::pair<int, std::wstring>> out;
    for (const auto& record : capture.collect()) {
        if (record.context == context) {
            out.emplace_back(record.verbosity, record.message);
        }
    }
    return out;
}

bool logged(test::LogCapture& capture, const std::wstring& context, int verbosity,
            const std::wstring& message) {
    for (const auto& entry : messages(capture, context)) {
        if (entry.first == verbosity && entry.second == message) {
            return true;
        }
    }
    return false;
}

class SerialIo : public ::testing::Test {
protected:
    void SetUp() override {
        // Records of earlier tests' threads may still be on their way.
        capture.collect();
        capture.records.clear();
        ASSERT_EQ(serial.open(pty.widePath()), 0U);
    }

    std::uint32_t write(const test::Bytes& bytes, std::uint32_t timeout = kLong,
                        Event* abortEvent = nullptr) {
        return serial.writePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()), timeout, abortEvent);
    }

    test::LogCapture capture;
    test::PtyPair pty;
    Serial serial;
    Event abort{Event::Reset::Manual};
};

// Sets an event from another thread once the test is under way.
class LateSignal {
public:
    explicit LateSignal(std::function<void()> action)
        : _thread([this, action = std::move(action)] {
              wyr::windows::system::waitForSingle(_go, INFINITE);
              wyr::windows::system::sleepMs(50);
              action();
          }) {}
    ~LateSignal() {
        _go.set();
        _thread.join();
    }
    void start() { _go.set(); }

private:
    Event _go{Event::Reset::Manual};
    std::thread _thread;
};

} // namespace

TEST_F(SerialIo, ReadingAnEmptyQueueAppendsNothing) {
    test::Bytes bytes{0xAA};
    EXPECT_EQ(serial.readPort(bytes, nullptr, 100), 0U);
    EXPECT_EQ(bytes, test::Bytes{0xAA});
    const auto log = messages(capture, kReadContext);
    ASSERT_EQ(log.size(), 3U);
    EXPECT_EQ(log[0], std::make_pair(0x01, std::wstring(L" ")));
    EXPECT_EQ(log[1], std::make_pair(kDebug2, std::wstring(L"Bytes in queue [0].")));
    EXPECT_EQ(log[2], std::make_pair(kDebug3, std::wstring(L"SUCCESS")));
}

TEST_F(SerialIo, ReadsWhatWasQueuedInRequestsOf1024Bytes) {
    const test::Bytes sent = test::pattern(3000);
    pty.send(sent);
    ASSERT_TRUE(test::waitForQueued(serial, 3000));
    test::Bytes received{0x55};
    ASSERT_EQ(serial.readPort(received, nullptr, INFINITE), 0U);
    ASSERT_EQ(received.size(), 3001U);
    EXPECT_EQ(test::Bytes(received.begin() + 1, received.end()), sent);

    std::vector<std::wstring> requests;
    for (const auto& [verbosity, message] : messages(capture, kReadContext)) {
        if (verbosity == kDebug4) {
            requests.push_back(message);
        }
    }
    EXPECT_EQ(requests, (std::vector<std::wstring>{L"::ReadFile() returned [1024] of [1024] bytes.",
                                                   L"::ReadFile() returned [1024] of [1024] bytes.",
                                                   L"::ReadFile() returned [952] of [952] bytes."}));
    EXPECT_TRUE(logged(capture, kReadContext, kDebug2, L"Bytes in queue [3000]."));
}

TEST_F(SerialIo, ReadTakesOnlyWhatWasQueuedWhenItBegan) {
    // In Blocking mode a read never waits for bytes that have not arrived either.
    ASSERT_EQ(serial.setBlockingMode(BlockingMode::Blocking), 0U);
    pty.send("abc");
    ASSERT_TRUE(test::waitForQueued(serial, 3));
    test::Bytes bytes;
    ASSERT_EQ(serial.readPort(bytes, nullptr, INFINITE), 0U);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abc");
}

TEST_F(SerialIo, AnAbortSignalledBeforeReadingReadsNothing) {
    pty.send("queued");
    ASSERT_TRUE(test::waitForQueued(serial, 6));
    abort.set();
    test::Bytes bytes;
    EXPECT_EQ(serial.readPort(bytes, &abort, INFINITE), 1223U);
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(logged(capture, kReadContext, kDebug2, L"[abort] became signalled.  Abandoning operation."));
    // The bytes are still there for the next read.
    abort.reset();
    ASSERT_EQ(serial.readPort(bytes, &abort, INFINITE), 0U);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "queued");
}

TEST_F(SerialIo, PurgeDiscardsReceivedBytes) {
    pty.send("stale");
    ASSERT_TRUE(test::waitForQueued(serial, 5));
    ASSERT_EQ(serial.purgeBuffers(), 0U);
    test::Bytes bytes;
    ASSERT_EQ(serial.readPort(bytes, nullptr, INFINITE), 0U);
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(logged(capture, L"wyr::windows::communication::Serial::purgeBuffers", kDebug3, L"SUCCESS"));
}

TEST_F(SerialIo, WaitReportsEventsAndLogsTheLowestOne) {
    ASSERT_EQ(serial.setEventChar('\x04'), 0U);
    struct Case {
        std::uint32_t mask;
        std::function<void()> cause;
        std::uint32_t expected;
        const wchar_t* text;
    };
    const Case cases[] = {
        {EV_ERR | EV_RXCHAR, [&] { pty.send("a"); }, EV_RXCHAR, L"SUCCESS - result was EV_RXCHAR."},
        {EV_RXFLAG | EV_ERR, [&] { pty.send("b\x04"); }, EV_RXFLAG, L"SUCCESS - result was EV_RXFLAG."},
        {EV_RXCHAR | EV_RXFLAG, [&] { pty.send("c\x04"); }, EV_RXCHAR | EV_RXFLAG,
         L"SUCCESS - result was EV_RXCHAR."},
        {EV_TXEMPTY | EV_ERR,
         [&] {
             ASSERT_EQ(write({1, 2, 3}), 0U);
         },
         EV_TXEMPTY, L"SUCCESS - result was EV_TXEMPTY."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask);
        ASSERT_EQ(serial.purgeBuffers(), 0U);
        ASSERT_EQ(serial.setCommMask(c.mask), 0U);
        capture.records.clear();
        c.cause();
        std::uint32_t mask = 0;
        ASSERT_EQ(serial.waitCommEvent(mask, &abort, kLong), 0U);
        // RXCHAR may come before the flag byte was seen; the flag then follows.
        if (c.expected == (EV_RXCHAR | EV_RXFLAG) && mask == EV_RXCHAR) {
            std::uint32_t more = 0;
            ASSERT_TRUE(test::waitForQueued(serial, 2));
            ASSERT_EQ(serial.waitCommEvent(more, &abort, kLong), 0U);
            mask |= more;
        }
        EXPECT_EQ(mask, c.expected);
        EXPECT_TRUE(logged(capture, kWaitContext, kDebug3, c.text));
        pty.drain();
    }
}

TEST_F(SerialIo, RxFlagIsReportedOnceForNewlyArrivedBytes) {
    ASSERT_EQ(serial.setCommMask(0), 0U);
    ASSERT_EQ(serial.setEventChar('\x04'), 0U);
    pty.send("no flag here");
    ASSERT_TRUE(test::waitForQueued(serial, 12));
    std::uint32_t mask = 0;
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, 100), 1460U);

    pty.send("end\x04");
    ASSERT_EQ(serial.waitCommEvent(mask, nullptr, kLong), 0U);
    EXPECT_EQ(mask, EV_RXFLAG);
    // Reported, not read: no second report for the same bytes.
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, 100), 1460U);
    test::Bytes bytes;
    ASSERT_EQ(serial.readPort(bytes, nullptr, INFINITE), 0U);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "no flag hereend\x04");
}

TEST_F(SerialIo, AnEventArrivingDuringTheWaitEndsIt) {
    ASSERT_EQ(serial.setCommMask(EV_RXCHAR), 0U);
    LateSignal far([&] { pty.send("late"); });
    far.start();
    std::uint32_t mask = 0;
    ASSERT_EQ(serial.waitCommEvent(mask, &abort, INFINITE), 0U);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(SerialIo, TxEmptyFollowsAWriteFromAnotherThreadDuringTheWait) {
    ASSERT_EQ(serial.setCommMask(EV_TXEMPTY), 0U);
    LateSignal writer([&] { EXPECT_EQ(write({9, 8, 7}), 0U); });
    writer.start();
    std::uint32_t mask = 0;
    ASSERT_EQ(serial.waitCommEvent(mask, &abort, kLong), 0U);
    EXPECT_EQ(mask, EV_TXEMPTY);
    EXPECT_EQ(pty.receive(3), (test::Bytes{9, 8, 7}));
}

TEST_F(SerialIo, ANewMaskEndsAPendingWaitWithoutEvents) {
    ASSERT_EQ(serial.setCommMask(EV_RXCHAR), 0U);
    LateSignal owner([&] { EXPECT_EQ(serial.setCommMask(EV_RXCHAR | EV_ERR), 0U); });
    owner.start();
    std::uint32_t mask = 0xFFFF;
    ASSERT_EQ(serial.waitCommEvent(mask, &abort, kLong), 0U);
    EXPECT_EQ(mask, 0U);
    for (const auto& [verbosity, message] : messages(capture, kWaitContext)) {
        EXPECT_EQ(message.find(L"result was"), std::wstring::npos);
    }
}

TEST_F(SerialIo, WaitTimesOutWithTheLabelOfItsWait) {
    struct Case {
        Event* abort;
        bool routine;
        int verbosity;
        const wchar_t* text;
    };
    const Case cases[] = {
        {nullptr, false, kError, L"::WaitForSingleObject() failed (WAIT_TIMEOUT).  Abandoning operation."},
        {&abort, false, kError, L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT).  Abandoning operation."},
        // A time-out the caller waits for is no failure.
        {&abort, true, kDebug4, L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT).  Abandoning operation."},
    };
    for (const auto& c : cases) {
        capture.records.clear();
        std::uint32_t mask = 0x1234;
        EXPECT_EQ(serial.waitCommEvent(mask, c.abort, 50, c.routine), 1460U);
        EXPECT_EQ(mask, 0x1234U);
        const auto logs = messages(capture, kWaitContext);
        EXPECT_TRUE(logged(capture, kWaitContext, c.verbosity, c.text));
        EXPECT_EQ(std::count_if(logs.begin(), logs.end(), [](const auto& l) { return l.first == kError; }),
                  c.routine ? 0 : 1);
    }
    // A zero time-out looks once.
    std::uint32_t mask = 0;
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, 0), 1460U);
}

TEST_F(SerialIo, WaitIsAbortedBeforeAndDuringTheWait) {
    std::uint32_t mask = 0;
    abort.set();
    EXPECT_EQ(serial.waitCommEvent(mask, &abort, INFINITE), 1223U);
    abort.reset();
    {
        LateSignal stop([&] { abort.set(); });
        stop.start();
        EXPECT_EQ(serial.waitCommEvent(mask, &abort, INFINITE), 1223U);
    }
    const auto log = messages(capture, kWaitContext);
    EXPECT_EQ(std::count(
                  log.begin(), log.end(),
                  std::make_pair(kDebug2, std::wstring(L"[abort] became signalled.  Abandoning operation."))),
              2);
    // The port is still usable afterwards.
    abort.reset();
    pty.send("z");
    EXPECT_EQ(serial.waitCommEvent(mask, &abort, kLong), 0U);
}

TEST_F(SerialIo, FiniteTimeoutsNeedOverlappedIo) {
    serial.setOverlapped(false);
    std::uint32_t mask = 0;
    test::Bytes bytes;
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, 100), 87U);
    EXPECT_EQ(serial.readPort(bytes, nullptr, 100), 87U);
    const std::wstring text = L"Timeouts are not supported when overlapped I/O is disabled (i.e. File "
                              L"created without FILE_FLAG_OVERLAPPED.)";
    EXPECT_TRUE(logged(capture, kWaitContext, kError, text));
    EXPECT_TRUE(logged(capture, kReadContext, kError, text));
    // Without a time limit they run.
    pty.send("q");
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, INFINITE), 0U);
    EXPECT_EQ(serial.readPort(bytes, nullptr, INFINITE), 0U);
}

TEST_F(SerialIo, AWaitWithoutAnyEventInTheMaskIsRefused) {
    ASSERT_EQ(serial.setCommMask(0), 0U);
    std::uint32_t mask = 0;
    EXPECT_EQ(serial.waitCommEvent(mask, nullptr, INFINITE), 87U);
    EXPECT_TRUE(
        logged(capture, kWaitContext, kError, L"::WaitCommEvent() failed for an unknown reason [87]."));
}

TEST_F(SerialIo, TheFarEndClosingFailsWaitsAndReads) {
    // A hang-up during the wait, and one found when the wait begins.
    {
        LateSignal farEnd([&] { pty.closeMaster(); });
        farEnd.start();
        std::uint32_t mask = 0;
        const std::uint32_t result = serial.waitCommEvent(mask, &abort, kLong);
        EXPECT_EQ(result, 1167U);
    }
    std::uint32_t mask = 0;
    EXPECT_EQ(serial.waitCommEvent(mask, &abort, kLong), 1167U);
    EXPECT_TRUE(
        logged(capture, kWaitContext, kError, L"::WaitCommEvent() failed for an unknown reason [1167]."));
    EXPECT_TRUE(logged(capture, kWaitContext, kError, L"The device is not connected."));

    test::Bytes bytes;
    const std::uint32_t read = serial.readPort(bytes, &abort, kLong);
    EXPECT_NE(read, 0U);
    EXPECT_NE(read, 258U);
    EXPECT_TRUE(bytes.empty());
    EXPECT_NE(write({1}), 0U);
    EXPECT_TRUE(serial.isOpen()) << "errors never close the port";
}

// Bytes the port already took in (looking for the event character) when the far
// end hung up are handed over first; the loss of the port is reported once they
// are read.
TEST_F(SerialIo, BytesBeforeAHangUpAreDeliveredBeforeTheLoss) {
    ASSERT_EQ(serial.setCommMask(EV_RXFLAG), 0U);
    ASSERT_EQ(serial.setEventChar('\x04'), 0U);
    pty.send("end\x04");
    std::uint32_t mask = 0;
    ASSERT_EQ(serial.waitCommEvent(mask, &abort, kLong), 0U);
    ASSERT_EQ(mask, EV_RXFLAG);
    pty.closeMaster();

    test::Bytes bytes;
    EXPECT_EQ(serial.readPort(bytes, &abort, kLong), 0U);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "end\x04");
    EXPECT_EQ(serial.waitCommEvent(mask, &abort, kLong), 1167U);
    bytes.clear();
    EXPECT_NE(serial.readPort(bytes, &abort, kLong), 0U);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(SerialIo, WriteSendsTheBytesAndLogsItsSteps) {
    const test::Bytes sentence{0x02, '1', 0x03, '3', '1', 0x04, 0x0D};
    ASSERT_EQ(write(sentence), 0U);
    EXPECT_EQ(pty.receive(sentence.size()), sentence);
    EXPECT_TRUE(serial.writeIdleEvent()->isSignalled());
    const auto log = messages(capture, kWriteContext);
    const std::vector<std::pair<int, std::wstring>> expected{
        {0x01, L" "},
        {kDebug2, L"::WaitForMultipleObjects() attempting to gain exclusive access to the port."},
        {kDebug2, L"::WaitForSingleObject() became signaled via [_write_lock]."},
        {kDebug2, L"Calling ::WriteFile()."},
        {kDebug2, L"::WriteFile() completed synchronously."},
        {kDebug3, L"SUCCESS"},
    };
    EXPECT_EQ(log, expected);
}

TEST_F(SerialIo, WritersShareOneLockAcrossSerialObjects) {
    // Another thread holds the process-wide write lock.
    Event held{Event::Reset::Manual};
    Event release{Event::Reset::Manual};
    std::thread holder([&] {
        Mutex lock("write mutex");
        wyr::windows::system::waitForSingle(lock, INFINITE);
        held.set();
        wyr::windows::system::waitForSingle(release, INFINITE);
        lock.release();
    });
    wyr::windows::system::waitForSingle(held, INFINITE);

    struct Case {
        Event* abort;
        bool signalAbort;
        std::uint32_t expected;
        int verbosity;
        const wchar_t* text;
    };
    Event stop{Event::Reset::Manual};
    const Case cases[] = {
        {nullptr, false, 258, kError,
         L"::WaitForSingleObject() failed (WAIT_TIMEOUT).  Abandoning operation."},
        {&stop, false, 258, kError,
         L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT).  Abandoning operation."},
        {&stop, true, 1223, kDebug2,
         L"::WaitForMultipleObjects() became signaled via [abort].  Aborting operation."},
    };
    for (const auto& c : cases) {
        capture.records.clear();
        if (c.signalAbort) {
            stop.set();
        }
        EXPECT_EQ(write({1, 2}, 100, c.abort), c.expected);
        EXPECT_TRUE(logged(capture, kWriteContext, c.verbosity, c.text));
        EXPECT_TRUE(messages(capture, kWriteContext).back().second != L"SUCCESS");
    }
    EXPECT_TRUE(pty.drain().empty()) << "nothing was written without the lock";

    // Once released the write goes through.
    release.set();
    EXPECT_EQ(write({5}, kLong), 0U);
    holder.join();
    EXPECT_EQ(pty.receive(1), test::Bytes{5});
}

TEST_F(SerialIo, AnAbandonedWriteLockIsTakenOver) {
    std::thread([] {
        Mutex lock("write mutex");
        wyr::windows::system::waitForSingle(lock, INFINITE);
    }).join();
    ASSERT_EQ(write({7}), 0U);
    EXPECT_EQ(pty.receive(1), test::Bytes{7});
    EXPECT_FALSE(logged(capture, kWriteContext, kDebug2,
                        L"::WaitForSingleObject() became signaled via [_write_lock]."));
    EXPECT_EQ(write({8}), 0U) << "the lock was released after the first write";
}

TEST_F(SerialIo, AWriteTheFarEndDoesNotTakeTimesOut) {
    // More than the pty buffers: the write has to wait for the far end.
    const test::Bytes big = test::pattern(1 << 20);
    EXPECT_EQ(write(big, 200), 258U);
    EXPECT_TRUE(logged(capture, kWriteContext, kDebug2, L"::WriteFile() will be completed asynchronously."));
    EXPECT_TRUE(
        logged(capture, kWriteContext, kDebug2,
               L"::WaitForSingleObject() waiting for the [_overlapped_write.hEvent] to become signaled."));
    EXPECT_TRUE(logged(capture, kWriteContext, kError,
                       L"::WaitForSingleObject() failed (WAIT_TIMEOUT) [timeout = 200 ms]."));
    EXPECT_FALSE(serial.writeIdleEvent()->isSignalled());
    EXPECT_FALSE(logged(capture, kWriteContext, kDebug3, L"SUCCESS"));

    // The lock was released: the next write goes out after the bytes already taken.
    pty.drain();
    EXPECT_EQ(write({1, 2, 3}), 0U);
}

TEST_F(SerialIo, APendingWriteCompletesAsTheFarEndReads) {
    const test::Bytes big = test::pattern(300000);
    std::promise<test::Bytes> received;
    std::thread reader([&] { received.set_value(pty.receive(big.size())); });
    ASSERT_EQ(write(big, INFINITE, &abort), 0U);
    reader.join();
    EXPECT_EQ(received.get_future().get(), big);
    EXPECT_TRUE(serial.writeIdleEvent()->isSignalled());
    EXPECT_TRUE(
        logged(capture, kWriteContext, kDebug2,
               L"::WaitForMultipleObjects() [Write Port] became signaled via [_overlapped_write.hEvent]."));
    EXPECT_TRUE(logged(capture, kWriteContext, kDebug3, L"SUCCESS"));
}

TEST_F(SerialIo, APendingWriteIsAborted) {
    const test::Bytes big = test::pattern(1 << 20);
    LateSignal stop([&] { abort.set(); });
    stop.start();
    EXPECT_EQ(write(big, INFINITE, &abort), 1223U);
    EXPECT_TRUE(serial.writeIdleEvent()->isSignalled());
    EXPECT_TRUE(logged(capture, kWriteContext, kDebug3, L"SUCCESS"));
    bool abandonedLogged = false;
    for (const auto& [verbosity, message] : messages(capture, kWriteContext)) {
        abandonedLogged |=
            verbosity == kDebug4 && message.find(L"became signaled via [abort]") != std::wstring::npos;
    }
    EXPECT_TRUE(abandonedLogged);
}

TEST_F(SerialIo, OneReaderAndSeveralWritersAtOnce) {
    // The far end echoes; the reader collects by the sentence end character.
    ASSERT_EQ(serial.setCommMask(EV_TXEMPTY | EV_ERR), 0U);
    ASSERT_EQ(serial.setEventChar('\x04'), 0U);
    constexpr int kWriters = 3;
    constexpr int kSentences = 100;
    std::atomic<bool> farEndRunning{true};
    std::thread echo([&] {
        while (farEndRunning) {
            const test::Bytes bytes = pty.receive(64, std::chrono::milliseconds(20));
            if (!bytes.empty()) {
                pty.send(bytes);
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kSentences; ++i) {
                const std::string sentence = "W" + std::to_string(w) + ":" + std::to_string(i) + "\x04";
                ASSERT_EQ(write(test::Bytes(sentence.begin(), sentence.end()), kLong, &abort), 0U);
            }
        });
    }
    std::string collected;
    std::size_t sentences = 0;
    while (sentences < kWriters * kSentences) {
        std::uint32_t mask = 0;
        const std::uint32_t result = serial.waitCommEvent(mask, &abort, kLong);
        ASSERT_EQ(result, 0U);
        if ((mask & EV_RXFLAG) != 0) {
            test::Bytes bytes;
            ASSERT_EQ(serial.readPort(bytes, &abort, kLong), 0U);
            collected.append(bytes.begin(), bytes.end());
            sentences = static_cast<std::size_t>(std::count(collected.begin(), collected.end(), '\x04'));
        }
    }
    for (auto& writer : writers) {
        writer.join();
    }
    farEndRunning = false;
    echo.join();
    // Each writer's sentences arrive whole and in its order.
    for (int w = 0; w < kWriters; ++w) {
        std::size_t position = 0;
        for (int i = 0; i < kSentences; ++i) {
            const std::string sentence = "W" + std::to_string(w) + ":" + std::to_string(i) + "\x04";
            const std::size_t found = collected.find(sentence, position);
            ASSERT_NE(found, std::string::npos) << sentence;
            position = found + sentence.size();
        }
    }
}
