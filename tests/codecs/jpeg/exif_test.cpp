#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/codecs/jpeg/jpeg_test_util.h"
#include "tests/support/reference_decoder.h"

namespace {

using jt::DecodePath;

std::string Fixture(const char* name) { return vt::DataPath(std::string("jpeg/") + name); }

// Offset and total length (marker included) of the first APP1 segment.
std::pair<size_t, size_t> FindApp1(const std::vector<uint8_t>& b) {
    size_t pos = 2;
    while (pos + 4 <= b.size() && b[pos] == 0xFF && b[pos + 1] != 0xDA) {
        const size_t len = size_t((b[pos + 2] << 8) | b[pos + 3]);
        if (b[pos + 1] == 0xE1) return {pos, len + 2};
        pos += 2 + len;
    }
    return {0, 0};
}

TEST(Exif, CameraRecordFromBothByteOrders) {
    for (const char* f : {"exif_intel.jpg", "exif_motorola.jpg"}) {
        VxImageJPG img;
        ASSERT_TRUE(DecodePath(Fixture(f), img)) << f;
        const tag_ExifInfo& e = img.GetExifInfo();
        ASSERT_TRUE(e.isExif) << f;
        EXPECT_STREQ(e.make, "Vellum Optics") << f;
        EXPECT_STREQ(e.model, "VX-100 Field Camera") << f;
        EXPECT_STREQ(e.version, "0230") << f;
        EXPECT_STREQ(e.dateTime, "2024:05:06 07:08:09") << f;
        EXPECT_EQ(e.orientation, 6) << f;
        EXPECT_FLOAT_EQ(e.xResolution, 300.0f) << f;
        EXPECT_FLOAT_EQ(e.yResolution, 300.0f) << f;
        EXPECT_FLOAT_EQ(e.resolutionUnit, 1.0f) << f;
        EXPECT_FLOAT_EQ(e.exposureTime, 0.008f) << f;
        EXPECT_FLOAT_EQ(e.apertureFNumber, 2.8f) << f;
        EXPECT_FLOAT_EQ(e.exposureBias, -1.0f / 3.0f) << f;
        EXPECT_FLOAT_EQ(e.focalLength, 35.0f) << f;
        EXPECT_EQ(e.isoEquivalent, 400) << f;
        EXPECT_EQ(e.meteringMode, 5) << f;
        EXPECT_EQ(e.flashUsed, 1) << f;
        // "ASCII" code, padding skipped, trailing spaces gone.
        EXPECT_STREQ(e.comments, "Hello from the field") << f;
        EXPECT_EQ(e.width, 64) << f;
        EXPECT_EQ(e.height, 48) << f;
        EXPECT_EQ(e.isColor, 1) << f;
        EXPECT_EQ(e.process, 0xC0) << f;
        ASSERT_NE(e.thumbnail, nullptr) << f;
        ASSERT_GT(e.thumbnailSize, 100u) << f;
        EXPECT_EQ(e.thumbnail[0], 0xFF) << f;
        EXPECT_EQ(e.thumbnail[1], 0xD8) << f;
        EXPECT_EQ(e.thumbnail[e.thumbnailSize - 1], 0xD9) << f;
        // EXIF 300 beats JFIF 72; the thumbnail directory's own 72 does not count.
        EXPECT_EQ(img.GetXDPI(), 300) << f;
        EXPECT_EQ(img.GetYDPI(), 300) << f;
    }
}

TEST(Exif, FirstCommentSectionIsCleanedUp) {
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(Fixture("exif_comment.jpg"), img));
    // CR before LF dropped, control byte shown as '?', tab kept.
    EXPECT_STREQ(img.GetExifInfo().comments, "Line one\nLine two?\tend");
}

TEST(Exif, MoreThanTwentySectionsStillDecodes) {
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(Fixture("many_sections.jpg"), img)) << img.GetLastError();
    EXPECT_TRUE(img.GetExifInfo().isExif);
    EXPECT_STREQ(img.GetExifReader()->GetLastError(), "Too many sections in jpg file");
    EXPECT_EQ(img.GetXDPI(), 300);
    EXPECT_EQ(img.GetWidth(), 64u);
}

TEST(Exif, DamagedBlocksNeverFailTheDecode) {
    VxImageJPG plain;
    ASSERT_TRUE(DecodePath(Fixture("density_dpi72.jpg"), plain));
    const vt::Rgba expected = vt::ToRgba(plain);
    struct {
        const char* file;
        bool isExif;
        int dpi;
    } cases[] = {
        {"exif_bad_offset.jpg", false, 72}, {"exif_bad_format.jpg", false, 72},
        {"exif_bad_count.jpg", false, 72},  {"exif_bad_wrap.jpg", false, 72},
        {"exif_bad_sublink.jpg", false, 72}, {"exif_bad_align.jpg", false, 72},
        {"exif_bad_short.jpg", false, 72},
        // Loops end the walk; what was read before stays.
        {"exif_bad_cycle.jpg", true, 200},
        // A zero-count value and a directory flush with the block end.
        {"exif_bad_flush.jpg", true, 72},
    };
    for (const auto& c : cases) {
        VxImageJPG img;
        ASSERT_TRUE(DecodePath(Fixture(c.file), img)) << c.file << ": " << img.GetLastError();
        EXPECT_EQ(img.GetExifInfo().isExif, c.isExif) << c.file;
        EXPECT_EQ(img.GetXDPI(), c.dpi) << c.file;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), expected), 0) << c.file;
        if (!c.isExif) {
            EXPECT_STRNE(img.GetExifReader()->GetLastError(), "") << c.file;
        }
    }
    VxImageJPG cycle;
    ASSERT_TRUE(DecodePath(Fixture("exif_bad_cycle.jpg"), cycle));
    EXPECT_STREQ(cycle.GetExifInfo().make, "Cycle");
}

TEST(Exif, ReaderRefusesWhatIsNotJpeg) {
    tag_ExifInfo info{};
    VxExifInfo reader(&info);
    uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    VxMemFile f(gif, sizeof(gif));
    EXPECT_FALSE(reader.DecodeExif(&f));
    EXPECT_STREQ(reader.GetLastError(), "");
    // Nothing read up to a scan: no write-back.
    VxMemFile out;
    out.Open();
    EXPECT_FALSE(reader.EncodeExif(&out));
    EXPECT_STREQ(reader.GetLastError(), "Can't write exif : didn't read all");
    EXPECT_EQ(out.Size(), 0);

    // End of image before any scan.
    uint8_t eoi[] = {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x02};
    VxMemFile g(eoi, sizeof(eoi));
    VxExifInfo second(nullptr);
    EXPECT_FALSE(second.DecodeExif(&g));
    EXPECT_STREQ(second.GetLastError(), "No image in jpeg!");
    uint8_t pads[] = {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0};
    VxMemFile h(pads, sizeof(pads));
    VxExifInfo third(nullptr);
    EXPECT_FALSE(third.DecodeExif(&h));
    EXPECT_STREQ(third.GetLastError(), "too many padding bytes");
}

TEST(Exif, WriteBackCarriesTheSourceBlockAndComment) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    const auto source = vt::ReadFileBytes(Fixture("exif_comment.jpg"));
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(Fixture("exif_comment.jpg"), img));
    const auto out = jt::EncodeToBytes(img);
    ASSERT_FALSE(out.empty()) << img.GetLastError();

    const auto markers = jt::Markers(out);
    ASSERT_GE(markers.size(), 3u);
    EXPECT_EQ(markers[0], 0xE1);
    EXPECT_EQ(markers[1], 0xFE);
    for (int m : markers) EXPECT_NE(m, 0xE0);
    const auto [srcAt, srcLen] = FindApp1(source);
    const auto [outAt, outLen] = FindApp1(out);
    ASSERT_EQ(srcLen, outLen);
    EXPECT_EQ(std::memcmp(&source[srcAt], &out[outAt], srcLen), 0);

    // An independent reader sees the camera data and the picture.
    vt::TempDir dir;
    const std::string path = dir.file("back.jpg");
    ASSERT_TRUE(vt::WriteFileBytes(path, out));
    const std::string py =
        "from PIL import Image; import sys; im = Image.open(sys.argv[1]); e = im.getexif(); "
        "sys.exit(0 if e[271] == 'Vellum Optics' and e[274] == 6 and "
        "im.info.get('comment') == b'Line one\\r\\nLine two\\x01\\tend' else 1)";
    EXPECT_EQ(vt::RunCommand("/usr/bin/python3 -c " + vt::ShellQuote(py) + " " +
                             vt::ShellQuote(path)),
              0);
    // The image data is that of a plain encode of the same picture.
    VxImage view(img);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(view.Encode(buffer, size, VX_FORMAT_JPG));
    const std::vector<uint8_t> plainBytes(buffer, buffer + size);
    std::free(buffer);
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("plain.jpg"), plainBytes));
    const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
    const auto plain = vt::DecodeWithReference(dir.file("plain.jpg"), vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value() && plain.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(*ref, *plain), 0);

    // A second encode of the same object writes the same file.
    EXPECT_EQ(jt::EncodeToBytes(img), out);

    // Decoding the written file gives the same record back.
    VxImageJPG again;
    ASSERT_TRUE(jt::DecodeBytes(out, again));
    EXPECT_STREQ(again.GetExifInfo().make, "Vellum Optics");
    EXPECT_EQ(again.GetXDPI(), 300);
}

TEST(Exif, SaveThroughTheDispatchHasNoWriteBack) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(Fixture("exif_intel.jpg").c_str(), VX_FORMAT_JPG));
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(img.Encode(buffer, size, VX_FORMAT_JPG));
    const std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    EXPECT_EQ(jt::Markers(out).front(), 0xE0);
    EXPECT_EQ(jt::ReadJfif(out)->x, 300);
}

TEST(Exif, BrokenWriteBackIsAFailure) {
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(Fixture("exif_intel.jpg"), img));
    const size_t fullSize = jt::EncodeToBytes(img).size();
    VxImageJPG again;
    ASSERT_TRUE(DecodePath(Fixture("exif_intel.jpg"), again));
    // Room for all but the last byte.
    jt::ShortWriteFile f(fullSize - 1);
    EXPECT_FALSE(again.Encode(&f));
    EXPECT_STREQ(again.GetLastError(), "JPEG: writing the EXIF block failed");
}

TEST(Exif, WriteBackNeedsNoReadableOutput) {
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(Fixture("exif_comment.jpg"), img));
    const auto inMemory = jt::EncodeToBytes(img);
    ASSERT_EQ(jt::Markers(inMemory).front(), 0xE1);
    vt::TempDir dir;
    const std::string path = dir.file("write-only.jpg");
    FILE* fp = std::fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    bool ok = false;
    {
        VxIOFile file(fp);
        ok = img.Encode(&file);
    }
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_TRUE(ok) << img.GetLastError();
    EXPECT_EQ(vt::ReadFileBytes(path), inMemory);
}

// Random damage confined to the EXIF block: the picture always decodes.
TEST(Exif, MutatedBlocksAlwaysDecode) {
    const auto base = vt::ReadFileBytes(Fixture("exif_motorola.jpg"));
    const auto [at, len] = FindApp1(base);
    ASSERT_GT(len, 20u);
    std::mt19937 rng(7);
    for (int i = 0; i < 1500; ++i) {
        auto work = base;
        const int changes = 1 + int(rng() % 6);
        for (int c = 0; c < changes; ++c) {
            // Leave marker and length alone: they frame the block, not its content.
            const size_t pos = at + 4 + rng() % (len - 4);
            switch (rng() % 4) {
                case 0: work[pos] = uint8_t(rng()); break;
                case 1: work[pos] = 0xFF; break;
                case 2: work[pos] = 0x00; break;
                default: work[pos] ^= uint8_t(1u << (rng() % 8)); break;
            }
        }
        VxImageJPG img;
        ASSERT_TRUE(jt::DecodeBytes(work, img)) << i << ": " << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), 64u) << i;
        const tag_ExifInfo& e = img.GetExifInfo();
        ASSERT_LT(std::strlen(e.make), sizeof(e.make)) << i;
        ASSERT_LT(std::strlen(e.comments), size_t(200)) << i;
        if (e.thumbnail) {
            const uint8_t* section = img.GetExifReader()->GetSection(0)->data;
            const size_t sectionSize = size_t(img.GetExifReader()->GetSection(0)->size);
            ASSERT_GE(e.thumbnail, section) << i;
            ASSERT_LE(e.thumbnail + e.thumbnailSize, section + sectionSize) << i;
        }
    }
}

}  // namespace
