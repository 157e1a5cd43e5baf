// Remembers the names of large folders by their folded form, so that looking up a name
// that is not there (every new file) does not cost a scan of the whole folder each time.
// An inotify watch on every remembered folder keeps the index exact: a change to a folder
// is queued on the watch before the call that made it returns, and every lookup takes up
// the queue first. Folders on file systems whose changes may bypass the local kernel
// (network and FUSE mounts) are never remembered, nor is anything when inotify is missing;
// their lookups answer Unknown and the caller scans.
//
// Threads: every member may be called from any thread; one mutex guards the index. A
// child made by fork must not use it: parent and child would share one watch queue.
// Ownership: the object owns its inotify descriptor; folder descriptors stay the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/ScopedFd.h"

namespace zephyrate {

class FolderNameIndex {
  public:
    // Folders with at least this many entries are worth an index.
    static constexpr std::size_t kMinEntries = 16;
    // At most this many folders are remembered; the least recently used goes first.
    static constexpr std::size_t kMaxFolders = 32;

    // How names are compared: two names are the same when their folds are equal.
    using Fold = std::function<std::u32string(std::string_view)>;

    explicit FolderNameIndex(Fold fold);
    FolderNameIndex(const FolderNameIndex&) = delete;
    FolderNameIndex& operator=(const FolderNameIndex&) = delete;

    enum class Answer { Unknown, Missing, Found };

    // For a folder descriptor: the first name in byte order whose fold equals key (in
    // name), Missing when the index knows there is none, Unknown when the folder is not
    // remembered.
    Answer Lookup(int folder, const std::u32string& key, std::string& name);

    // Starts remembering a folder in which a scan just found entryCount entries; does
    // nothing for small folders or where changes cannot be watched.
    void Offer(int folder, std::size_t entryCount);

    std::size_t FolderCount();  // for tests

  private:
    using FolderId = std::pair<std::uint64_t, std::uint64_t>;  // st_dev, st_ino
    struct Folder {
        int watch = -1;
        // fold -> names with that fold, in byte order
        std::unordered_map<std::u32string, std::set<std::string>> names;
        std::list<FolderId>::iterator recent;
    };

    // Takes up the queued changes; the caller holds the lock.
    void DrainLocked();
    void ForgetLocked(std::map<FolderId, Folder>::iterator folder);
    void ForgetAllLocked();
    static bool Watchable(int folder);

    Fold fold_;
    std::mutex mutex_;
    ScopedFd inotify_;  // made when the first folder is remembered
    std::map<FolderId, Folder> folders_;
    std::unordered_map<int, FolderId> byWatch_;
    std::list<FolderId> recent_;  // most recently used first
};

}  // namespace zephyrate
