#include "wyr/windows/system/registry/RegistryHive.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/registry/RegistryFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wyr::windows::system {

using logging::log;
using logging::logSystemError;
using logging::LogVerbosity;
using logging::trace;

namespace {

// Settings of the maker's programs live in one folder; this program's keys in one file.
constexpr const char* kVendorFolder = "Tolvek";
constexpr const char* kHiveFileName = "Orvane.reg";
constexpr int kMaximumAsideCopies = 1000;

std::mutex& hiveLock() {
    static std::mutex lock;
    return lock;
}

// Guarded by hiveLock().
std::string& fileOverride() {
    static std::string path;
    return path;
}

RegistryHive::CommitHook& commitHook() {
    static RegistryHive::CommitHook hook;
    return hook;
}

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// Creates a folder and its missing parents, private to the user as the
// base-directory rules ask; 0 or the error of the step that failed.
int makeFolders(const std::string& folder) {
    std::size_t at = 1;
    for (;;) {
        const std::size_t slash = folder.find('/', at);
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            break;
        }
        at = slash + 1;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Makes a rename or a new file in the folder durable.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// "Orvane.reg.corrupt", then "Orvane.reg.1.corrupt", ...
std::string asideName(const std::string& path, int n) {
    return n == 0 ? path + ".corrupt" : path + "." + std::to_string(n) + ".corrupt";
}

const wchar_t* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return L"a folder";
    }
    if (S_ISFIFO(mode)) {
        return L"a named pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return L"a device";
    }
    if (S_ISSOCK(mode)) {
        return L"a socket";
    }
    return L"something else";
}

// Logs a failure as a pair: what failed with its code, then the code's text.
void logFailure(const char* context, const wchar_t* what, const std::string& path, ErrorCode code) {
    log(LogVerbosity::Error, context, L"%ls [%s] [%u].", what, path.c_str(), code);
    logSystemError(code, context);
}

} // namespace

bool RegistryHive::FileIdentity::operator==(const FileIdentity& other) const {
    return exists == other.exists && statError == other.statError && device == other.device &&
           inode == other.inode && size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

RegistryHive::RegistryHive(const RegRootKey& root)
    : _rootKey(root), _root(std::make_unique<RegistryNode>(root.name())) {}

RegistryHive* RegistryHive::of(const RegRootKey& root) {
    if (!(root == RegRootKey::HKEY_CURRENT_USER)) {
        return nullptr;
    }
    // Never destroyed: settings may be read or written during the process's exit.
    static auto* const currentUser = new RegistryHive(RegRootKey::HKEY_CURRENT_USER);
    return currentUser;
}

void RegistryHive::setFileOverride(const std::string& path) {
    std::lock_guard guard(hiveLock());
    fileOverride() = path;
}

void RegistryHive::setCommitHook(CommitHook hook) {
    std::lock_guard guard(hiveLock());
    commitHook() = std::move(hook);
}

std::unique_lock<std::mutex> RegistryHive::lock() {
    return std::unique_lock(hiveLock());
}

ErrorCode RegistryHive::filePath(std::string& out) const {
    if (!fileOverride().empty()) {
        out = fileOverride();
        return ERROR_SUCCESS;
    }
    std::string base;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') {
        base = withoutTrailingSlashes(configHome);
    } else {
        const std::string home = homeFolder();
        if (home.empty()) {
            return ERROR_PATH_NOT_FOUND;
        }
        base = withoutTrailingSlashes(home) + "/.config";
    }
    out = base + "/" + kVendorFolder + "/" + kHiveFileName;
    return ERROR_SUCCESS;
}

ErrorCode RegistryHive::refresh() {
    std::string path;
    if (const ErrorCode rc = filePath(path); rc != ERROR_SUCCESS) {
        return rc;
    }
    FileIdentity current;
    struct stat st {};
    int statError = 0;
    if (::stat(path.c_str(), &st) == 0) {
        current = FileIdentity{true, 0, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    } else {
        statError = errno;
        current.statError = statError == ENOENT ? 0 : statError;
    }
    if (_loaded && path == _loadedPath && current == _loadedIdentity) {
        return _loadError;
    }

    log(LogVerbosity::DebugLevel2, "RegistryHive::refresh", L"Reading settings file [%s].", path.c_str());
    ErrorCode result = ERROR_SUCCESS;
    _unreadable = false;
    _keepReason = ERROR_SUCCESS;
    _loadError = ERROR_SUCCESS;
    auto previous = std::move(_root);
    _root = std::make_unique<RegistryNode>(_rootKey.name());
    if (statError != 0 && statError != ENOENT) {
        // The folder is unreachable: nothing can be read, and saving will say why.
        result = errorFromErrno(statError);
        _loadError = result;
        logFailure("RegistryHive::refresh", L"Cannot reach the settings file", path, result);
    } else if (statError == 0) {
        result = load(path, st.st_mode, current);
    }
    // Volatile keys never reach the file; they outlive a reload of the same file.
    if (path == _loadedPath) {
        _root->adoptVolatileFrom(*previous);
    }
    _loaded = true;
    _loadedPath = path;
    _loadedIdentity = current;
    return result;
}

ErrorCode RegistryHive::load(const std::string& path, mode_t mode, FileIdentity& identity) {
    // Only a regular file is read: a FIFO would block the open for ever, a device
    // may never end or react to being opened.
    if (!S_ISREG(mode)) {
        return refuseSpecialFile(path, mode);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    std::string bytes;
    int readError = fd < 0 ? errno : 0;
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                // Replaced since it was looked at.
                ::close(fd);
                return refuseSpecialFile(path, st.st_mode);
            }
            identity = FileIdentity{true, 0, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
        }
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                readError = errno;
                break;
            }
            if (n == 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
            if (bytes.size() > RegistryFile::kMaximumSize) {
                break; // the parser rejects it
            }
        }
        ::close(fd);
    }
    if (readError != 0) {
        // Keys that could not be read must not be replaced by a save.
        _loadError = errorFromErrno(readError);
        keepFile(_loadError);
        logFailure("RegistryHive::load", L"Cannot read the settings file", path, _loadError);
        return _loadError;
    }

    const RegistryFile::Outcome outcome = RegistryFile::parse(bytes, *_root);
    if (outcome.complete()) {
        return ERROR_SUCCESS;
    }
    if (!outcome.settingsFile) {
        _root = std::make_unique<RegistryNode>(_rootKey.name());
        const RegistryFile::Problem& problem = outcome.problems.front();
        log(LogVerbosity::Error, "RegistryHive::load",
            L"The settings file [%s] cannot be parsed (line %zu): %ls", path.c_str(), problem.line,
            problem.reason.c_str());
        std::string aside;
        const ErrorCode rc = setAside(path, aside);
        if (rc == ERROR_SUCCESS) {
            log(LogVerbosity::Error, "RegistryHive::load",
                L"It was kept as [%s]; the settings start from defaults [%u].", aside.c_str(), ERROR_BADDB);
            logSystemError(ERROR_BADDB, "RegistryHive::load");
            identity = FileIdentity{};
            return ERROR_BADDB;
        }
        logFailure("RegistryHive::load",
                   L"The unreadable settings file cannot be set aside and will not be overwritten", path, rc);
        keepFile(ERROR_BADDB);
        _loadError = ERROR_BADDB;
        return ERROR_BADDB;
    }

    // Every line that could be read is kept. The next save writes only those, so
    // the file as the user left it is copied aside first.
    for (const RegistryFile::Problem& problem : outcome.problems) {
        log(LogVerbosity::Error, "RegistryHive::load",
            L"Line %zu of the settings file [%s] cannot be read and is skipped: %ls", problem.line,
            path.c_str(), problem.reason.c_str());
    }
    if (outcome.skippedLines > outcome.problems.size()) {
        log(LogVerbosity::Error, "RegistryHive::load",
            L"%zu more lines of the settings file [%s] cannot be read and are skipped.",
            outcome.skippedLines - outcome.problems.size(), path.c_str());
    }
    std::string copy;
    if (const ErrorCode rc = copyAside(path, bytes, copy); rc == ERROR_SUCCESS) {
        log(LogVerbosity::Error, "RegistryHive::load",
            L"The file as it was is kept as [%s]; every other setting was read [%u].", copy.c_str(),
            ERROR_REGISTRY_RECOVERED);
        logSystemError(ERROR_REGISTRY_RECOVERED, "RegistryHive::load");
    } else {
        logFailure("RegistryHive::load",
                   L"The settings file cannot be copied aside and will not be overwritten", path, rc);
        keepFile(ERROR_BADDB);
    }
    return ERROR_REGISTRY_RECOVERED; // once: the tree is what the file holds now
}

void RegistryHive::keepFile(ErrorCode reason) {
    _unreadable = true;
    _keepReason = reason;
}

ErrorCode RegistryHive::refuseSpecialFile(const std::string& path, mode_t mode) {
    _loadError = S_ISDIR(mode) ? ERROR_DIRECTORY : ERROR_CANTREAD;
    keepFile(_loadError);
    log(LogVerbosity::Error, "RegistryHive::load",
        L"The settings file [%s] is %ls, not a file; the settings start from defaults and it is never "
        L"replaced [%u].",
        path.c_str(), kindOf(mode), _loadError);
    logSystemError(_loadError, "RegistryHive::load");
    return _loadError;
}

ErrorCode RegistryHive::setAside(const std::string& path, std::string& asidePath) {
    for (int n = 0; n < kMaximumAsideCopies; ++n) {
        asidePath = asideName(path, n);
        // An earlier copy is never replaced.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, asidePath.c_str(), RENAME_NOREPLACE) == 0) {
            syncFolder(parentOf(path));
            return ERROR_SUCCESS;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return errorFromErrno(errno);
        }
        // A file system without RENAME_NOREPLACE: a hard link also refuses to replace.
        if (::link(path.c_str(), asidePath.c_str()) == 0) {
            ::unlink(path.c_str());
            syncFolder(parentOf(path));
            return ERROR_SUCCESS;
        }
        if (errno != EEXIST) {
            return errorFromErrno(errno);
        }
    }
    return ERROR_ALREADY_EXISTS;
}

ErrorCode RegistryHive::copyAside(const std::string& path, const std::string& bytes, std::string& copyPath) {
    for (int n = 0; n < kMaximumAsideCopies; ++n) {
        copyPath = asideName(path, n);
        // An earlier copy is never replaced.
        const int fd = ::open(copyPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            return errorFromErrno(errno);
        }
        int err = writeAll(fd, bytes);
        if (err == 0 && ::fsync(fd) != 0) {
            err = errno;
        }
        if (::close(fd) != 0 && err == 0) {
            err = errno;
        }
        if (err != 0) {
            ::unlink(copyPath.c_str());
            return errorFromErrno(err);
        }
        syncFolder(parentOf(path));
        return ERROR_SUCCESS;
    }
    return ERROR_ALREADY_EXISTS;
}

ErrorCode RegistryHive::commit() {
    trace("RegistryHive::commit");
    std::string path;
    if (const ErrorCode rc = filePath(path); rc != ERROR_SUCCESS) {
        log(LogVerbosity::Error, "RegistryHive::commit",
            L"No home folder is known for the settings file [%u].", rc);
        logSystemError(rc, "RegistryHive::commit");
        return rc;
    }
    // A settings file that is a link (kept with other dotfiles) stays one.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    // What stands at the path is the user's; only a regular file is replaced.
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const ErrorCode rc = S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_CANTWRITE;
        log(LogVerbosity::Error, "RegistryHive::commit",
            L"The settings file [%s] is %ls, not a file; the settings are not saved [%u].", target.c_str(),
            kindOf(st.st_mode), rc);
        logSystemError(rc, "RegistryHive::commit");
        return rc;
    }
    if (_unreadable && path == _loadedPath) {
        logFailure("RegistryHive::commit", L"The settings file could not be read and is not overwritten",
                   path, _keepReason);
        return _keepReason;
    }
    const std::string folder = parentOf(target);
    if (const int err = makeFolders(folder); err != 0) {
        const ErrorCode rc = errorFromErrno(err);
        logFailure("RegistryHive::commit", L"Cannot create the settings folder", folder, rc);
        return rc;
    }
    mode_t mode = 0600;
    if (::stat(target.c_str(), &st) == 0) {
        if ((st.st_mode & S_IWUSR) == 0) {
            // A read-only file is the user's wish to keep these settings.
            logFailure("RegistryHive::commit", L"The settings file is read-only", target,
                       ERROR_ACCESS_DENIED);
            return ERROR_ACCESS_DENIED;
        }
        mode = st.st_mode & 07777;
    }

    const std::string text = RegistryFile::format(*_root);
    std::string temporary = folder + "/." + fileNameOf(target) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        const ErrorCode rc = errorFromErrno(errno);
        logFailure("RegistryHive::commit", L"Cannot create a temporary settings file in", folder, rc);
        return rc;
    }
    int err = writeAll(fd, text);
    if (err == 0 && ::fchmod(fd, mode) != 0) {
        err = errno;
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    FileIdentity written;
    if (err == 0 && ::fstat(fd, &st) == 0) {
        written = FileIdentity{true, 0, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && commitHook()) {
        commitHook()(temporary);
    }
    if (err == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temporary.c_str());
        const ErrorCode rc = errorFromErrno(err);
        logFailure("RegistryHive::commit", L"Cannot write the settings file", target, rc);
        return rc;
    }
    syncFolder(folder);
    log(LogVerbosity::DebugLevel3, "RegistryHive::commit", L"SUCCESS: settings written to [%s].",
        target.c_str());
    _loaded = true;
    _loadedPath = path;
    _loadedIdentity = written;
    _loadError = ERROR_SUCCESS;
    _unreadable = false;
    _keepReason = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

} // namespace wyr::windows::system
