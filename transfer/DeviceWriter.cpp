#include "transfer/DeviceWriter.h"

#include <array>
#include <string>

#include "engine/Console.h"
#include "platform/DeviceRemote.h"
#include "platform/WinTypes.h"
#include "transfer/DeviceFile.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DevicePaths.h"
#include "transfer/ServerTime.h"
#include "transfer/WidePath.h"

namespace zephyrate {

namespace {

constexpr std::size_t kChunk = 4096;

}  // namespace

bool WriteToDevice(Console& console, FileEntry& entry, ReadableFile& source, std::string_view path,
                   std::uint32_t total) {
    DeviceRemote& device = console.Device();
    // A favorite's memory file has just been written and stands at its end.
    source.SeekToBegin();
    std::array<unsigned char, kChunk> buffer;

    // error: the device's code, which the job keeps so a front end can say why.
    const auto fail = [&](std::uint32_t error) {
        console.SetDeviceWriteError(error);
        entry.Result = 2;
        return false;
    };

    if (!EnsureFolder(device, ParentPath(path))) {
        return fail(device.CeGetLastError());
    }
    WidePath wide(path);
    const auto create = [&] {
        return device.CeCreateFile(wide.Wide(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL);
    };
    DeviceFile file(device, create());
    if (!file.IsOpen()) {
        // The device keeps files in use or read-only; moved aside, the name is free again.
        (void)MoveToTrash(device, console.Job(), path);
        file.Reset(create());
        if (!file.IsOpen()) {
            return fail(device.CeGetLastError());
        }
    }

    console.StartProgressClock();
    std::size_t count = source.Read(buffer.data(), buffer.size());
    // 64 bits: files past 2 GiB must not wrap into negative progress.
    std::int64_t done = 0;
    for (;;) {
        // An empty source still makes one write of 0 bytes and one report, so the
        // display shows the file even when it has no bytes.
        std::uint32_t written = 0;
        if (!device.CeWriteFile(file.Get(), buffer.data(), static_cast<std::uint32_t>(count),
                                &written)) {
            console.Surface().SetProgressPosition(0);
            const std::uint32_t error = device.CeGetLastError();
            if (error == ERROR_DISK_FULL) {
                // A file cut short by a full device is of no use (the next run fetches it
                // again) and would only hold the room that the entries after it need.
                file.Close();
                (void)device.CeDeleteFile(wide.Wide());
            }
            return fail(error);
        }
        done += written;
        entry.Result = console.ReportProgress(total, done, entry.Name);
        if (entry.Result != 0) {
            return false;
        }
        if (count < buffer.size()) {
            break;  // a short read is the last one: the source fills every buffer it can
        }
        count = source.Read(buffer.data(), buffer.size());
    }

    const FILETIME stamp = FileTimeFromSeconds(entry.ServerTime);
    // A stamp that does not stick only costs a fresh download on the next run.
    (void)device.CeSetFileTime(file.Get(), &stamp, &stamp, &stamp);
    file.Close();
    console.Job().PresentObjects.emplace_back(path);
    return true;
}

}  // namespace zephyrate
