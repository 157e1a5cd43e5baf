#include "engine/JobList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/FileEntry.h"
#include "tests/support/RecordingSurface.h"

namespace zephyrate::test {
namespace {

using Events = std::vector<std::string>;

std::string Text(const JobList::Row& row) {
    return row.object + "|" + row.status + "|" + std::to_string(row.image);
}

std::vector<std::string> Texts(const std::vector<JobList::Row>& rows) {
    std::vector<std::string> texts;
    for (const JobList::Row& row : rows) {
        texts.push_back(Text(row));
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
    EXPECT_EQ(first.Row, 1);
    EXPECT_EQ(jobs_.AddFileRow(second, ""), 2);
    EXPECT_EQ(second.Row, 2);
    EXPECT_EQ(jobs_.AddRow("extra", "custom", JobList::kDone), 3);

    EXPECT_EQ(Texts(jobs_.Rows()), Events({"news.example/sub.txt|Connecting to Server|2",
                                           "Daily News: docs/manual.pdf|Added to Sync Queue|3",
                                           ": index.htm|Added to Sync Queue|3", "extra|custom|0"}));
    EXPECT_EQ(
        surface_.Events(),
        Events({"row-added:0|news.example/sub.txt|Connecting to Server|2",
                "row-added:1|Daily News: docs/manual.pdf|Added to Sync Queue|3",
                "row-added:2|: index.htm|Added to Sync Queue|3", "row-added:3|extra|custom|0"}));

    jobs_.SetRowStatus(1, JobList::kWorking, "Checking time stamp");
    jobs_.SetRowStatus(1, JobList::kDone, "Synchronisation succesful");
    EXPECT_EQ(Text(jobs_.Rows()[1]), "Daily News: docs/manual.pdf|Synchronisation succesful|0");
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              Events({"1|Checking time stamp|2", "1|Synchronisation succesful|0"}));
    EXPECT_FALSE(jobs_.HasErrors());

    // The mirrored rows are what a window would show.
    std::vector<JobList::Row> shown;
    for (const RecordingSurface::Row& row : surface_.Rows()) {
        shown.push_back({row.object, row.status, row.image});
    }
    EXPECT_EQ(Texts(shown), Texts(jobs_.Rows()));
}

TEST_F(JobListTest, AnErrorStaysSeenUntilTheListIsEmptied) {
    jobs_.AddJobRow("job");
    FileEntry entry;
    entry.SetFile("a.txt");
    jobs_.AddFileRow(entry, "P");

    jobs_.SetRowStatus(entry.Row, JobList::kError, "HTTP ERROR CODE: 404");
    EXPECT_TRUE(jobs_.HasErrors());
    jobs_.SetRowStatus(entry.Row, JobList::kDone, "Synchronisation succesful");
    EXPECT_TRUE(jobs_.HasErrors());
    EXPECT_EQ(jobs_.Rows()[1].image, JobList::kDone);

    jobs_.DeleteAllRows();
    EXPECT_FALSE(jobs_.HasErrors());
    EXPECT_TRUE(jobs_.Rows().empty());
    EXPECT_EQ(surface_.Events().back(), "rows-cleared");
    EXPECT_TRUE(surface_.Rows().empty());
    // Indexes start again from 0 after the list was emptied.
    EXPECT_EQ(jobs_.AddJobRow("next"), 0);
}

TEST_F(JobListTest, RowsThatDoNotExistChangeNothing) {
    jobs_.AddJobRow("job");
    surface_.Clear();
    FileEntry rowless;  // Row -1: the entry got no row
    jobs_.SetRowStatus(rowless.Row, JobList::kError, "failed");
    jobs_.SetRowStatus(1, JobList::kError, "failed");
    jobs_.SetRowStatus(-7, JobList::kError, "failed");
    EXPECT_FALSE(jobs_.HasErrors());
    EXPECT_TRUE(surface_.Events().empty());
    EXPECT_EQ(jobs_.Rows()[0].status, "Connecting to Server");
}

}  // namespace
}  // namespace zephyrate::test
