// The transfer step against a real server and device folder: when a copy counts as current,
// what a written file shows on its row and in its progress, its favorite and shortcut, and
// how an entry fails. The HTTP faults themselves are told apart in tests/platform; here
// each must leave the device as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <tuple>

#include "platform/InternetError.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

using namespace std::string_literals;
const std::string kBody = "second";
const std::string kInvalid =
    "Invalid synchronisation object. Please contact support@kestrelwynd.example";
const std::string kWriteError = "Error: writing file data to device";

// Serves kBody at every address, stamped kStamp and with its length, except that a name
// holding "nostamp" or "nolength" leaves that header out; /status/N answers with status N.
class FileTransferTest : public ConsoleFixture {
  protected:
    FileTransferTest() {
        server_.Server().Get(R"(/.*)", [](const httplib::Request& req, httplib::Response& res) {
            if (req.path.starts_with("/status/")) {
                res.status = std::stoi(req.path.substr(8));
            }
            if (req.path.find("nostamp") == std::string::npos) {
                res.set_header("Last-Modified", HttpDateOf(kStamp));
            }
            if (req.path.find("nolength") == std::string::npos) {
                return res.set_content(kBody, "application/octet-stream");
            }
            res.set_chunked_content_provider("application/octet-stream", [](auto, auto& sink) {
                sink.write(kBody.data(), kBody.size());
                sink.done();
                return true;
            });
        });
        server_.Start();
        ServeFrom(server_.Port());
    }
    // An entry for name whose body comes from address (a path on the server).
    FileEntry Entry(const std::string& name, const std::string& address = "/abs") {
        FileEntry entry;
        entry.Name = name;
        entry.Url = address.starts_with("/") ? server_.Url(address) : address;
        entry.UrlIsAbsolute = true;
        return entry;
    }
    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(FileTransferTest, TheCopyIsCurrentWithTheSameLengthAndAStampWithinTwoSeconds) {
    const struct {
        const char* name;
        std::string copy;    // the device copy before the step; empty: none
        std::time_t offset;  // its stamp minus the server's (without one: the time of the step)
        bool force;
        int outcome;
    } cases[] = {
        {"a", "", 0, false, 0},           {"a", kBody, 2, false, 3},
        {"a", kBody, -2, false, 3},       {"a", kBody, 3, false, 0},
        {"a", kBody, -3, false, 0},       {"a", "first", 0, false, 0},
        {"a", "xxxxxx", 0, false, 3},     {"a", "xxxxxx", 0, true, 0},
        {"nostamp", kBody, -3, false, 0}, {"nolength", kBody, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.copy + " " + std::to_string(c.offset));
        const std::time_t server = c.name == std::string("nostamp") ? std::time(nullptr) : kStamp;
        const fs::path copy = OnDevice(std::string("Zephyrate/news/") + c.name);
        fs::remove(copy);
        if (!c.copy.empty()) {
            Place(std::string("Zephyrate/news/") + c.name, c.copy, server + c.offset);
        }
        FileEntry entry = Named(c.name);
        EXPECT_EQ(Step(entry, c.force), c.outcome);
        EXPECT_EQ(Read(copy), c.outcome == 0 ? kBody : c.copy);
        EXPECT_NEAR(ModifiedAt(copy), c.outcome == 0 ? server : server + c.offset, 1);
    }
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: nolength  6/???");
}

// The row's steps and the progress of a written file, and none for a current one. Links
// go below the data path. A missing one brings the file and both links again; an old
// shortcut that the device will not delete (read-only) goes to the trash. A favorite that
// cannot be made fails the entry, a shortcut does not.
TEST_F(FileTransferTest, FavoriteAndShortcutAreWrittenAfterTheFileAndReplaced) {
    const std::string file = "\\Zephyrate\\news\\a.exe";
    const Texts links = {"\\Card\\windows\\favorites\\news\\Daily.url",
                         "\\Card\\windows\\Start Menu\\Programs\\Reader.lnk"};
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
    EXPECT_EQ(surface_.StatusTexts()[0], "Retrieving: a.exe  6/6");
    EXPECT_EQ(Read(favorite), "[InternetShortcut]\r\nURL=file://" + file);
    EXPECT_EQ(ModifiedAt(favorite), kStamp);
    EXPECT_EQ(Read(shortcut), "23#\"" + file + "\"");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/Reader.lnk.001")), "old");
    EXPECT_EQ(Job().PresentObjects, (Texts{file, links[0], links[1]}));

    surface_.Clear();
    EXPECT_EQ(Step(entry), 3);
    EXPECT_EQ(surface_.Events(),
              (Texts{"row-changed:0|Connecting|2", "row-changed:0|Checking time stamp|2"}));
    for (const fs::path& link : {favorite, shortcut}) {
        fs::remove(link);
        EXPECT_EQ(Step(entry), 0) << link;
        EXPECT_TRUE(fs::exists(favorite) && fs::exists(shortcut));
    }
    EXPECT_EQ(Job().PresentObjects.size(), 12u);

    fs::remove_all(OnDevice("Card"));
    temp_.WriteFile("device/Card/windows/Start Menu", "in the way");  // where a folder belongs
    EXPECT_EQ(Step(entry), 0);
    fs::remove_all(favorite.parent_path().parent_path());
    temp_.WriteFile("device/Card/windows/favorites", "in the way");
    EXPECT_EQ(Step(entry, true), 2);
    EXPECT_EQ(entry.StatusText, "Error: creation of favorites link in IE");
    EXPECT_EQ(Job().PresentObjects.size(), 16u)
        << "the failed shortcut counts, a failed favorite not";
}

// Refusals by the server, and names or destinations the device must never be handed:
// those are refused before the server is asked and the row changes.
TEST_F(FileTransferTest, AnEntryFailsAloneAndLeavesNoFile) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    const struct {
        std::string root;
        FileEntry entry;
        std::string text;      // its start
        const char* inTheWay;  // a file where a folder belongs
    } cases[] = {
        {"\\Zephyrate", Entry("a.txt", "/status/400"), "HTTP ERROR CODE: 400", nullptr},
        {"\\Zephyrate", Entry("a.txt", refused), "Failed to connect", nullptr},
        {"\\Windows\\Data", Entry("a.txt"), kInvalid, nullptr},
        {"\\Zephyrate", Entry("good.txt\0.evil"s), kInvalid, nullptr},
        {"\\Zephyrate", Entry("a.txt"), kWriteError, "Zephyrate/news"},
        {"\\Zephyrate", Entry(std::string(256, 'n')), kWriteError, nullptr},
        {"\\Zephyrate", Entry("../escape.txt"), kWriteError, nullptr},
        {"\\Zephyrate", Entry(""), kWriteError, nullptr},  // "Url: http://host/" names no file
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.text + " " + c.entry.Name);
        const std::size_t requests = server_.RequestCount();
        fs::remove_all(OnDevice("Zephyrate"));
        Job().DeviceRoot = c.root;
        if (c.inTheWay != nullptr) {
            temp_.WriteFile("device/"s + c.inTheWay, "in the way");
        }
        c.entry.Row = console_.Jobs().AddFileRow(c.entry, "P");
        surface_.Clear();
        EXPECT_EQ(Step(c.entry), 2);
        EXPECT_TRUE(c.entry.StatusText.starts_with(c.text)) << c.entry.StatusText;
        EXPECT_EQ(surface_.EventsOf("row-changed").empty(), c.text == kInvalid);
        EXPECT_TRUE(c.text != kInvalid || server_.RequestCount() == requests);
        for (const auto& item : fs::recursive_directory_iterator(root_)) {
            EXPECT_TRUE(item.is_directory() || Read(item.path()) == "in the way") << item.path();
        }
    }
    EXPECT_TRUE(Job().PresentObjects.empty());
}

// A download that breaks off, in any way a server can break it, ends in an error for the
// job's guard, never hangs, and leaves the device's old copy as it was.
TEST_F(FileTransferTest, ABrokenDownloadLeavesTheOldCopyAndNoTemporaryFile) {
    const std::string head = "HTTP/1.1 200 OK\r\nLast-Modified: " + HttpDateOf(kStamp) + "\r\n";
    const std::string length = head + "Content-Length: 100000\r\n\r\n" + std::string(20000, 'x');
    enum Then { kClose, kReset, kStall };
    const std::tuple<const char*, std::string, Then> servers[] = {
        {"short", length, kClose},
        {"reset", length, kReset},
        {"stall", length, kStall},
        {"chunks cut short",
         head + "Transfer-Encoding: chunked\r\n\r\n4000\r\n" + std::string(0x4000, 'z') +
             "\r\n4000\r\nzz",
         kClose},
    };
    session_.SetTimeouts(std::chrono::seconds(2), std::chrono::milliseconds(500));
    const fs::path old = Place("Zephyrate/news/broken", "the old copy", kStamp);
    for (const auto& [name, bytes, then] : servers) {
        SCOPED_TRACE(name);
        RawHttpServer server([&](RawHttpServer::Connection& c) {
            c.ReadRequest();
            c.Send(bytes);
            if (then != kClose) {
                c.WaitForClientClose(then == kReset ? std::chrono::milliseconds(100)
                                                    : std::chrono::milliseconds(10000));
            }
            if (then == kReset) {
                c.Reset();
            }
        });
        ServeFrom(server.Port());
        FileEntry entry;
        entry.SetFile("broken");
        EXPECT_THROW(Step(entry), InternetError);
        EXPECT_EQ(Read(old), "the old copy");
        EXPECT_EQ(std::distance(fs::directory_iterator(old.parent_path()), {}), 1) << "a leftover";
        EXPECT_TRUE(Job().PresentObjects.empty());
    }
}

}  // namespace
}  // namespace zephyrate::test
