#include "platform/SharedInstanceBlock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/ScopedFd.h"

namespace zephyrate {

namespace {

static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free,
              "the words are shared with other processes, so they must need no lock");

}  // namespace

void SharedInstanceBlock::Unmap::operator()(std::uint32_t* words) const {
    (void)munmap(words, kSize);
}

std::string SharedInstanceBlock::NameFor(std::string_view lockPath) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : lockPath) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return "/ZephyrateLock-" + std::to_string(getuid()) + "-" + std::to_string(hash);
}

SharedInstanceBlock SharedInstanceBlock::Open(std::string_view lockPath) {
    SharedInstanceBlock block;
    const ScopedFd fd(shm_open(NameFor(lockPath).c_str(), O_RDWR | O_CREAT, 0600));
    struct stat object {};
    if (!fd.Valid() || fstat(fd.Get(), &object) != 0 || object.st_uid != getuid()) {
        return block;
    }
    // One cut short (by hand, or by a copy that died making it) grows back with zeros.
    if (object.st_size < static_cast<off_t>(kSize) &&
        ftruncate(fd.Get(), static_cast<off_t>(kSize)) != 0) {
        return block;
    }
    void* memory = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (memory != MAP_FAILED) {
        block.words_.reset(static_cast<std::uint32_t*>(memory));
    }
    return block;
}

std::uint32_t SharedInstanceBlock::Load(Field field) const {
    if (!words_) {
        return 0;
    }
    return std::atomic_ref(words_.get()[static_cast<std::size_t>(field)]).load();
}

void SharedInstanceBlock::Store(Field field, std::uint32_t value) {
    if (words_) {
        std::atomic_ref(words_.get()[static_cast<std::size_t>(field)]).store(value);
    }
}

void SharedInstanceBlock::Increment(Field field) {
    if (words_) {
        std::atomic_ref(words_.get()[static_cast<std::size_t>(field)]).fetch_add(1);
    }
}

}  // namespace zephyrate
