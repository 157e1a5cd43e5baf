// How the transfer step fails: the outcome code, the status text, what the row shows and
// what is left on the device, for servers that refuse, lie or break off, a device that
// refuses, a user who cancels, and names from an index, which are not to be trusted:
// nothing is written outside the device folder, and a name the file system cannot hold
// fails only its own entry.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/InternetError.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"

namespace zephyrate::test {
namespace {

using Clock = std::chrono::steady_clock;

// A port on which nothing listens (it was free a moment ago).
int ClosedPort() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

class FileTransferFailureTest : public TransferFixture {
  protected:
    FileTransferFailureTest() {
        server_.Server().Get(R"(/.*)", [](const httplib::Request& req, httplib::Response& res) {
            if (req.path == "/missing.txt") {
                res.status = 404;
                return;
            }
            res.set_header("Last-Modified", HttpDateOf(kStamp));
            res.set_content(req.path == "/big" ? Bytes(kBigSize) : "payload",
                            "application/octet-stream");
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port());
    }

    // Runs the step for a new entry with a row; the entry keeps the outcome too.
    int StepFor(FileEntry& entry, std::string_view name) {
        entry.SetFile(name);
        entry.Row = console_.Jobs().AddFileRow(entry, "Provider");
        const int outcome = Step(entry);
        EXPECT_EQ(entry.Result, outcome);
        return outcome;
    }

    // The name goes to the device as given; the body comes from one fixed address, so
    // that only the device side is under test.
    FileEntry Entry(std::string_view name) {
        FileEntry entry;
        entry.Name = name;
        entry.Url = server_.Url("/payload");
        entry.UrlIsAbsolute = true;
        return entry;
    }

    // Every file and folder of the temporary folder outside the device folder, with its
    // contents, for checking that nothing changed there.
    std::map<std::string, std::string> AroundTheDevice() {
        std::map<std::string, std::string> files;
        for (const auto& item : std::filesystem::recursive_directory_iterator(temp_.Path())) {
            const std::string relative = item.path().lexically_relative(temp_.Path()).string();
            if (!relative.starts_with("device")) {
                files[relative] = item.is_regular_file() ? Read(item.path()) : "<folder>";
            }
        }
        return files;
    }

    static constexpr std::size_t kBigSize = 1024 * 1024;
    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(FileTransferFailureTest, ServerRefusalsEndTheEntryWithTheirText) {
    FileEntry missing;
    EXPECT_EQ(StepFor(missing, "missing.txt"), 2);
    EXPECT_EQ(missing.HttpStatus, 404u);
    EXPECT_EQ(missing.StatusText, "HTTP ERROR CODE: 404");
    EXPECT_EQ(surface_.EventsOf("row-changed"), std::vector<std::string>{"0|Connecting|2"});

    const int port = ClosedPort();
    Job().ServerFolderAddress = FolderAddress(port);
    FileEntry refused;
    EXPECT_EQ(StepFor(refused, "a.txt"), 2);
    EXPECT_EQ(
        refused.StatusText.rfind("Failed to connect to 127.0.0.1 port " + std::to_string(port), 0),
        0u)
        << refused.StatusText;

    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate")));
    EXPECT_TRUE(Job().PresentObjects.empty());
}

TEST_F(FileTransferFailureTest, DeviceSideRefusalsFailTheEntry) {
    // The system folder is refused before any request, and the row stays as it was.
    Job().DeviceRoot = "\\Windows\\Data";
    FileEntry system;
    EXPECT_EQ(StepFor(system, "a.txt"), 2);
    EXPECT_EQ(system.StatusText,
              "Invalid synchronisation object. Please contact support@kestrelwynd.example");
    EXPECT_TRUE(surface_.EventsOf("row-changed").empty());
    EXPECT_EQ(server_.RequestCount(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(root_));

    // A file where the destination folder belongs: the folder cannot be made.
    Job().DeviceRoot = "\\Zephyrate";
    temp_.WriteFile("device/Zephyrate/news", "in the way");
    FileEntry blocked;
    EXPECT_EQ(StepFor(blocked, "a.txt"), 2);
    EXPECT_EQ(blocked.StatusText, "Error: writing file data to device");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news")), "in the way");
    EXPECT_TRUE(Job().PresentObjects.empty());
    EXPECT_EQ(surface_.EventsOf("row-changed").back(), "1|Downloading to device|2");
}

TEST_F(FileTransferFailureTest, CancelDuringTheDownloadWritesNothing) {
    // The button is pressed while the first report is on the screen.
    for (const int code : {1, -1}) {
        surface_.OnEvent([this, code](const std::string& event) {
            if (event.starts_with("status:Retrieving")) {
                code == 1 ? console_.Control().SetCancelThisJob()
                          : console_.Control().SetCancelAll();
            }
        });
        FileEntry entry;
        EXPECT_EQ(StepFor(entry, "big"), code);
        EXPECT_EQ(entry.StatusText, "Error: writing file data to device");
        EXPECT_TRUE(std::filesystem::is_empty(OnDevice("Zephyrate/news")));
        EXPECT_EQ(surface_.ProgressPosition(), 0u);
    }
    surface_.OnEvent({});
    EXPECT_TRUE(Job().PresentObjects.empty());
}

TEST_F(FileTransferFailureTest, NamesNeverReachOutsideTheDeviceFolder) {
    const auto before = AroundTheDevice();
    // Absolute parts and mixed separators stay below the destination. A doubled separator
    // may keep the device from making the folder; then the entry fails instead.
    for (const auto& [name, landed] : std::vector<std::pair<std::string, std::string>>{
             {"/etc/evil.txt", "Zephyrate/news/etc/evil.txt"},
             {"\\\\server\\share\\x.txt", "Zephyrate/news/server/share/x.txt"},
             {"a\\b/c.txt", "Zephyrate/news/a/b/c.txt"},
             {"C:\\d.txt", "Zephyrate/news/C:/d.txt"}}) {
        FileEntry entry = Entry(name);
        if (Step(entry) == 0) {
            EXPECT_EQ(Read(OnDevice(landed)), "payload") << name;
        } else {
            EXPECT_EQ(entry.StatusText, "Error: writing file data to device") << name;
        }
    }
    // Parent steps, in the name or in the root and folder, fail the entry.
    for (const char* name : {"../escape.txt", "a\\..\\..\\..\\outside/new.txt", ".."}) {
        FileEntry entry = Entry(name);
        EXPECT_EQ(Step(entry), 2) << name;
    }
    for (const auto& [root, folder] : std::vector<std::pair<std::string, std::string>>{
             {"\\Zephyrate", ".."}, {"\\..", "news"}, {"\\Zephyrate", "..\\..\\outside"}}) {
        Job().DeviceRoot = root;
        Job().CeFolder = folder;
        FileEntry entry = Entry("a.txt");
        EXPECT_EQ(Step(entry), 2) << root << " " << folder;
        EXPECT_EQ(entry.StatusText, "Error: writing file data to device");
    }
    EXPECT_EQ(AroundTheDevice(), before);
}

TEST_F(FileTransferFailureTest, ANameTooLongOrEmptyFailsOnlyItsOwnEntry) {
    FileEntry longest = Entry(std::string(255, 'n'));
    EXPECT_EQ(Step(longest), 0) << longest.StatusText;
    for (const std::string& name : {std::string(256, 'n'), std::string(300, 'd') + "/a.txt"}) {
        FileEntry tooLong = Entry(name);
        EXPECT_EQ(Step(tooLong), 2);
        EXPECT_EQ(tooLong.StatusText, "Error: writing file data to device");
    }

    // "Url: http://host/" names no file, so there is no device copy to keep; not even a
    // favorite that happens to match the server's length and stamp makes it current.
    FileEntry nameless;
    nameless.SetUrl(server_.Url("/"));
    nameless.AddFavorite("Front");
    ASSERT_EQ(nameless.Name, "");
    SetModified(temp_.WriteFile("device/windows/favorites/news/Front.url", "7 bytes"), kStamp);
    EXPECT_EQ(Step(nameless), 2);
    EXPECT_EQ(nameless.StatusText, "Error: writing file data to device");
    EXPECT_EQ(Job().DeviceWriteError, ERROR_INVALID_NAME) << "not the device's refusal";

    FileEntry next = Entry("next.txt");
    EXPECT_EQ(Step(next), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/next.txt")), "payload");
    EXPECT_EQ(Job().PresentObjects.size(), 2u) << "only the two good entries are present";
}

using BrokenBodyTest = TransferFixture;

// A download that breaks off, in any way a server can break it, ends in an error for the
// job's guard, never hangs, and leaves the device's old copy as it was.
TEST_F(BrokenBodyTest, NeverHangsAndLeavesTheOldCopy) {
    const std::string head = "HTTP/1.1 200 OK\r\nLast-Modified: " + HttpDateOf(kStamp) + "\r\n";
    const std::string length = head + "Content-Length: 100000\r\n\r\n";
    const std::map<std::string, std::function<void(RawHttpServer::Connection&)>> servers = {
        {"short", [&](auto& c) { c.Send(length + std::string(60000, 'x')); }},
        {"reset",
         [&](auto& c) {
             c.Send(length + std::string(20000, 'x'));
             c.WaitForClientClose(std::chrono::milliseconds(100));
             c.Reset();
         }},
        {"stall",
         [&](auto& c) {
             c.Send(length + std::string(20000, 'x'));
             c.WaitForClientClose(std::chrono::seconds(10));
         }},
        {"chunks cut short",
         [&](auto& c) {
             c.Send(head + "Transfer-Encoding: chunked\r\n\r\n4000\r\n" + std::string(0x4000, 'z') +
                    "\r\n4000\r\nzz");
         }},
    };
    session_.SetTimeouts(std::chrono::seconds(2), std::chrono::milliseconds(500));
    for (const auto& [name, script] : servers) {
        SCOPED_TRACE(name);
        RawHttpServer server([&](RawHttpServer::Connection& c) {
            c.ReadRequest();
            script(c);
        });
        temp_.WriteFile("device/Zephyrate/news/broken", "the old copy");
        Job().ServerFolderAddress = FolderAddress(server.Port());
        FileEntry entry = Named("broken");
        const auto start = Clock::now();
        EXPECT_THROW(Step(entry), InternetError);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(Read(OnDevice("Zephyrate/news/broken")), "the old copy");
        EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate/news/.broken.zephyrate-part")));
        EXPECT_TRUE(DeviceFileIsFree("\\Zephyrate\\news\\broken"));
        EXPECT_TRUE(Job().PresentObjects.empty());
    }
    // A body longer than announced ends at the announced length.
    RawHttpServer longBody([&](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send(length + std::string(150000, 'y'));
        c.WaitForClientClose(std::chrono::seconds(2));
    });
    Job().ServerFolderAddress = FolderAddress(longBody.Port());
    FileEntry entry = Named("long");
    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/long")), std::string(100000, 'y'));
}

}  // namespace
}  // namespace zephyrate::test
