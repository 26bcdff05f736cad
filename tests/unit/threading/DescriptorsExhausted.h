#pragma once

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace test {

// Leaves exactly `spare` descriptors free, so that the next creations fail.
class DescriptorsExhausted {
public:
    explicit DescriptorsExhausted(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &_saved);
        rlimit lowered = _saved;
        lowered.rlim_cur = static_cast<rlim_t>(highestOpenDescriptor() + 64);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
            _fds.push_back(fd);
        }
        for (int i = 0; i < spare && !_fds.empty(); ++i) {
            ::close(_fds.back());
            _fds.pop_back();
        }
    }
    ~DescriptorsExhausted() {
        for (const int fd : _fds) {
            ::close(fd);
        }
        ::setrlimit(RLIMIT_NOFILE, &_saved);
    }

private:
    static int highestOpenDescriptor() {
        int highest = 2;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (const dirent* entry = ::readdir(dir)) {
                highest = std::max(highest, std::atoi(entry->d_name));
            }
            ::closedir(dir);
        }
        return highest;
    }

    rlimit _saved{};
    std::vector<int> _fds;
};

} // namespace test
