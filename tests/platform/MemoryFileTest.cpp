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

TEST(MemoryFileTest, GivesBackWhatWasWrittenAfterSeekToBegin) {
    MemoryFile file;
    EXPECT_EQ(file.Read(nullptr, 0), 0u);
    file.Write("[InternetShortcut]\r\n", 20);
    file.Write("URL=file://\\x.htm\r\n", 19);
    EXPECT_EQ(file.Length(), 39u);
    char byte = 0;
    EXPECT_EQ(file.Read(&byte, 1), 0u) << "the position is at the end after writing";

    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 7), "[InternetShortcut]\r\nURL=file://\\x.htm\r\n");
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 4096), "[InternetShortcut]\r\nURL=file://\\x.htm\r\n");
}

TEST(MemoryFileTest, WritingAfterSeekToBeginOverwritesInPlace) {
    MemoryFile file;
    file.Write("abcdef", 6);
    file.SeekToBegin();
    file.Write("XY", 2);
    EXPECT_EQ(file.Length(), 6u);
    EXPECT_EQ(ReadAll(file, 3), "cdef");
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 3), "XYcdef");
}

TEST(MemoryFileTest, GrowsInWholeStepsOf1024) {
    MemoryFile file;
    EXPECT_EQ(file.Capacity(), 0u);
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        std::string piece = std::to_string(i) + ",";
        file.Write(piece.data(), piece.size());
        expected += piece;
        ASSERT_EQ(file.Capacity() % MemoryFile::kGrowBy, 0u);
        ASSERT_GE(file.Capacity(), file.Length());
    }
    EXPECT_EQ(file.Length(), expected.size());
    file.SeekToBegin();
    EXPECT_EQ(ReadAll(file, 1000), expected);

    MemoryFile single;
    single.Write("x", 1);
    EXPECT_EQ(single.Capacity(), 1024u);
    std::string block(1024, 'y');
    single.Write(block.data(), block.size());
    EXPECT_EQ(single.Capacity(), 2048u);
}

}  // namespace
}  // namespace zephyrate
