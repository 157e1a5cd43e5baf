// The transfer step against a real test site and device folder: when a copy counts as
// current, what a written file shows on its row and in its progress, its favorite and
// shortcut, and how an entry fails. How a write that breaks off ends is DeviceWriterTest's.
#include "transfer/FileTransfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/ConsoleFixture.h"
#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {
namespace {

using namespace std::string_literals;
const std::string kBody = "status 200";  // also what /status/200 answers
const std::string kInvalid =
    "Invalid synchronisation object. Please contact support@kestrelwynd.example";
const std::string kWriteError = "Error: writing file data to device";

class FileTransferTest : public ConsoleFixture {
  protected:
    // The site's files carry a stamp and a length; /status/200 has no stamp and /nolength
    // no length.
    FileTransferTest() {
        site_.Server().Get("/nolength", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDateOf(kStamp));
            res.set_chunked_content_provider("text/plain",
                                             [](std::size_t, httplib::DataSink& sink) {
                                                 sink.write(kBody.data(), kBody.size());
                                                 sink.done();
                                                 return true;
                                             });
        });
        Place("www/a", kBody, kStamp);
        Place("www/a.exe", kBody, kStamp);
        site_.ServeFolder(temp_ / "www");
        site_.Start();
        Job().ServerFolderAddress = site_.Address("");
    }
    // An entry for name whose body comes from a path of the site.
    FileEntry Entry(const std::string& name, const std::string& path = "/a") const {
        FileEntry entry;
        entry.Name = name;
        entry.Url = path.starts_with("/") ? site_.Url(path) : path;
        entry.UrlIsAbsolute = true;
        return entry;
    }
};

TEST_F(FileTransferTest, TheCopyIsCurrentWithTheSameLengthAndAStampWithinTwoSeconds) {
    const struct {
        const char* path;
        std::string copy;    // the device copy before the step; empty: none
        std::time_t offset;  // its stamp minus the server's (without one: the time of the step)
        bool force;
        int outcome;
    } cases[] = {
        {"/a", "", 0, false, 0},
        {"/a", kBody, 2, false, 3},
        {"/a", kBody, -2, false, 3},
        {"/a", kBody, 3, false, 0},
        {"/a", kBody, -3, false, 0},
        {"/a", "first", 0, false, 0},
        {"/a", "xxxxxxxxxx", 0, false, 3},
        {"/a", "xxxxxxxxxx", 0, true, 0},
        {"/status/200", kBody, -3, false, 0},
        {"/nolength", kBody, 0, false, 0},
    };
    const fs::path copy = OnDevice("Zephyrate/news/a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (" " + c.copy) + " " + std::to_string(c.offset));
        const std::time_t server = c.path == "/status/200"s ? std::time(nullptr) : kStamp;
        fs::remove(copy);
        if (!c.copy.empty()) {
            Place("device/Zephyrate/news/a", c.copy, server + c.offset);
        }
        FileEntry entry = Entry("a", c.path);
        EXPECT_EQ(Step(entry, c.force), c.outcome);
        EXPECT_EQ(Read(copy), c.outcome == 0 ? kBody : c.copy);
        EXPECT_NEAR(ModifiedAt(copy), c.outcome == 0 ? server : server + c.offset, 1);
    }
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: a  10/???");
}

// The row's steps and the progress of a written file, and none for a current one. Links
// go below the data path. A missing one brings the file and both links again; an old
// shortcut that the device will not delete (read-only) goes to the trash. A favorite that
// cannot be made fails the entry, a shortcut does not.
TEST_F(FileTransferTest, FavoriteAndShortcutAreWrittenAfterTheFileAndReplaced) {
    const std::string file = "\\Zephyrate\\news\\a.exe";
    const fs::path favorite = OnDevice("Card/windows/favorites/news/Daily.url");
    const fs::path shortcut = OnDevice("Card/windows/Start Menu/Programs/Reader.lnk");
    fs::create_directories(OnDevice("Zephyrate/Trash"));
    chmod(temp_.WriteFile("device/Card/windows/Start Menu/Programs/Reader.lnk", "old").c_str(),
          0444);
    Job().DataPath = "\\Card";
    FileEntry entry = Named("a.exe");
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

    surface_.Clear();
    EXPECT_EQ(Step(entry), 3);
    EXPECT_EQ(surface_.Events(),
              (Texts{"row-changed:0|Connecting|2", "row-changed:0|Checking time stamp|2"}));
    for (const fs::path& link : {favorite, shortcut}) {
        fs::remove(link);
        EXPECT_EQ(Step(entry), 0) << link;
        EXPECT_TRUE(fs::exists(favorite) && fs::exists(shortcut));
    }

    fs::remove_all(OnDevice("Card"));
    temp_.WriteFile("device/Card/windows/Start Menu", "in the way");  // where a folder belongs
    Job().PresentObjects.clear();
    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(Job().PresentObjects.size(), 3u) << "the failed shortcut counts";
    fs::remove_all(favorite.parent_path().parent_path());
    temp_.WriteFile("device/Card/windows/favorites", "in the way");
    EXPECT_EQ(Step(entry, true), 2);
    EXPECT_EQ(entry.StatusText, "Error: creation of favorites link in IE");
    EXPECT_EQ(Job().PresentObjects.size(), 4u) << "the failed favorite does not count";
}

// Refusals by the server, and names or destinations the device must never be handed:
// those are refused before the server is asked and the row changes.
TEST_F(FileTransferTest, AnEntryFailsAloneAndLeavesNoFile) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    const struct {
        std::string root;
        FileEntry entry;
        std::string text;  // its start
    } cases[] = {
        {"\\Zephyrate", Entry("a.txt", "/status/400"), "HTTP ERROR CODE: 400"},
        {"\\Zephyrate", Entry("a.txt", refused), "Failed to connect"},
        {"\\Windows\\Data", Entry("a.txt"), kInvalid},
        {"\\Zephyrate", Entry(std::string(256, 'n')), kWriteError},
        {"\\Zephyrate", Entry("../escape.txt"), kWriteError},
        {"\\Zephyrate", Entry(""), kWriteError},  // "Url: http://host/" names no file
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.text + " " + c.entry.Name);
        const std::size_t requests = site_.RequestCount();
        Job().DeviceRoot = c.root;
        c.entry.Row = console_.Jobs().AddFileRow(c.entry, "P");
        surface_.Clear();
        EXPECT_EQ(Step(c.entry), 2);
        EXPECT_TRUE(c.entry.StatusText.starts_with(c.text)) << c.entry.StatusText;
        EXPECT_EQ(surface_.EventsOf("row-changed").empty(), c.text == kInvalid);
        EXPECT_TRUE(c.text != kInvalid || site_.RequestCount() == requests);
    }
    for (const auto& item : fs::recursive_directory_iterator(temp_.Path())) {
        EXPECT_TRUE(item.is_directory() || item.path().parent_path() == temp_ / "www" ||
                    item.path().filename() == "settings.reg")
            << item.path();
    }
    EXPECT_TRUE(Job().PresentObjects.empty());
}

}  // namespace
}  // namespace zephyrate::test
