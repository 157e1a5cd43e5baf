#include "platform/ChmFile.h"

#include <mspack.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace zephyrate {

namespace {

// The name under which libmspack writes an unpacked file: into memory, not to disk.
constexpr const char* kMemorySink = "\x01memory";

struct MemorySystem;

// libmspack's view of a file: a file being read, or the memory an unpacked file goes to.
// Owned by the system that opened it.
struct Handle {
    MemorySystem* system = nullptr;
    std::FILE* file = nullptr;
    std::string* sink = nullptr;
};

Handle* HandleOf(mspack_file* file) {
    return reinterpret_cast<Handle*>(file);
}

// libmspack's system calls, on stdio for reading and a string for writing; nothing it
// says is shown (a damaged file is simply not read).
void Silent(mspack_file*, const char*, ...) {}

struct MemorySystem : mspack_system {
    std::string output;
    std::vector<std::unique_ptr<Handle>> handles;

    mspack_file* Keep(Handle handle) {
        handles.push_back(std::make_unique<Handle>(handle));
        return reinterpret_cast<mspack_file*>(handles.back().get());
    }

    MemorySystem() : mspack_system{} {
        open = [](mspack_system* self, const char* name, int mode) -> mspack_file* {
            auto* system = static_cast<MemorySystem*>(self);
            if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kMemorySink) == 0) {
                system->output.clear();
                return system->Keep({system, nullptr, &system->output});
            }
            if (mode != MSPACK_SYS_OPEN_READ) {
                return nullptr;
            }
            std::FILE* file = std::fopen(name, "rb");
            return file == nullptr ? nullptr : system->Keep({system, file, nullptr});
        };
        close = [](mspack_file* file) {
            Handle* handle = HandleOf(file);
            if (handle->file != nullptr) {
                std::fclose(handle->file);
            }
            std::erase_if(handle->system->handles, [&](const std::unique_ptr<Handle>& kept) {
                return kept.get() == handle;
            });
        };
        read = [](mspack_file* file, void* buffer, int bytes) -> int {
            Handle* handle = HandleOf(file);
            if (handle->file == nullptr || bytes < 0) {
                return -1;
            }
            const std::size_t got =
                std::fread(buffer, 1, static_cast<std::size_t>(bytes), handle->file);
            return std::ferror(handle->file) ? -1 : static_cast<int>(got);
        };
        write = [](mspack_file* file, void* buffer, int bytes) -> int {
            Handle* handle = HandleOf(file);
            if (handle->sink == nullptr || bytes < 0) {
                return -1;
            }
            handle->sink->append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
            return bytes;
        };
        seek = [](mspack_file* file, off_t offset, int mode) -> int {
            Handle* handle = HandleOf(file);
            const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                               : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                             : SEEK_END;
            return handle->file == nullptr || fseeko(handle->file, offset, whence) != 0 ? -1 : 0;
        };
        tell = [](mspack_file* file) -> off_t {
            Handle* handle = HandleOf(file);
            return handle->file == nullptr ? -1 : ftello(handle->file);
        };
        message = &Silent;
        alloc = [](mspack_system*, std::size_t bytes) { return std::malloc(bytes); };
        free = [](void* block) { std::free(block); };
        copy = [](void* from, void* to, std::size_t bytes) { std::memmove(to, from, bytes); };
    }
};

}  // namespace

struct ChmFile::Parts {
    std::string path;  // libmspack keeps the pointer to it and opens it for every read
    MemorySystem system;
    mschm_decompressor* reader = nullptr;
    mschmd_header* header = nullptr;

    ~Parts() {
        if (header != nullptr) {
            reader->close(reader, header);
        }
        if (reader != nullptr) {
            mspack_destroy_chm_decompressor(reader);
        }
    }

    mschmd_file* Find(std::string_view name) const {
        for (mschmd_file* list : {header->files, header->sysfiles}) {
            for (mschmd_file* file = list; file != nullptr; file = file->next) {
                if (name == file->filename) {
                    return file;
                }
            }
        }
        return nullptr;
    }
};

ChmFile::ChmFile(const std::string& path) : parts_(std::make_unique<Parts>()) {
    parts_->path = path;
    parts_->reader = mspack_create_chm_decompressor(&parts_->system);
    if (parts_->reader != nullptr) {
        parts_->header = parts_->reader->open(parts_->reader, parts_->path.c_str());
    }
}

ChmFile::~ChmFile() = default;

bool ChmFile::IsOpen() const {
    return parts_->header != nullptr;
}

std::vector<std::string> ChmFile::Names() const {
    std::vector<std::string> names;
    for (mschmd_file* file = IsOpen() ? parts_->header->files : nullptr; file != nullptr;
         file = file->next) {
        names.emplace_back(file->filename);
    }
    return names;
}

std::optional<std::string> ChmFile::Read(std::string_view name) const {
    mschmd_file* file = IsOpen() ? parts_->Find(name) : nullptr;
    if (file == nullptr || parts_->reader->extract(parts_->reader, file, kMemorySink) != 0) {
        return std::nullopt;
    }
    return std::move(parts_->system.output);
}

std::string ChmFile::DefaultTopic() const {
    // #SYSTEM: a 4-byte version, then records of a 16-bit code, a 16-bit length and the
    // data; code 2 holds the default topic with its terminating zero.
    const std::optional<std::string> system = Read("/#SYSTEM");
    if (!system) {
        return "";
    }
    const auto word = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>((*system)[at])) |
               static_cast<unsigned>(static_cast<unsigned char>((*system)[at + 1])) << 8;
    };
    for (std::size_t at = 4; at + 4 <= system->size();) {
        const unsigned code = word(at);
        const std::size_t length = word(at + 2);
        if (at + 4 + length > system->size()) {
            break;
        }
        if (code == 2) {
            const std::string topic = system->substr(at + 4, length);
            return "/" + topic.substr(0, topic.find('\0'));
        }
        at += 4 + length;
    }
    return "";
}

}  // namespace zephyrate
