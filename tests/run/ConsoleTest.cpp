// The core side of the console on a recording surface: stop requests, progress and the
// job list's rows.
#include "run/Console.h"

#include <gtest/gtest.h>

#include "run/FileEntry.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

using ConsoleTest = ConsoleFixture;

TEST_F(ConsoleTest, StopCheckReportsEachRequestOnceAndCancelAllWins) {
    EXPECT_EQ(console_.StopCheck(), 0);
    console_.Control().SetCancelAll();
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), -1);
    EXPECT_EQ(console_.StopCheck(), 0) << "one -1 clears both requests";
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), 1);
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_EQ(surface_.Events(),
              Texts({"mode:idle", "status:Skipping to next job", "mode:running"}));
}

TEST_F(ConsoleTest, ProgressShowsTextsThroughputAndBarAndPassesStopRequestsOn) {
    console_.StartProgressClock();
    now_ += 1000;
    EXPECT_EQ(console_.ReportProgress(2097152, 1048576, "docs/a.pdf"), 0);
    EXPECT_EQ(surface_.Events(),
              Texts({"status:Retrieving: docs/a.pdf  1048576/2097152", "throughput:1024.00 Kbps",
                     "range:2097152", "position:1048576"}));
    // Unknown total: "???" and a range of 0; past 4 GiB the count is printed in full and
    // the bar stops at its end.
    surface_.Clear();
    EXPECT_EQ(console_.ReportProgress(0, 5000000000, "c"), 0);
    EXPECT_EQ(surface_.Events(),
              Texts({"status:Retrieving: c  5000000000/???", "throughput:4882812.50 Kbps",
                     "range:0", "position:4294967295"}));
    // done 0 restarts the clock and shows 0 for no time elapsed; 512 ms later, across the
    // wrap of the tick count, 512 KiB make 1000 Kbps.
    surface_.Clear();
    now_ = 0xFFFFFF00u;
    console_.ReportProgress(0, 0, "w");
    now_ = 0x100;
    console_.ReportProgress(0, 524288, "w");
    EXPECT_EQ(surface_.EventsOf("throughput"), Texts({"0.00 Kbps", "1000.00 Kbps"}));
    // A stop request is passed on, and the bar goes back to its start.
    surface_.Clear();
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(console_.ReportProgress(100, 50, "a"), 1);
    console_.Control().SetCancelAll();
    EXPECT_EQ(console_.ReportProgress(100, 60, "a"), -1);
    EXPECT_EQ(surface_.EventsOf("position"), Texts({"50", "0", "60", "0"}));
}

// Rows keep their order, texts and images, mirrored on the surface; rows that do not exist
// change nothing; an error stays seen until the list is emptied.
TEST_F(ConsoleTest, JobRowsAreMirroredAndAnErrorStaysSeenUntilTheListIsEmptied) {
    JobList& jobs = console_.Jobs();
    FileEntry file;
    file.SetFile("docs/manual.pdf");
    EXPECT_EQ(jobs.AddJobRow("news.example/sub.txt"), 0);
    EXPECT_EQ(jobs.AddFileRow(file, "Daily News"), 1);
    EXPECT_EQ(file.Row, 1);
    for (const int row : {FileEntry().Row, 2}) {
        jobs.SetRowStatus(row, JobList::kError, "failed");
    }
    EXPECT_FALSE(jobs.HasErrors());
    jobs.SetRowStatus(1, JobList::kError, "HTTP ERROR CODE: 404");
    jobs.SetRowStatus(1, JobList::kDone, "Synchronisation succesful");
    EXPECT_TRUE(jobs.HasErrors());
    EXPECT_EQ(surface_.Events(),
              Texts({"row-added:0|news.example/sub.txt|Connecting to Server|2",
                     "row-added:1|Daily News: docs/manual.pdf|Added to Sync Queue|3",
                     "row-changed:1|HTTP ERROR CODE: 404|1",
                     "row-changed:1|Synchronisation succesful|0"}));
    jobs.DeleteAllRows();
    EXPECT_FALSE(jobs.HasErrors());
    EXPECT_TRUE(jobs.Rows().empty());
    EXPECT_EQ(surface_.Events().back(), "rows-cleared");
}

}  // namespace
}  // namespace zephyrate::test
