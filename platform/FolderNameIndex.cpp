#include "platform/FolderNameIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zephyrate {

namespace {

constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

struct DirCloser {
    void operator()(DIR* dir) const { (void)closedir(dir); }
};

bool IsDotName(std::string_view name) {
    return name == "." || name == "..";
}

}  // namespace

FolderNameIndex::FolderNameIndex(Fold fold) : fold_(std::move(fold)) {}

bool FolderNameIndex::Watchable(int folder) {
    struct statfs info {};
    if (fstatfs(folder, &info) != 0) {
        return false;
    }
    // Local file systems only: on network and FUSE mounts a change made elsewhere (by
    // the phone itself, another computer) raises no event here.
    switch (static_cast<unsigned long>(info.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case F2FS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:
        case MSDOS_SUPER_MAGIC:  // FAT cards
        case EXFAT_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

FolderNameIndex::Answer FolderNameIndex::Lookup(int folder, const std::u32string& key,
                                                std::string& name) {
    std::lock_guard lock(mutex_);
    if (folders_.empty()) {
        return Answer::Unknown;  // the common case for small devices: not even a stat
    }
    struct stat status {};
    if (fstat(folder, &status) != 0) {
        return Answer::Unknown;
    }
    DrainLocked();
    const auto it = folders_.find({status.st_dev, status.st_ino});
    if (it == folders_.end()) {
        return Answer::Unknown;
    }
    recent_.splice(recent_.begin(), recent_, it->second.recent);
    const auto found = it->second.names.find(key);
    if (found == it->second.names.end()) {
        return Answer::Missing;
    }
    name = *found->second.begin();
    return Answer::Found;
}

void FolderNameIndex::Offer(int folder, std::size_t entryCount) {
    if (entryCount < kMinEntries) {
        return;
    }
    std::lock_guard lock(mutex_);
    struct stat status {};
    if (fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode) || !Watchable(folder)) {
        return;
    }
    const FolderId id{status.st_dev, status.st_ino};
    if (folders_.count(id) != 0) {
        return;
    }
    if (!inotify_.Valid()) {
        inotify_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify_.Valid()) {
            return;  // out of inotify instances: scanning still works
        }
    }
    // Take up what is queued, so that a watch number the kernel gives again is not
    // confused with a folder forgotten earlier.
    DrainLocked();
    // The watch comes before the scan: a change made during the scan is then both
    // (perhaps) in the listing and in the queue, and applying the queue on top of the
    // listing gives the folder as it is.
    const std::string path = "/proc/self/fd/" + std::to_string(folder);
    const int watch = inotify_add_watch(inotify_.Get(), path.c_str(), kWatchMask);
    if (watch < 0) {
        return;
    }
    Folder entry;
    entry.watch = watch;
    ScopedFd readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* opened = readable.Valid() ? fdopendir(readable.Get()) : nullptr;
    if (opened == nullptr) {
        (void)inotify_rm_watch(inotify_.Get(), watch);
        return;
    }
    (void)readable.Release();  // the DIR owns it now
    const std::unique_ptr<DIR, DirCloser> dir(opened);
    errno = 0;
    while (const dirent* found = readdir(dir.get())) {
        const std::string_view name(found->d_name);
        if (!IsDotName(name)) {
            entry.names[fold_(name)].emplace(name);
        }
        errno = 0;
    }
    if (errno != 0) {
        (void)inotify_rm_watch(inotify_.Get(), watch);
        return;
    }
    recent_.push_front(id);
    entry.recent = recent_.begin();
    byWatch_[watch] = id;
    folders_.emplace(id, std::move(entry));
    if (folders_.size() > kMaxFolders) {
        ForgetLocked(folders_.find(recent_.back()));
    }
    DrainLocked();
}

std::size_t FolderNameIndex::FolderCount() {
    std::lock_guard lock(mutex_);
    DrainLocked();
    return folders_.size();
}

void FolderNameIndex::DrainLocked() {
    if (!inotify_.Valid()) {
        return;
    }
    alignas(inotify_event) std::array<char, 16384> buffer;
    for (;;) {
        const ssize_t count = read(inotify_.Get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count < 0 && errno != EAGAIN) {
                ForgetAllLocked();  // a queue we cannot read can no longer vouch for anything
            }
            return;
        }
        for (ssize_t offset = 0; offset < count;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const char* eventName = buffer.data() + offset + sizeof event;
            offset += static_cast<ssize_t>(sizeof event + event.len);
            if ((event.mask & IN_Q_OVERFLOW) != 0) {
                ForgetAllLocked();  // changes were lost
                continue;
            }
            const auto watched = byWatch_.find(event.wd);
            if (watched == byWatch_.end()) {
                continue;  // a folder forgotten before this event was read
            }
            const auto folder = folders_.find(watched->second);
            if ((event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) != 0) {
                ForgetLocked(folder);
                continue;
            }
            if (event.len == 0) {
                continue;
            }
            const std::string name(eventName, strnlen(eventName, event.len));
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                folder->second.names[fold_(name)].insert(name);
            } else if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                const auto same = folder->second.names.find(fold_(name));
                if (same != folder->second.names.end()) {
                    same->second.erase(name);
                    if (same->second.empty()) {
                        folder->second.names.erase(same);
                    }
                }
            }
        }
    }
}

void FolderNameIndex::ForgetLocked(std::map<FolderId, Folder>::iterator folder) {
    if (folder == folders_.end()) {
        return;
    }
    // Fails harmlessly when the kernel already dropped the watch (folder deleted).
    (void)inotify_rm_watch(inotify_.Get(), folder->second.watch);
    byWatch_.erase(folder->second.watch);
    recent_.erase(folder->second.recent);
    folders_.erase(folder);
}

void FolderNameIndex::ForgetAllLocked() {
    while (!folders_.empty()) {
        ForgetLocked(folders_.begin());
    }
}

}  // namespace zephyrate
