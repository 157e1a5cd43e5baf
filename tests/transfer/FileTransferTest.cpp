// Transfer against a real test site and device folder. The step: when a copy counts as
// current, what a written file shows on its row and in its progress, its favorite and
// shortcut, and how an entry fails. The writer: chunks, reports and stamp; the temporary
// file that takes the old copy's place only when complete; old copies the device refuses
// to replace. The device's folders: making them, the trash, the data path.
#include "transfer/FileTransfer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/InternetError.h"
#include "platform/MemoryFile.h"
#include "tests/support/ConsoleFixture.h"
#include "tests/support/RawHttpServer.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DeviceWriter.h"

namespace zephyrate::test {
namespace {

using namespace std::string_literals;
const std::string kBody = "status 200";  // also what /status/200 answers
const std::string kInvalid =
    "Invalid synchronisation object. Please contact support@kestrelwynd.example";
const std::string kWriteError = "Error: writing file data to device";

class FileTransferTest : public ConsoleFixture {
  protected:
    // The site's files carry a stamp and a length; /status/200 has no stamp.
    FileTransferTest() {
        Place("www/a", kBody, kStamp);
        Place("www/a.exe", kBody, kStamp);
        site_.ServeFolder(temp_ / "www");
        site_.Start();
        entry_.SetFile("docs/a.bin");
        entry_.ServerTime = kStamp;
    }
    // An entry for name whose body comes from a path of the site.
    FileEntry Entry(const std::string& name, const std::string& path = "/a") const {
        FileEntry entry;
        entry.Name = name;
        entry.Url = path.starts_with("/") ? site_.Url(path) : path;
        entry.UrlIsAbsolute = true;
        return entry;
    }
    // Writes contents to the device as entry_'s file.
    bool Write(const std::string& contents, std::string_view path) {
        MemoryFile source;
        source.Write(contents.data(), contents.size());
        return WriteToDevice(context_, entry_, source, path, 0);
    }
    std::ptrdiff_t Count(std::string_view folder) const {
        return std::distance(fs::directory_iterator(OnDevice(folder)), {});
    }
    FileEntry entry_;
};

TEST_F(FileTransferTest, TheCopyIsCurrentWithTheSameLengthAndAStampWithinTwoSeconds) {
    RawHttpServer unannounced([](RawHttpServer::Connection& c) {
        c.ReadRequest();  // the body ends when the connection closes
        c.Send("HTTP/1.1 200 OK\r\nLast-Modified: " + HttpDateOf(kStamp) + "\r\n\r\n" + kBody);
    });
    // With stamp and length, without a stamp, without a length.
    const std::string a = "/a", noStamp = "/status/200", noLength = unannounced.Url("/a");
    const std::string same(kBody.size(), 'x');  // other bytes of the same length
    const struct {
        std::string path;
        std::string copy;    // the device copy before the step
        std::time_t offset;  // its stamp minus the server's (without one: the time of the step)
        bool force;
        int outcome;
    } cases[] = {
        {a, kBody, 2, false, 3},  {a, kBody, -2, false, 3},       {a, kBody, 3, false, 0},
        {a, kBody, -3, false, 0}, {a, "first", 0, false, 0},      {a, same, 0, false, 3},
        {a, same, 0, true, 0},    {noStamp, kBody, -3, false, 0}, {noLength, kBody, 0, false, 0},
    };
    const fs::path copy = OnDevice("Zephyrate/news/a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (" " + c.copy) + " " + std::to_string(c.offset));
        const std::time_t server = c.path == noStamp ? std::time(nullptr) : kStamp;
        Place("device/Zephyrate/news/a", c.copy, server + c.offset);
        FileEntry entry = Entry("a", c.path);
        EXPECT_EQ(Step(entry, c.force), c.outcome);
        EXPECT_EQ(Read(copy), c.outcome == 0 ? kBody : c.copy);
        EXPECT_NEAR(ModifiedAt(copy), c.outcome == 0 ? server : server + c.offset, 1);
    }
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: a  10/???");
}

// The row's steps and the progress of a written file. Links go below the data path; an
// old shortcut that the device will not delete (read-only) goes to the trash. A missing
// link brings the file and both links again. A favorite that cannot be made fails the
// entry.
TEST_F(FileTransferTest, FavoriteAndShortcutAreWrittenAfterTheFileAndReplaced) {
    const std::string file = "\\Zephyrate\\news\\a.exe";
    const fs::path favorite = OnDevice("Card/windows/favorites/news/Daily.url");
    const fs::path shortcut = OnDevice("Card/windows/Start Menu/Programs/Reader.lnk");
    fs::create_directories(OnDevice("Zephyrate/Trash"));
    chmod(temp_.WriteFile("device/Card/windows/Start Menu/Programs/Reader.lnk", "old").c_str(),
          0444);
    Job().DataPath = "\\Card";
    FileEntry entry = Entry("a.exe", "/a.exe");
    entry.AddFavorite("Daily");
    entry.AddShortcut("Reader");
    console_.Jobs().AddFileRow(entry, "Provider");
    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(entry.StatusText, "Synchronisation succesful");
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              (Texts{"0|Connecting|2", "0|Checking time stamp|2", "0|Downloading to device|2"}));
    EXPECT_EQ(surface_.EventsOf("status")[0], "Retrieving: a.exe  10/10");
    EXPECT_EQ(Read(favorite), "[InternetShortcut]\r\nURL=file://" + file);
    EXPECT_EQ(ModifiedAt(favorite), kStamp);
    EXPECT_EQ(Read(shortcut), "23#\"" + file + "\"");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/Reader.lnk.001")), "old");
    EXPECT_EQ(Job().PresentObjects, (Texts{file, "\\Card\\windows\\favorites\\news\\Daily.url",
                                           "\\Card\\windows\\Start Menu\\Programs\\Reader.lnk"}));

    EXPECT_EQ(Step(entry), 3);
    for (const fs::path& link : {favorite, shortcut}) {
        fs::remove(link);
        EXPECT_EQ(Step(entry), 0) << link;
        EXPECT_TRUE(fs::exists(favorite) && fs::exists(shortcut));
    }

    // A file stands where the favorites folder belongs: the shortcut is not attempted.
    fs::remove_all(favorite.parent_path().parent_path());
    temp_.WriteFile("device/Card/windows/favorites", "in the way");
    Job().PresentObjects.clear();
    EXPECT_EQ(Step(entry, true), 2);
    EXPECT_EQ(entry.StatusText, "Error: creation of favorites link in IE");
    EXPECT_EQ(Job().PresentObjects, Texts{file});
}

// Refusals by the server, and names or destinations the device must never be handed:
// those are refused before the server is asked and the row changes.
TEST_F(FileTransferTest, AnEntryFailsAloneAndLeavesNoFile) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    const std::pair<FileEntry, std::string> cases[] = {
        // the entry, the start of its text
        {Entry("a.txt", refused), "Failed to connect"},
        {Entry("good.txt\0.evil"s), kInvalid},
        {Entry(std::string(256, 'n')), kWriteError},
        {Entry("../escape.txt"), kWriteError},
        {Entry(""), kWriteError},  // "Url: http://host/" names no file
    };
    for (auto [entry, text] : cases) {
        SCOPED_TRACE(text + " " + entry.Name);
        const std::size_t requests = site_.RequestCount();
        entry.Row = console_.Jobs().AddFileRow(entry, "P");
        surface_.Clear();
        EXPECT_EQ(Step(entry), 2);
        EXPECT_TRUE(entry.StatusText.starts_with(text)) << entry.StatusText;
        EXPECT_EQ(surface_.EventsOf("row-changed").empty(), text == kInvalid);
        EXPECT_TRUE(text != kInvalid || site_.RequestCount() == requests);
    }
    for (const auto& item : fs::recursive_directory_iterator(temp_.Path())) {
        EXPECT_TRUE(item.is_directory() || item.path().parent_path() == temp_ / "www" ||
                    item.path().filename() == "settings.reg")
            << item.path();
    }
    EXPECT_TRUE(Job().PresentObjects.empty());
}

TEST_F(FileTransferTest, OneReportPerChunkWithTheBytesTheDeviceTookAndTheServerStamp) {
    using Sizes = std::vector<std::size_t>;
    for (const auto& [size, reported] : {std::pair{std::size_t{0}, Sizes{0}},
                                         {4097, Sizes{4096, 4097}},
                                         {8192, Sizes{4096, 8192, 8192}}}) {
        SCOPED_TRACE(size);
        surface_.Clear();
        const std::string contents(size, static_cast<char>('a' + size % 26));
        EXPECT_TRUE(Write(contents, "\\Zephyrate\\news\\docs/a.bin"));
        Texts reports;
        for (const std::size_t done : reported) {
            reports.push_back("Retrieving: docs/a.bin  " + std::to_string(done) + "/???");
        }
        EXPECT_EQ(surface_.EventsOf("status"), reports);
        const fs::path file = OnDevice("Zephyrate/news/docs/a.bin");
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);  // before reading it moves the access time
        EXPECT_EQ(std::pair(info.st_mtime, info.st_atime), std::pair(kStamp, kStamp));
        EXPECT_EQ(Read(file), contents);
    }
    EXPECT_EQ(Job().PresentObjects, Texts(3, "\\Zephyrate\\news\\docs/a.bin"));
}

// Stopped by the user between chunks or cut short by the server, a write leaves the old
// copy as it was and no temporary file; a stop leaves its code in the entry.
TEST_F(FileTransferTest, AWriteThatBreaksOffLeavesTheOldCopy) {
    RawHttpServer cut([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(20000, 'x'));
    });
    Place("device/news/a.bin", "the old copy", kStamp);
    for (const int stop : {1, -1}) {
        stop == 1 ? console_.Control().SetCancelThisJob() : console_.Control().SetCancelAll();
        EXPECT_FALSE(Write(std::string(10000, 'n'), "\\news\\a.bin"));
        EXPECT_EQ(entry_.Result, stop);
    }
    const std::unique_ptr<HttpFile> response = session_.OpenURL(cut.Url("/a.bin"));
    EXPECT_THROW(WriteToDevice(context_, entry_, *response, "\\news\\a.bin", 0), InternetError);
    EXPECT_EQ(Read(OnDevice("news/a.bin")), "the old copy");
    EXPECT_EQ(Count("news"), 1) << "a leftover";
    EXPECT_TRUE(Job().PresentObjects.empty());
}

// Old copies the device will not delete (locked by another program, read-only) go to the
// trash under the lowest free number and the new file takes their place. A folder that
// stands where the file must go holds the user's files: it stays, out of the trash, and the
// entry fails. What a killed run left is removed when its folder is next written. Emptying
// the trash deletes its files, hidden ones and names that are not UTF-8 included, and leaves
// its sub-folders.
TEST_F(FileTransferTest, OldCopiesGoToTheTrashFoldersInTheWayStayStaleTemporariesGo) {
    chmod(temp_.WriteFile("device/news/b.txt", "read-only").c_str(), 0444);
    temp_.WriteFile("device/news/.gone.txt.zephyrate-part", "stale");
    temp_.WriteFile("device/news/.keep", "the user's");
    const fs::path locked = temp_.WriteFile("device/news/a.txt", "locked");
    temp_.WriteFile("device/news/c.txt/inside.txt", "the user's");
    temp_.WriteFile("device/Zephyrate/Trash/a.txt.002", "older");
    const int lock = open(locked.c_str(), O_RDONLY | O_CLOEXEC);  // another open file's lock
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(Write("new a", "\\news\\a.txt"));
    close(lock);
    EXPECT_TRUE(Write("new b", "\\news\\b.txt"));
    EXPECT_FALSE(Write("new c", "\\news\\c.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("news/a.txt")) + Read(OnDevice("news/b.txt")), "new anew b");
    EXPECT_EQ(Read(OnDevice("news/c.txt/inside.txt")) + Read(OnDevice("news/.keep")),
              "the user'sthe user's");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/a.txt.001")), "locked");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/b.txt.001")), "read-only");
    EXPECT_EQ(Count("news"), 4) << "a leftover";

    temp_.WriteFile("device/Zephyrate/Trash/bad\xFF\xFE.001", "b");
    temp_.WriteFile("device/Zephyrate/Trash/.hidden.001", "h");
    temp_.WriteFile("device/Zephyrate/Trash/sub/kept.txt", "k");
    EXPECT_EQ(Count("Zephyrate/Trash"), 6);
    EXPECT_TRUE(EmptyTrash(device_, Job()));
    // Left: sub, sub/kept.txt and the read-only b.txt.001, which the device will not delete.
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(OnDevice("Zephyrate/Trash")), {}), 3);
}

TEST_F(FileTransferTest, EnsureFolderMakesWhatIsMissingAndFailsWhereAFileStands) {
    temp_.WriteFile("device/a/file.txt", "f");
    // A trailing separator names the folder before it (a favorites path without a CE folder).
    for (const auto& [path, made, folder] :
         {std::tuple{"\\a\\b\\c", true, "a/b/c"},
          {"\\windows\\favorites\\", true, "windows/favorites"},
          {"\\a\\file.txt\\sub", false, "a/file.txt/sub"},
          {"\\new\\..\\b", false, "new"}}) {  // an error other than "not found" stops at once
        EXPECT_EQ(EnsureFolder(device_, path), made) << path;
        EXPECT_EQ(fs::is_directory(OnDevice(folder)), made) << path;
    }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(root_), {}), 6);
}

TEST_F(FileTransferTest, TheDataPathIsAValueOfAtMost255Bytes) {
    const std::string fits(126, 'd');  // with the zero fill 254 bytes; one more needs 256
    for (const auto& [value, found, path] : {std::tuple{std::string(), false, std::string()},
                                             {fits, true, fits},
                                             {fits + "d", false, std::string()}}) {
        if (!value.empty()) {
            temp_.WriteFile("device/.registry.reg",
                            "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\r\n\"DataPath\"=\"" +
                                value + "\"\r\n");
        }
        Job().DataPath = "stale";
        EXPECT_EQ(ReadDataPath(device_, Job()), found) << value;
        EXPECT_EQ(Job().DataPath, path);
    }
}

}  // namespace
}  // namespace zephyrate::test
