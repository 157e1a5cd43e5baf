#include "run/JobList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/FileEntry.h"
#include "tests/support/RecordingSurface.h"

namespace zephyrate::test {
namespace {

using Texts = std::vector<std::string>;

// Rows keep their order, texts and images, mirrored on the surface; rows that do not exist
// change nothing; an error stays seen until the list is emptied.
TEST(JobListTest, RowsAreMirroredAndAnErrorStaysSeenUntilTheListIsEmptied) {
    RecordingSurface surface;
    JobList jobs(surface);
    FileEntry first;
    first.SetFile("docs/manual.pdf");
    FileEntry second;
    second.SetFile("index.htm");
    EXPECT_EQ(jobs.AddJobRow("news.example/sub.txt"), 0);
    EXPECT_EQ(jobs.AddFileRow(first, "Daily News"), 1);
    EXPECT_EQ(jobs.AddFileRow(second, ""), 2);
    EXPECT_EQ(jobs.AddRow("extra", "custom", JobList::kDone), 3);
    EXPECT_EQ(second.Row, 2);
    for (const int row : {FileEntry().Row, 4, -7}) {
        jobs.SetRowStatus(row, JobList::kError, "failed");
    }
    EXPECT_FALSE(jobs.HasErrors());
    jobs.SetRowStatus(1, JobList::kError, "HTTP ERROR CODE: 404");
    jobs.SetRowStatus(1, JobList::kDone, "Synchronisation succesful");
    EXPECT_TRUE(jobs.HasErrors());

    Texts rows;
    for (const JobList::Row& row : jobs.Rows()) {
        rows.push_back(row.object + "|" + row.status + "|" + std::to_string(row.image));
    }
    EXPECT_EQ(rows, Texts({"news.example/sub.txt|Connecting to Server|2",
                           "Daily News: docs/manual.pdf|Synchronisation succesful|0",
                           ": index.htm|Added to Sync Queue|3", "extra|custom|0"}));
    EXPECT_EQ(surface.Events(),
              Texts({"row-added:0|news.example/sub.txt|Connecting to Server|2",
                     "row-added:1|Daily News: docs/manual.pdf|Added to Sync Queue|3",
                     "row-added:2|: index.htm|Added to Sync Queue|3", "row-added:3|extra|custom|0",
                     "row-changed:1|HTTP ERROR CODE: 404|1",
                     "row-changed:1|Synchronisation succesful|0"}));

    jobs.DeleteAllRows();
    EXPECT_FALSE(jobs.HasErrors());
    EXPECT_TRUE(jobs.Rows().empty());
    EXPECT_EQ(surface.Events().back(), "rows-cleared");
    EXPECT_EQ(jobs.AddJobRow("next"), 0);
}

}  // namespace
}  // namespace zephyrate::test
