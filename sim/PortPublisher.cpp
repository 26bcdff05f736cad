#include "sim/PortPublisher.h"

#include "wyr/windows/communication/PortMap.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

using namespace wyr::windows::system;

namespace {

// The port directory of this environment, created (private to the user) if missing.
std::string ensurePortDirectory() {
    using wyr::windows::communication::PortMap;
    std::string directory = PortMap::fromEnvironment().portDirectory();
    if (directory.empty()) {
        // The shared temporary fallback: make our private folder, then ask again, so
        // that the map's own ownership checks decide whether it is trusted.
        const char* tmp = std::getenv("TMPDIR");
        const std::string own = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/orvane-" +
                                std::to_string(::getuid());
        if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
            setLastErrorFromErrno();
            return {};
        }
        directory = PortMap::fromEnvironment().portDirectory();
        if (directory.empty()) {
            setLastError(ERROR_ACCESS_DENIED);
            return {};
        }
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        setLastError(errorFromErrno(error.value()));
        return {};
    }
    return directory;
}

bool isStale(const std::string& link) {
    struct stat st {};
    return ::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(link.c_str(), &st) != 0;
}

} // namespace

ErrorCode PortPublisher::publish(const std::string& target, int requested, int& number, std::string& link) {
    const std::string directory = ensurePortDirectory();
    if (directory.empty()) {
        return getLastError();
    }
    const int first = requested > 0 ? requested : kFirstAutomaticNumber;
    const int last = requested > 0 ? requested : kFirstAutomaticNumber + 99;
    for (int n = first; n <= last; ++n) {
        const std::string candidate = directory + "/COM" + std::to_string(n);
        if (isStale(candidate)) {
            ::unlink(candidate.c_str());
        }
        if (::symlink(target.c_str(), candidate.c_str()) == 0) {
            number = n;
            link = candidate;
            return ERROR_SUCCESS;
        }
        if (errno != EEXIST) {
            return setLastErrorFromErrno();
        }
    }
    setLastError(ERROR_ALREADY_EXISTS);
    return ERROR_ALREADY_EXISTS;
}

void PortPublisher::withdraw(const std::string& link, const std::string& target) {
    if (link.empty()) {
        return;
    }
    char buffer[PATH_MAX] = {};
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) {
        ::unlink(link.c_str());
    }
}

} // namespace sim
