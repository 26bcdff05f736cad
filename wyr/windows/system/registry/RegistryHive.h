#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/registry/RegRootKey.h"
#include "wyr/windows/system/registry/RegistryNode.h"

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace wyr::windows::system {

// The keys of one root, shared by every RegKey of the process and kept in a
// settings file. Only HKEY_CURRENT_USER has a store:
//
//   $XDG_CONFIG_HOME/Tolvek/Orvane.reg
//
// with ~/.config in place of $XDG_CONFIG_HOME when that is unset, empty or not an
// absolute path. The file is read again whenever it changed on disk (another
// process, a hand edit, a new XDG_CONFIG_HOME), so the tree always reflects the
// file plus what this process wrote since.
//
// Saving writes a temporary file beside the settings file, flushes it and renames
// it over the old one, then flushes the folder: a crash leaves the old file or the
// new one, never a mixture. A file that is not a settings file at all is renamed
// with a ".corrupt" suffix, never deleted, reported, and the keys start empty. A
// settings file some lines of which cannot be read keeps every other line; the
// lines are reported with their numbers and the file as it was is copied aside
// under the same kind of name, so the next save loses nothing the user wrote. Only a
// regular file is read or replaced: a folder, a named pipe or a device at the path
// (or behind a link there) is reported as unreadable, the keys start empty, and
// saving refuses.
//
// Every member is used under lock().
class RegistryHive : private memory::NonCopyable {
public:
    using CommitHook = std::function<void(const std::string& temporaryPath)>;

    // The hive behind a root key; null for a root without a store here.
    static RegistryHive* of(const RegRootKey& root);

    // Puts the HKEY_CURRENT_USER file at `path`; empty restores the rule above.
    static void setFileOverride(const std::string& path);
    // Runs after the temporary file is written and flushed and before it replaces
    // the settings file, under the hive's lock: lets a test stop a save at its
    // most delicate point.
    static void setCommitHook(CommitHook hook);

    std::unique_lock<std::mutex> lock();

    // Where the file is now; ERROR_PATH_NOT_FOUND when no home folder is known.
    ErrorCode filePath(std::string& out) const;

    // Reads the file again if it changed since it was last read or written.
    // ERROR_BADDB once for a file that had to be set aside (the keys start empty);
    // ERROR_REGISTRY_RECOVERED once for a file some lines of which could not be
    // read (they were skipped, the file was copied aside, the keys hold the rest);
    // the error for a file that exists but cannot be read, as long as it stays so;
    // else 0.
    ErrorCode refresh();

    // Writes the tree's non-volatile keys to the file.
    ErrorCode commit();

    RegistryNode& root() noexcept { return *_root; }

private:
    struct FileIdentity {
        bool exists = false;
        int statError = 0; // other than "not found"
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const FileIdentity& other) const;
    };

    explicit RegistryHive(const RegRootKey& root);
    ErrorCode load(const std::string& path, mode_t mode, FileIdentity& identity);
    ErrorCode refuseSpecialFile(const std::string& path, mode_t mode);
    // The file holds what this process could not read: saving must not replace it.
    void keepFile(ErrorCode reason);
    ErrorCode copyAside(const std::string& path, const std::string& bytes, std::string& copyPath);
    ErrorCode setAside(const std::string& path, std::string& asidePath);

    const RegRootKey& _rootKey;
    std::unique_ptr<RegistryNode> _root;
    bool _loaded = false;
    std::string _loadedPath;
    FileIdentity _loadedIdentity;
    ErrorCode _loadError = ERROR_SUCCESS;  // persists while the unreadable file stays as it is
    bool _unreadable = false;              // the file holds keys we could not read: never overwrite it
    ErrorCode _keepReason = ERROR_SUCCESS; // what a save then returns
};

} // namespace wyr::windows::system
