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

TEST(MemoryFileTest, GrowsInWholeStepsOf1024) {
    MemoryFile file;
    EXPECT_EQ(file.Capacity(), 0u);
    file.Write("x", 1);
    EXPECT_EQ(file.Capacity(), 1024u);
    const std::string block(1024, 'y');
    file.Write(block.data(), block.size());
    EXPECT_EQ(file.Capacity(), 2048u);
    std::string expected = "x" + block;
    for (int i = 0; i < 3000; ++i) {
        const std::string piece = std::to_string(i) + ",";
        file.Write(piece.data(), piece.size());
        expected += piece;
        ASSERT_EQ(file.Capacity() % 1024, 0u);
        ASSERT_GE(file.Capacity(), file.Length());
    }
    EXPECT_EQ(file.Length(), expected.size());
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 1000), expected);
}

}  // namespace
}  // namespace zephyrate
