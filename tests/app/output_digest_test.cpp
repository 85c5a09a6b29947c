// Every byte Vellumar writes, pinned: small fixtures go through the batch row
// (decode, depth fitting, encode) into every target, and each output's FNV-1a
// 64 digest must match the table below. Speed work must leave these alone.
// The table was recorded from the code before that work, with Debian 12's
// libraries (CI has the same). To re-record after a deliberate change of
// output, run with VELLUMAR_PRINT_DIGESTS=1 and paste what it prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/format_table/format_table.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

struct Fnv {
    uint64_t h = 0xcbf29ce484222325ull;
    void Add(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    }
    template <class T>
    void AddValue(T v) {
        Add(&v, sizeof(v));
    }
};

bool Printing() {
    const char* v = std::getenv("VELLUMAR_PRINT_DIGESTS");
    return v && *v && *v != '0';
}

// 24-bit photo-like, grey, 1/4/8-bit palettes, palette with transparency,
// alpha plane (PNG, TGA, ICO), icon with AND mask, GIF animation and
// transparent and interlaced GIFs; a drawing and a two-page document.
const char* const kSources[] = {
    "jpeg/baseline_420.jpg", "jpeg/grey.jpg",         "bmp/bits24.bmp",
    "bmp/bits8.bmp",         "bmp/bits4.bmp",         "bmp/bits1.bmp",
    "png/pal8_trns7.png",    "png/pal4_alpha.png",    "png/rgba8.png",
    "tga/pil_rgba32.tga",    "ico/magick_32bit.ico",  "ico/netpbm_8bit_mask.ico",
    "gif/anim_local.gif",    "gif/transparent.gif",   "gif/interlaced.gif",
    "svg/shapes.svg",        "pdf/pages.pdf",
};

// Digest of the written file; 0 when the row failed (WMF output is refused).
// Key: "source>EXT".
const std::map<std::string, uint64_t> kConverted = {
#include "output_digest_table.inc"
};

// Digest of each decoded GIF frame (block, palette, alpha, transparency) and
// the frame count the decoder reports. Key: "file#frame".
struct FrameRecord {
    int32_t numFrames;
    uint64_t digest;
};
const std::map<std::string, FrameRecord> kGifFrames = {
#include "gif_frame_table.inc"
};

uint64_t PictureDigest(const VxImage& img) {
    Fnv f;
    f.AddValue(img.GetWidth());
    f.AddValue(img.GetHeight());
    f.AddValue(img.GetBpp());
    f.AddValue(img.GetTransIndex());
    const RGBQUAD tc = img.GetTransColor();
    f.Add(&tc, sizeof(tc));
    if (img.GetPalette()) f.Add(img.GetPalette(), size_t(img.GetNumColors()) * sizeof(RGBQUAD));
    for (uint32_t y = 0; y < img.GetHeight(); ++y) f.Add(img.GetBits(y), img.GetEffWidth());
    if (img.AlphaIsValid())
        f.Add(img.AlphaGetPointer(0, 0), size_t(img.GetWidth()) * img.GetHeight());
    return f.h;
}

TEST(OutputDigest, EveryFixtureIntoEveryTarget) {
    vt::TempDir dir;
    std::string printed;
    int compared = 0;
    for (const char* source : kSources) {
        for (const char* item : vellumar::TargetItems()) {
            const vellumar::batch::Target target = vellumar::batch::TargetFromItem(item);
            const std::string out = dir.file("out" + target.extension);
            std::remove(out.c_str());
            ImageHandle handle = nullptr;
            const auto r = vellumar::batch::ConvertRow(&handle, vt::DataPath(source),
                                                       target.format, [&] { return out; });
            ImageFacade::Free(&handle);
            uint64_t digest = 0;
            if (r.outcome == vellumar::batch::RowOutcome::Done) {
                const std::vector<uint8_t> bytes = vt::ReadFileBytes(out);
                Fnv f;
                f.Add(bytes.data(), bytes.size());
                digest = f.h;
                EXPECT_FALSE(bytes.empty()) << source << " -> " << item;
            }
            const std::string key = std::string(source) + ">" + (item + 2);
            char line[160];
            std::snprintf(line, sizeof(line), "    {\"%s\", 0x%016llxull},\n", key.c_str(),
                          static_cast<unsigned long long>(digest));
            printed += line;
            const auto it = kConverted.find(key);
            if (it == kConverted.end()) {
                ADD_FAILURE() << "no recorded digest for " << key;
                continue;
            }
            EXPECT_EQ(digest, it->second) << key << " wrote different bytes";
            ++compared;
        }
    }
    if (Printing()) std::printf("%s", printed.c_str());
    EXPECT_EQ(compared, int(std::size(kSources) * vellumar::TargetItems().size()));
}

TEST(OutputDigest, GifFramesAndFrameCounts) {
    std::string printed;
    int compared = 0;
    for (const std::string& path : vt::FixtureFiles("gif", {".gif"})) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        // Every frame the first decode reports, plus one past the end (a failure).
        int32_t frames = 1;
        for (int32_t frame = 0; frame <= frames; ++frame) {
            VxImage img(0);
            img.SetFrame(frame);
            const bool ok = img.Load(path.c_str(), VX_FORMAT_GIF);
            if (frame == 0 && ok) frames = img.GetNumFrames();
            const FrameRecord got{ok ? img.GetNumFrames() : -1, ok ? PictureDigest(img) : 0};
            const std::string key = name + "#" + std::to_string(frame);
            char line[160];
            std::snprintf(line, sizeof(line), "    {\"%s\", {%d, 0x%016llxull}},\n", key.c_str(),
                          got.numFrames, static_cast<unsigned long long>(got.digest));
            printed += line;
            const auto it = kGifFrames.find(key);
            if (it == kGifFrames.end()) {
                ADD_FAILURE() << "no recorded frame for " << key;
                continue;
            }
            EXPECT_EQ(got.numFrames, it->second.numFrames) << key;
            EXPECT_EQ(got.digest, it->second.digest) << key << " decodes differently";
            ++compared;
        }
    }
    if (Printing()) std::printf("%s", printed.c_str());
    EXPECT_EQ(compared, int(kGifFrames.size()));
}

}  // namespace
