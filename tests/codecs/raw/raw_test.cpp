#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "codecs/raw/vx_raw_codec.h"
#include "codecs/raw/vx_raw_file_stream.h"
#include "core/vx_file.h"
#include "core/vx_deep.h"
#include "core/vx_exif_edit.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Fixture(const std::string& name) { return vt::ReadFileBytes(vt::DataPath("raw/" + name)); }

std::string ExifText(const VxImage& img, uint16_t tag) {
    std::string text;
    vx::ForEachExifEntry(img.GetExif(), [&](vx::ExifDir dir, const vx::ExifEntry& e) {
        if (dir == vx::ExifDir::Main && e.tag == tag) text.assign(e.value.begin(), e.value.end() - 1);
    });
    return text;
}

// Developed as dcraw_emu -w -6 -T -o 1 -g 2.4 12.92 does (16-bit sRGB, camera
// white balance, turned by the file's orientation), named by the extension or
// found by the probe; and the preview when asked.
TEST(Raw, DevelopsAsTheLibrarysToolAndReadsThePreview) {
    const std::tuple<const char*, bool, uint32_t, uint32_t, int32_t, const char*> cases[] = {
        // name, preview asked, width, height, orientation reported, reference
        {"rggb_plain.dng", false, 48, 32, 1, ".tiff"},    {"bggr_turned.dng", false, 32, 48, 1, ".tiff"},
        {"preview_jpeg.dng", false, 32, 48, 1, ".tiff"},  {"rggb_plain.dng", true, 48, 32, 1, ".tiff"},
        {"preview_rgb.dng", true, 24, 16, 1, ".thumb"},   {"preview_jpeg.dng", true, 24, 16, 8, ".thumb"}};
    for (const auto& [name, preview, w, h, orientation, ref] : cases) {
        SCOPED_TRACE(std::string(name) + (preview ? " preview" : ""));
        for (const uint32_t format : {uint32_t(VX_FORMAT_RAW), 0u}) {
            VxImage img(0), want(0);
            img.SetCodecOption(preview ? VxRawCodec::kPreview : 0, VX_FORMAT_RAW);
            ASSERT_TRUE(vt::DecodeBytes(Fixture(name), format, img)) << img.GetLastError();
            // The probe leaves a file whose first directory is a picture to TIFF.
            if (format == 0 && std::string(name).rfind("preview_", 0) == 0) {
                EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_TIF));
                continue;
            }
            ASSERT_TRUE(vt::DecodeBytes(Fixture(std::string(name) + ref), 0, want));
            EXPECT_TRUE(img.GetType() == VX_FORMAT_RAW && img.GetWidth() == w && img.GetHeight() == h);
            EXPECT_TRUE(img.GetOrientation() == orientation && vx::ExifOrientation(img.GetExif()) == orientation);
            EXPECT_EQ(ExifText(img, 272), "Test Mosaic");
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(want)), 0);
            ASSERT_EQ(bool(img.GetDeep()), !preview || std::string(ref) == ".tiff");
            EXPECT_LE(img.GetDeep() ? vt::DeepDiff(*img.GetDeep(), *want.GetDeep()) : 0, 1);
        }
    }
}

// The stream libraw reads headers and previews through behaves as its own
// memory stream: positions clamped to the file after `start`, a cut last
// item counted, lines and numbers read as they stand.
TEST(Raw, FileStreamReadsAsTheLibrarysMemoryStream) {
    uint8_t bytes[] = "skip|12 34\nline two\n7";
    VxMemFile file(bytes, sizeof bytes - 1);
    vx::raw::FileStream s(&file, 5);
    EXPECT_EQ(s.size(), 16);
    int n = 0;
    EXPECT_EQ(s.scanf_one("%d", &n), 1);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(s.tell(), 2);
    char line[16];
    ASSERT_NE(s.gets(line, sizeof line), nullptr);
    EXPECT_STREQ(line, " 34\n");
    ASSERT_NE(s.gets(line, 5), nullptr);
    EXPECT_STREQ(line, "line");
    const struct { int64_t offset; int whence; int64_t at; } seeks[] = {
        {-100, SEEK_CUR, 0}, {100, SEEK_SET, 16}, {-3, SEEK_END, 13}, {INT64_MAX, SEEK_CUR, 16}};
    for (const auto& k : seeks) {
        s.seek(k.offset, k.whence);
        EXPECT_EQ(s.tell(), k.at) << k.offset;
    }
    s.seek(-3, SEEK_END);
    uint8_t got[4] = {};
    EXPECT_EQ(s.read(got, 2, 2), 2);  // "o\n7": one whole pair and a cut one
    EXPECT_EQ(got[2], '7');
    EXPECT_TRUE(s.eof());
    EXPECT_EQ(s.get_char(), -1);
    EXPECT_EQ(s.gets(line, sizeof line), nullptr);
}

struct Pieces {
    int calls = 0, cancelAt = 0;
    std::atomic<int32_t> cancel{0};
};

// The picture limit refuses before anything is unpacked (only the opening
// reached the library's progress hook); a cancel raised in the library's work ends it;
// a dimensions-only pass answers the developed size without a piece.
TEST(Raw, LimitCancelAndSizeComeBeforeTheWork) {
    const struct { uint64_t maxPixels; int cancelAt; bool dimsOnly; bool ok; const char* text; int most; } cases[] = {
        {1000, 0, false, false, "limit", 1},  {0, 2, false, false, "Cancelled", 2},
        {0, 0, true, true, "", 1},            {0, 0, false, true, "", 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Pieces pieces{0, c.cancelAt};
        VxImage img(0);
        img.SetMaxPixels(c.maxPixels);
        img.SetCancelRequest(&pieces.cancel);
        if (c.dimsOnly) img.SetEscape(-1);
        img.SetPieceHook([](void* p) {
            auto* k = static_cast<Pieces*>(p);
            if (++k->calls == k->cancelAt) k->cancel = 1;
        }, &pieces);
        EXPECT_EQ(vt::DecodeBytes(Fixture("bggr_turned.dng"), VX_FORMAT_RAW, img), c.ok);
        EXPECT_NE(std::string(img.GetLastError()).find(c.text), std::string::npos) << img.GetLastError();
        EXPECT_LE(pieces.calls, c.most);
        EXPECT_TRUE(!c.ok || (img.GetWidth() == 32 && img.GetHeight() == 48 && img.GetType() == VX_FORMAT_RAW &&
                              img.IsValid() == !c.dimsOnly && pieces.calls > (c.dimsOnly ? -1 : 3)));
    }
}

TEST(Raw, HostileAndForeignFilesFailWithTheirText) {
    vt::QuietSweepOverFixtures("raw", {".dng"}, VX_FORMAT_RAW, 4, 7, 120);
    const Bytes plain = Fixture("rggb_plain.dng");
    const std::tuple<Bytes, uint32_t, const char*> cases[] = {
        {Bytes(plain.begin(), plain.begin() + 300), VX_FORMAT_RAW, "RAW: "},
        {Bytes(5000, 0x55), VX_FORMAT_RAW, "RAW: "},
        {Bytes(5000, 0x55), 0, "解码"},  // the probe does not hand a signature-less file to libraw
        {Bytes{}, VX_FORMAT_RAW, "Not a camera raw file"}};
    for (const auto& [bytes, format, text] : cases) {
        VxImage img(0);
        EXPECT_FALSE(vt::DecodeBytes(bytes, format, img));
        EXPECT_EQ(std::string(img.GetLastError()).rfind(text, 0), 0u) << text << " / " << img.GetLastError();
    }
}

}  // namespace
