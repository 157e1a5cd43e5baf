#include "platform/ChmFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TempFolder.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

// The help file as the build makes it: every page comes out whole, and it opens at the
// contents page. A damaged or missing file is not open and reads nothing.
TEST(ChmFileTest, TheBuiltHelpHoldsEveryPageIntact) {
    const ChmFile help(ZEPHYRATE_HELP_FILE);
    ASSERT_TRUE(help.IsOpen());
    EXPECT_EQ(help.DefaultTopic(), "/index.htm");
    int pages = 0;
    for (const fs::directory_entry& page : fs::directory_iterator(ZEPHYRATE_HELP_SOURCE)) {
        if (page.path().extension() == ".htm") {
            ++pages;
            EXPECT_EQ(help.Read("/" + page.path().filename().string()),
                      TempFolder::ReadFile(page.path()))
                << page.path();
        }
    }
    EXPECT_EQ(pages, 7);
    EXPECT_EQ(help.Read("/missing.htm"), std::nullopt);

    TempFolder folder;
    const std::string whole = TempFolder::ReadFile(ZEPHYRATE_HELP_FILE);
    for (const std::string& damaged :
         {whole.substr(0, whole.size() / 2), std::string(whole.size(), 'x'), std::string()}) {
        const ChmFile file(folder.WriteFile("damaged.chm", damaged).string());
        EXPECT_EQ(file.Read("/index.htm"), std::nullopt);
    }
    EXPECT_FALSE(ChmFile((folder / "none.chm").string()).IsOpen());
}

}  // namespace
}  // namespace zephyrate::test
