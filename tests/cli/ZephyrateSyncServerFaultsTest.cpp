// zephyrate-sync against a server that misbehaves: a download that breaks off, an index
// that is cut short, names that hold blanks or terminal commands. No run deletes or spoils
// a good copy, and none that failed passes for a success.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {
namespace {

using namespace std::string_literals;
using ZephyrateSyncServerFaultsTest = SyncProgramFixture;

// Answers each request with the bytes given for its target, one request per connection.
class RawSite {
  public:
    RawSite()
        : server_([this](RawHttpServer::Connection& connection) {
              const std::string request = connection.ReadRequest();
              const std::string target = request.substr(4, request.find(' ', 4) - 4);
              std::lock_guard lock(mutex_);
              const auto answer = answers_.find(target);
              connection.Send(answer == answers_.end()
                                  ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"
                                  : answer->second);
          }) {}

    // An answer with a length, a stamp and the body.
    static std::string File(std::string_view body, std::string_view date = "") {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nLast-Modified: " + (date.empty() ? HttpDateOf(kStamp) : std::string(date)) +
               "\r\n\r\n" + std::string(body);
    }
    void Answer(const std::string& target, std::string bytes) {
        std::lock_guard lock(mutex_);
        answers_[target] = std::move(bytes);
    }
    std::string Address() const {
        return "127.0.0.1:" + std::to_string(server_.Port()) + "/index.txt";
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::string> answers_;
    RawHttpServer server_;  // last: its script uses the members above
};

TEST_F(ZephyrateSyncServerFaultsTest, ADownloadThatBreaksOffFailsItsRowAndKeepsTheOldCopy) {
    RawSite site;
    site.Answer("/index.txt", RawSite::File(kIndexHead + "File: a.txt\nFile: b.txt\n"s));
    site.Answer("/a.txt",
                "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
    site.Answer("/b.txt", RawSite::File("beta"));
    const fs::path old = place_.folder.WriteFile("device/Zephyrate/News/a.txt", "the old copy");

    const ChildProcess::Result result = Sync(place_, site.Address());
    EXPECT_EQ(result.code, 1) << result.out << result.err;
    EXPECT_TRUE(Has(result.out, "Kestrelwynd NV: a.txt  Failed: transfer closed")) << result.out;
    EXPECT_TRUE(Has(result.out, "Kestrelwynd NV: b.txt  Added to Sync Queue\n")) << result.out;
    EXPECT_TRUE(result.out.ends_with("\nThere were error(s). Check details for more info.\n"));
    EXPECT_TRUE(Has(result.err, "Zephyrate: transfer closed")) << result.err;
    EXPECT_EQ(TempFolder::ReadFile(old), "the old copy");
    EXPECT_EQ(std::distance(fs::directory_iterator(old.parent_path()), {}), 1) << "a leftover";
}

TEST_F(ZephyrateSyncServerFaultsTest, AnEntryThatNamesNoFileIsExplainedAsSuch) {
    RawSite site;
    const std::string host = site.Address().substr(0, site.Address().find('/'));
    site.Answer("/index.txt", RawSite::File(kIndexHead + "Url: http://"s + host + "/dir/\n"));
    site.Answer("/dir/", RawSite::File("a listing"));
    const ChildProcess::Result result = Sync(place_, site.Address());
    EXPECT_EQ(result.code, 1) << result.out << result.err;
    EXPECT_TRUE(Has(result.err, "an entry of the index names no file")) << result.err;
    EXPECT_FALSE(Has(result.err, "access denied")) << result.err;
}

TEST_F(ZephyrateSyncServerFaultsTest, AnIndexIsUsedWholeOrNotAtAll) {
    RawSite site;
    // Past the 50000 bytes that were once read of an index without a length.
    const std::string index =
        kIndexHead + "File: a.txt\n#"s + std::string(60000, '-') + "\nFile: z.txt\n";
    site.Answer("/index.txt", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + index);
    site.Answer("/a.txt", RawSite::File("alpha"));
    site.Answer("/z.txt", RawSite::File("zulu"));
    const fs::path news = place_.Device() / "Zephyrate" / "News";
    const ChildProcess::Result whole = Sync(place_, site.Address());
    ASSERT_EQ(whole.code, 0) << whole.out << whole.err;
    EXPECT_EQ(TempFolder::ReadFile(news / "z.txt"), "zulu");
    const fs::path logFile =
        place_.Logs() / (site.Address().substr(0, site.Address().find('/')) + ".log");
    const std::string log = TempFolder::ReadFile(logFile);

    // A length smaller than the body: the index is not used, so nothing is withdrawn.
    site.Answer("/index.txt", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + index);
    const ChildProcess::Result cut = Sync(place_, site.Address());
    EXPECT_EQ(cut.code, 1) << cut.out << cut.err;
    EXPECT_TRUE(Has(cut.out, "Connection with server failed")) << cut.out;
    EXPECT_TRUE(Has(cut.err, "The server sent")) << cut.err;
    EXPECT_TRUE(fs::exists(news / "a.txt"));
    EXPECT_TRUE(fs::exists(news / "z.txt"));
    EXPECT_EQ(TempFolder::ReadFile(logFile), log);
}

// Names are the provider's, blanks and all, but reach the terminal only as text; a stamp
// with a numeric zone counts as current on the next run.
TEST_F(ZephyrateSyncServerFaultsTest, NamesWithBlanksSyncAndControlCharactersStayText) {
    RawSite site;
    const std::string escape = "esc\x1b]0;owned\x07.txt";
    site.Answer("/index.txt",
                RawSite::File(kIndexHead + "File: my file.txt\nFile: "s + escape + "\n"));
    const std::string zoned = "Tue, 14 Nov 2023 22:13:20 +0000";  // kStamp
    site.Answer("/my%20file.txt", RawSite::File("blank", zoned));
    site.Answer("/esc%1B]0;owned%07.txt", RawSite::File("escape", zoned));
    const fs::path news = place_.Device() / "Zephyrate" / "News";
    for (const char* run : {"Added: ", "already up to date."}) {
        SCOPED_TRACE(run);
        const ChildProcess::Result result = Sync(place_, site.Address());
        EXPECT_EQ(result.code, 0) << result.out << result.err;
        EXPECT_EQ(CountOf(result.out, run), 2) << result.out;
        EXPECT_FALSE(Has(result.out, "\x1b") || Has(result.out, "\x07")) << result.out;
        EXPECT_TRUE(Has(result.out, "esc\\x1b]0;owned\\x07.txt")) << result.out;
    }
    EXPECT_EQ(TempFolder::ReadFile(news / "my file.txt"), "blank");
    EXPECT_EQ(TempFolder::ReadFile(news / escape), "escape");
}

}  // namespace
}  // namespace zephyrate::test
