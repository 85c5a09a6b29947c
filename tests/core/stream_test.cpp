#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/vx_file.h"
#include "tests/support/test_support.h"

namespace {

TEST(MemFile, ReadsWholeItemsAndStopsAtTheEnd) {
    uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    VxMemFile f(data, sizeof(data));
    uint8_t buf[12] = {};
    EXPECT_EQ(f.Read(buf, 4, 3), 2u);  // 10 bytes make two whole 4-byte items
    EXPECT_EQ(f.Tell(), 10);
    EXPECT_EQ(f.Read(buf, 1, 1), 0u);
    EXPECT_TRUE(f.Eof());
    EXPECT_EQ(f.GetC(), -1);
}

TEST(MemFile, SeekRulesAndPastTheEnd) {
    uint8_t data[10] = {};
    VxMemFile f(data, sizeof(data));
    EXPECT_TRUE(f.Seek(-5, SEEK_SET));
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_FALSE(f.Seek(0, 3));
    EXPECT_TRUE(f.Seek(-3, SEEK_END));
    EXPECT_EQ(f.GetC(), 0);
    EXPECT_TRUE(f.Seek(20, SEEK_SET));
    EXPECT_NE(f.Error(), 0);
    EXPECT_EQ(f.GetC(), -1);
}

TEST(MemFile, GrowsInPagesAndHandsItsBufferOver) {
    VxMemFile f;
    ASSERT_TRUE(f.Open());
    EXPECT_FALSE(f.Open());
    std::vector<uint8_t> bytes(5000, 0xAB);
    EXPECT_EQ(f.Write(bytes.data(), 1, bytes.size()), bytes.size());
    EXPECT_EQ(f.GetCapacity(), 8192);
    EXPECT_EQ(f.Size(), 5000);
    ASSERT_TRUE(f.Seek(8192 - 5000, SEEK_CUR));
    EXPECT_TRUE(f.PutC(1));  // exactly 8192 asks for one more page
    EXPECT_EQ(f.GetCapacity(), 12288);
    EXPECT_EQ(f.Size(), 8193);
    // The gap left by the seek reads as zeros.
    ASSERT_TRUE(f.Seek(6000, SEEK_SET));
    EXPECT_EQ(f.GetC(), 0);

    uint8_t* owned = f.GetBuffer();
    f.Close();  // no longer ours: must not free
    EXPECT_EQ(owned[4999], 0xAB);
    std::free(owned);
}

TEST(MemFile, NeverGrowsACallersBuffer) {
    uint8_t data[4] = {1, 2, 3, 4};
    VxMemFile f(data, sizeof(data));
    ASSERT_TRUE(f.Seek(2, SEEK_SET));
    const uint8_t more[4] = {9, 9, 9, 9};
    EXPECT_EQ(f.Write(more, 1, 4), 0u);  // would pass the end
    EXPECT_EQ(data[2], 3);
    EXPECT_EQ(f.Write(more, 1, 2), 2u);  // fits
    EXPECT_EQ(data[3], 9);
    EXPECT_FALSE(f.PutC(1));
}

TEST(MemFile, ClosedStreamAnswersNeutrally) {
    VxMemFile f;
    EXPECT_EQ(f.Tell(), -1);
    EXPECT_EQ(f.Size(), -1);
    EXPECT_TRUE(f.Eof());
    EXPECT_EQ(f.Error(), -1);
    EXPECT_FALSE(f.Flush());
    uint8_t b = 0;
    EXPECT_EQ(f.Write(&b, 1, 1), 0u);
}

TEST(IOFile, WrapsACallersFileWithoutClosingIt) {
    vt::TempDir dir;
    const std::string path = dir.file("x.bin");
    FILE* fp = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(fp, nullptr);
    {
        VxIOFile f(fp);
        EXPECT_TRUE(f.PutC('A'));
        EXPECT_EQ(f.Write("BCD", 1, 3), 3u);
        EXPECT_EQ(f.Size(), 4);
        EXPECT_EQ(f.Tell(), 4);
        EXPECT_TRUE(f.Seek(1, SEEK_SET));
        EXPECT_EQ(f.GetC(), 'B');
        EXPECT_TRUE(f.Close());
    }
    EXPECT_EQ(std::fseek(fp, 0, SEEK_SET), 0);  // still open
    EXPECT_EQ(std::fgetc(fp), 'A');
    std::fclose(fp);

    VxIOFile empty;
    EXPECT_EQ(empty.Tell(), 0);
    EXPECT_EQ(empty.Size(), -1);
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(empty.GetC(), -1);
    EXPECT_FALSE(empty.Open((dir.path() + "/missing/x").c_str(), "rb"));
    VxIOFile opened;
    ASSERT_TRUE(opened.Open(path.c_str(), "rb"));
    EXPECT_FALSE(opened.Open(path.c_str(), "rb"));
    EXPECT_EQ(opened.GetC(), 'A');
}

}  // namespace
