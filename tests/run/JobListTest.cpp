#include "run/JobList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/FileEntry.h"
#include "tests/support/RecordingSurface.h"

namespace zephyrate::test {
namespace {

using Texts = std::vector<std::string>;

// "object|status|image" of every row.
Texts TextsOf(const std::vector<JobList::Row>& rows) {
    Texts texts;
    for (const JobList::Row& row : rows) {
        texts.push_back(row.object + "|" + row.status + "|" + std::to_string(row.image));
    }
    return texts;
}

class JobListTest : public ::testing::Test {
  protected:
    RecordingSurface surface_;
    JobList jobs_{surface_};
};

TEST_F(JobListTest, RowsKeepTheirOrderAndTextsAndAreMirrored) {
    FileEntry first;
    first.SetFile("docs/manual.pdf");
    FileEntry second;
    second.SetFile("index.htm");

    EXPECT_EQ(jobs_.AddJobRow("news.example/sub.txt"), 0);
    EXPECT_EQ(jobs_.AddFileRow(first, "Daily News"), 1);
    EXPECT_EQ(jobs_.AddFileRow(second, ""), 2);
    EXPECT_EQ(jobs_.AddRow("extra", "custom", JobList::kDone), 3);
    EXPECT_EQ(first.Row, 1);
    EXPECT_EQ(second.Row, 2);
    jobs_.SetRowStatus(1, JobList::kWorking, "Checking time stamp");
    jobs_.SetRowStatus(1, JobList::kDone, "Synchronisation succesful");

    EXPECT_EQ(TextsOf(jobs_.Rows()),
              Texts({"news.example/sub.txt|Connecting to Server|2",
                     "Daily News: docs/manual.pdf|Synchronisation succesful|0",
                     ": index.htm|Added to Sync Queue|3", "extra|custom|0"}));
    EXPECT_EQ(surface_.EventsOf("row-added"),
              Texts({"0|news.example/sub.txt|Connecting to Server|2",
                     "1|Daily News: docs/manual.pdf|Added to Sync Queue|3",
                     "2|: index.htm|Added to Sync Queue|3", "3|extra|custom|0"}));
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              Texts({"1|Checking time stamp|2", "1|Synchronisation succesful|0"}));
    EXPECT_FALSE(jobs_.HasErrors());
}

TEST_F(JobListTest, AnErrorStaysSeenUntilTheListIsEmptied) {
    jobs_.AddJobRow("job");
    FileEntry entry;
    entry.SetFile("a.txt");
    jobs_.AddFileRow(entry, "P");

    // Rows that do not exist change nothing, not even the error flag.
    surface_.Clear();
    const Texts before = TextsOf(jobs_.Rows());
    for (const int row : {FileEntry().Row, 2, -7}) {
        jobs_.SetRowStatus(row, JobList::kError, "failed");
    }
    EXPECT_FALSE(jobs_.HasErrors());
    EXPECT_TRUE(surface_.Events().empty());
    EXPECT_EQ(TextsOf(jobs_.Rows()), before);

    jobs_.SetRowStatus(entry.Row, JobList::kError, "HTTP ERROR CODE: 404");
    jobs_.SetRowStatus(entry.Row, JobList::kDone, "Synchronisation succesful");
    EXPECT_TRUE(jobs_.HasErrors());
    EXPECT_EQ(jobs_.Rows()[1].image, JobList::kDone);

    jobs_.DeleteAllRows();
    EXPECT_FALSE(jobs_.HasErrors());
    EXPECT_TRUE(jobs_.Rows().empty());
    EXPECT_EQ(surface_.Events().back(), "rows-cleared");
    // Indexes start again from 0 after the list was emptied.
    EXPECT_EQ(jobs_.AddJobRow("next"), 0);
}

}  // namespace
}  // namespace zephyrate::test
