#include <gtest/gtest.h>

#include "facade/image_facade.h"
#include "tests/support/test_support.h"

namespace {

TEST(Facade, NullHandleAnswers) {
    ImageHandle h = nullptr;
    EXPECT_EQ(ImageFacade::GetBpp(&h), 0);
    EXPECT_FALSE(ImageFacade::EncodeToFile(&h, "/tmp/whatever.bmp", 1));
    EXPECT_FALSE(ImageFacade::DecreaseBpp(&h, 8, 0));
    EXPECT_FALSE(ImageFacade::DecodeFromFile(&h, "a.b", 1));
    EXPECT_EQ(h, nullptr);  // a short name creates nothing
    ImageFacade::Free(&h);
    ImageFacade::Free(&h);
    EXPECT_EQ(h, nullptr);
}

TEST(Facade, FailedDecodeStillCreatesTheObject) {
    ImageHandle h = nullptr;
    EXPECT_FALSE(ImageFacade::DecodeFromFile(&h, "/nonexistent/picture.bmp", 1));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ImageFacade::GetBpp(&h), 0);
    ImageFacade::Free(&h);
    EXPECT_EQ(h, nullptr);
}

TEST(Facade, DecodeReduceEncode) {
    vt::TempDir dir;
    ImageHandle h = nullptr;
    ASSERT_TRUE(ImageFacade::DecodeFromFile(&h, vt::DataPath("bmp/bits24.bmp").c_str(), 1));
    EXPECT_EQ(ImageFacade::GetBpp(&h), 24);
    EXPECT_EQ(ImageFacade::GetWidth(&h), 13);

    // A 16-byte palette is too small for 8 bits: the standard palette is used.
    uint8_t small[16] = {255, 255, 255, 0};
    ASSERT_TRUE(ImageFacade::DecreaseBpp(&h, 8, 0, small, 16));
    EXPECT_EQ(ImageFacade::GetBpp(&h), 8);
    EXPECT_EQ(h->GetPaletteColor(249).rgbRed, 0xFF);

    // 256 bytes are enough by the byte count: only those bytes are read.
    ASSERT_TRUE(ImageFacade::DecodeFromFile(&h, vt::DataPath("bmp/bits24.bmp").c_str(), 1));
    std::vector<uint8_t> bytes(256, 0);
    bytes[4 * 3 + 2] = 200;
    ASSERT_TRUE(ImageFacade::DecreaseBpp(&h, 8, 0, bytes.data(), int32_t(bytes.size())));
    EXPECT_EQ(h->GetPaletteColor(3).rgbRed, 200);
    EXPECT_EQ(h->GetPaletteColor(100).rgbRed, 0);

    const std::string out = dir.file("x.bmp");
    EXPECT_TRUE(ImageFacade::EncodeToFile(&h, out.c_str(), 1));
    EXPECT_FALSE(ImageFacade::EncodeToFile(&h, "a.b", 1));
    ImageFacade::Free(&h);
}

}  // namespace
