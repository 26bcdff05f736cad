#include "cli/PortAccess.h"

#include "wyr/windows/communication/SerialDevice.h"

#include <grp.h>
#include <sys/stat.h>
#include <vector>

namespace cli {

namespace sys = wyr::windows::system;

namespace {

// The group that may open the device, when it is one a user is added to.
std::string accessGroup(const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0 || st.st_gid == 0) {
        return "dialout";
    }
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return "dialout";
    }
    return found->gr_name;
}

} // namespace

sys::ErrorCode PortAccess::check(const std::string& devicePath) {
    wyr::windows::communication::PortHandle port;
    const sys::ErrorCode code = wyr::windows::communication::SerialDevice::open(devicePath, port);
    if (port) {
        port->close();
    }
    return code;
}

std::string PortAccess::explain(std::int32_t port, const std::string& devicePath, sys::ErrorCode code) {
    const std::string name = "COM" + std::to_string(port) + " (" + devicePath + ")";
    if (code == sys::ERROR_ACCESS_DENIED) {
        const std::string group = accessGroup(devicePath);
        return name + " may not be opened by you: serial ports belong to the '" + group +
               "' group. Add yourself to it (sudo usermod -aG " + group +
               " $USER), then log out and in again.";
    }
    if (code == sys::ERROR_SHARING_VIOLATION) {
        return name + " is in use by another program. Close that program (fuser " + devicePath +
               " names it) and try again.";
    }
    return {};
}

bool PortAccess::report(const device::SerialPortEnumerator& enumerator,
                        const std::vector<std::int32_t>& ports, std::ostream& err,
                        const std::string& prefix) {
    bool blocked = false;
    for (const std::int32_t port : ports) {
        const std::string path = enumerator.devicePathForPort(port);
        if (path.empty()) {
            continue;
        }
        const std::string why = explain(port, path, check(path));
        if (!why.empty()) {
            err << prefix << why << "\n";
            blocked = true;
        }
    }
    return blocked;
}

} // namespace cli
