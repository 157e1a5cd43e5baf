#include "transfer/DeviceWriter.h"

#include <array>
#include <string>

#include "platform/DeviceFile.h"
#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "platform/WinTypes.h"
#include "run/JobValues.h"
#include "run/ProgressSink.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DevicePaths.h"
#include "transfer/ServerTime.h"
#include "transfer/TransferContext.h"

namespace zephyrate {

namespace {

constexpr std::size_t kChunk = 4096;

bool IsMissing(std::uint32_t error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsFull(std::uint32_t error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// error: the device's code, which the job keeps so that a front end can say why.
bool Failed(TransferContext& context, FileEntry& entry, std::uint32_t error) {
    context.job.DeviceWriteError = error;
    entry.Result = 2;
    return false;
}

// How a copy into a device file ended: complete, stopped by the user (entry.Result holds
// the stop code), or refused by the device with an error.
struct CopyEnd {
    bool complete = false;
    std::uint32_t error = ERROR_SUCCESS;
};

CopyEnd CopyInto(TransferContext& context, FileEntry& entry, ReadableFile& source,
                 DeviceHandle file, std::uint32_t total) {
    DeviceRemote& device = context.device;
    std::array<unsigned char, kChunk> buffer;
    context.progress.StartProgressClock();
    std::size_t count = source.Read(buffer.data(), buffer.size());
    // 64 bits: files past 2 GiB must not wrap into negative progress.
    std::int64_t done = 0;
    for (;;) {
        // An empty source still makes one write of 0 bytes and one report, so the
        // display shows the file even when it has no bytes.
        std::uint32_t written = 0;
        if (!device.CeWriteFile(file, buffer.data(), static_cast<std::uint32_t>(count), &written)) {
            context.progress.ResetProgress();
            return {false, device.CeGetLastError()};
        }
        done += written;
        entry.Result = context.progress.ReportProgress(total, done, entry.Name);
        if (entry.Result != 0) {
            return {};
        }
        if (count < buffer.size()) {
            return {true};  // a short read is the last one: the source fills every buffer it can
        }
        count = source.Read(buffer.data(), buffer.size());
    }
}

void Stamp(DeviceRemote& device, DeviceHandle file, const FileEntry& entry) {
    const FILETIME stamp = FileTimeFromSeconds(entry.ServerTime);
    // A stamp that does not stick only costs a fresh download on the next run.
    (void)device.CeSetFileTime(file, &stamp, &stamp, &stamp);
}

// A file written under its temporary name, deleted again on every way out (also when the
// source throws) unless it took the place of the real file.
class TemporaryFile {
  public:
    TemporaryFile(DeviceRemote& device, std::string_view path)
        : device_(device), path_(TemporaryPath(path)), file_(device, INVALID_HANDLE_VALUE) {}
    ~TemporaryFile() { Discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Create() {
        // Truncates a stale one of the same name.
        file_.Reset(device_.CeCreateFile(path_.Wide(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL));
        created_ = file_.IsOpen();
        return created_;
    }
    DeviceFile& File() { return file_; }
    // Moves the closed file to path; false, with the device's error, when it cannot.
    bool MoveTo(WidePath& path) {
        file_.Close();
        if (!device_.CeMoveFile(path_.Wide(), path.Wide())) {
            return false;
        }
        created_ = false;
        return true;
    }
    void Discard() {
        file_.Close();
        if (created_) {
            (void)device_.CeDeleteFile(path_.Wide());
            created_ = false;
        }
    }

  private:
    DeviceRemote& device_;
    WidePath path_;
    DeviceFile file_;
    bool created_ = false;
};

// Puts the complete temporary file in the place of target; returns ERROR_SUCCESS or the
// device's error. The device's move never replaces a file, so an old copy makes way only
// now; one that the device will not let us delete (in use, read-only) goes into the
// trash, as it always has. A folder in the way stays.
std::uint32_t PutInPlace(DeviceRemote& device, JobValues& job, TemporaryFile& temporary,
                         WidePath& target) {
    if (temporary.MoveTo(target)) {
        return ERROR_SUCCESS;
    }
    if (const std::uint32_t error = device.CeGetLastError(); error != ERROR_ALREADY_EXISTS) {
        return error;
    }
    if (!device.CeDeleteFile(target.Wide())) {
        const std::uint32_t error = device.CeGetLastError();
        if (!IsMissing(error) && !MoveToTrash(device, job, target.Text())) {
            return error;
        }
    }
    return temporary.MoveTo(target) ? ERROR_SUCCESS : device.CeGetLastError();
}

// The device's way: the file truncated and written where it stands. Used where no new
// file can stand beside the old one.
bool WriteInPlace(TransferContext& context, FileEntry& entry, ReadableFile& source,
                  WidePath& target, std::uint32_t total) {
    DeviceRemote& device = context.device;
    const auto create = [&] {
        return device.CeCreateFile(target.Wide(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL);
    };
    DeviceFile file(device, create());
    if (!file.IsOpen()) {
        // The device keeps files in use or read-only; moved aside, the name is free again.
        (void)MoveToTrash(device, context.job, target.Text());
        file.Reset(create());
        if (!file.IsOpen()) {
            return Failed(context, entry, device.CeGetLastError());
        }
    }
    const CopyEnd end = CopyInto(context, entry, source, file.Get(), total);
    if (!end.complete) {
        if (end.error == ERROR_SUCCESS) {
            return false;  // stopped; the next run fetches the cut file again
        }
        if (IsFull(end.error)) {
            // A file cut short by a full device is of no use and would only hold the room
            // that the entries after it need.
            file.Close();
            (void)device.CeDeleteFile(target.Wide());
        }
        return Failed(context, entry, end.error);
    }
    Stamp(device, file.Get(), entry);
    file.Close();
    context.job.PresentObjects.emplace_back(target.Text());
    return true;
}

}  // namespace

bool WriteToDevice(TransferContext& context, FileEntry& entry, ReadableFile& source,
                   std::string_view path, std::uint32_t total) {
    DeviceRemote& device = context.device;
    JobValues& job = context.job;
    // A favorite's memory file has just been written and stands at its end.
    source.SeekToBegin();
    if (path.empty()) {
        return Failed(context, entry, ERROR_INVALID_NAME);  // the entry names no file
    }
    const std::string folder = ParentPath(path);
    if (!EnsureFolder(device, folder)) {
        return Failed(context, entry, device.CeGetLastError());
    }
    RemoveStaleTemporaries(device, job, folder);

    // The new file is written beside the old copy and takes its place only when complete
    // and stamped, so a download that breaks off, is stopped or finds no room leaves the
    // old copy as it was.
    WidePath target(path);
    TemporaryFile temporary(device, path);
    if (temporary.Create()) {
        const CopyEnd end = CopyInto(context, entry, source, temporary.File().Get(), total);
        if (end.complete) {
            Stamp(device, temporary.File().Get(), entry);
            if (const std::uint32_t error = PutInPlace(device, job, temporary, target);
                error != ERROR_SUCCESS) {
                return Failed(context, entry, error);
            }
            job.PresentObjects.emplace_back(path);
            return true;
        }
        temporary.Discard();
        if (end.error == ERROR_SUCCESS) {
            return false;  // stopped; entry.Result holds the stop code
        }
        if (!IsFull(end.error) ||
            device.CeGetFileAttributes(target.Wide()) == INVALID_FILE_ATTRIBUTES) {
            return Failed(context, entry, end.error);
        }
        // No room for two copies: the old one makes way, as the device's own write does.
        source.SeekToBegin();
    }
    // No new file can be made in this folder (a name too long for the temporary one, a
    // folder that takes no new files but lets its files be rewritten), or no room.
    return WriteInPlace(context, entry, source, target, total);
}

}  // namespace zephyrate
