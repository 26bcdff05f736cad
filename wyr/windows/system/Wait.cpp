#include "wyr/windows/system/Wait.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

namespace wyr::windows::system {

namespace {

using Clock = std::chrono::steady_clock;

int pollTimeout(bool infinite, Clock::time_point deadline) {
    if (infinite) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF));
}

} // namespace

std::uint32_t waitForAny(std::span<WaitableObject* const> objects, std::uint32_t timeoutMs) {
    if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) {
        setLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds{};
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i] == nullptr || objects[i]->waitDescriptor() < 0) {
            setLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        fds[i] = pollfd{objects[i]->waitDescriptor(), objects[i]->waitEvents(), 0};
    }

    const bool infinite = timeoutMs == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    for (;;) {
        // The objects themselves decide, in index order; poll() only wakes us.
        for (std::size_t i = 0; i < objects.size(); ++i) {
            switch (objects[i]->tryTake()) {
            case WaitableObject::Take::Signalled:
                return WAIT_OBJECT_0 + static_cast<std::uint32_t>(i);
            case WaitableObject::Take::Abandoned:
                return WAIT_ABANDONED_0 + static_cast<std::uint32_t>(i);
            case WaitableObject::Take::NotSignalled:
                break;
            }
        }
        const int timeout = pollTimeout(infinite, deadline);
        if (!infinite && timeout == 0) {
            return WAIT_TIMEOUT;
        }
        const int ready = ::poll(fds.data(), objects.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            setLastErrorFromErrno();
            return WAIT_FAILED;
        }
        if (ready > 0) {
            for (std::size_t i = 0; i < objects.size(); ++i) {
                if ((fds[i].revents & POLLNVAL) != 0) {
                    setLastError(ERROR_INVALID_HANDLE);
                    return WAIT_FAILED;
                }
            }
        }
    }
}

std::uint32_t waitForAny(std::initializer_list<WaitableObject*> objects, std::uint32_t timeoutMs) {
    return waitForAny(std::span<WaitableObject* const>(objects.begin(), objects.size()), timeoutMs);
}

std::uint32_t waitForSingle(WaitableObject& object, std::uint32_t timeoutMs) {
    WaitableObject* const objects[] = {&object};
    return waitForAny(objects, timeoutMs);
}

void sleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace wyr::windows::system
