#include "platform/MemoryFile.h"

#include <gtest/gtest.h>

#include <string>

namespace zephyrate {
namespace {

std::string ReadAll(MemoryFile& file, std::size_t step) {
    std::string all;
    std::string chunk(step, '\0');
    while (std::size_t n = file.Read(chunk.data(), chunk.size())) {
        all.append(chunk, 0, n);
    }
    return all;
}

TEST(MemoryFileTest, GivesBackWhatWasWrittenAfterSeekToBeginAndOverwritesInPlace) {
    MemoryFile file;
    EXPECT_EQ(file.Read(nullptr, 0), 0u);
    file.Write("[InternetShortcut]\r\n", 20);
    file.Write("URL=file://\\x.htm\r\n", 19);
    EXPECT_EQ(file.Length(), 39u);
    EXPECT_EQ(ReadAll(file, 1), "") << "the position is at the end after writing";
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 7), "[InternetShortcut]\r\nURL=file://\\x.htm\r\n");

    file.SeekToBegin();
    file.Write("<>", 2);
    EXPECT_EQ(file.Length(), 39u);
    EXPECT_EQ(ReadAll(file, 4096), "nternetShortcut]\r\nURL=file://\\x.htm\r\n");
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 3), "<>nternetShortcut]\r\nURL=file://\\x.htm\r\n");
}

}  // namespace
}  // namespace zephyrate
