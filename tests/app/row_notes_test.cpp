#include <gtest/gtest.h>

#include "app/batch/run_driver.h"
#include "core/vx_codec.h"
#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;

struct NoteCase {
    const char* source; ImageFormat target; int frame; bool strip; std::vector<std::string> notes;
};
const NoteCase kNoteCases[] = {
    {"gif/anim_local.gif", VX_FORMAT_BMP, 0, false, {"kept frame 1 of 4: BMP stores one picture"}},
    {"gif/anim_local.gif", VX_FORMAT_HEIF, 2, false, {"kept frame 3 of 4: this build writes one picture to HEIC"}},
    {"png/rgba8.png", VX_FORMAT_JPG, 0, false,
     {"dropped the transparency: JPG has none (composited on white)"}},
    {"png/rgba8.png", VX_FORMAT_GIF, 0, false,
     {"kept on/off transparency only: GIF stores one transparent colour"}},
    {"png/rgba8.png", VX_FORMAT_TGA, 0, false, {}},
    {"webp/icc.webp", VX_FORMAT_BMP, 0, false, {"dropped the colour profile: BMP cannot hold it"}},
    {"webp/icc.webp", VX_FORMAT_BMP, 0, true, {}},
    {"webp/icc.webp", VX_FORMAT_PNG, 0, false, {}},
    {"bmp/bits24.bmp", VX_FORMAT_PCX, 0, false, {}},
    {"exr/rgb_half_scan.exr", VX_FORMAT_PNG, 0, false,
     {"clipped the light beyond white: PNG stores black to white only"}},
    {"exr/rgb_half_scan.exr", VX_FORMAT_TIF, 0, false, {}},
    {"exr/rgb_half_scan.exr", VX_FORMAT_EXR, 0, false, {}},
};

// Each case as it is and strict: a strict row with notes fails and writes nothing.
TEST(RowNotes, EachLossIsNotedAndStrictRefusesIt) {
    for (const auto& c : kNoteCases) {
        for (const bool strict : {false, true}) {
            vt::TempDir out;
            batch::RunOptions opt;
            opt.target = c.target;
            opt.extension = std::string(".") + VxFormatName(c.target);
            opt.outDir = out.path();
            opt.frame = c.frame;
            opt.steps.strip = c.strip;
            opt.strict = strict;
            batch::RowResult got;
            batch::RunCallbacks cb;
            cb.onRowDone = [&](int, const batch::RowResult& r) { got = r; };
            batch::RunRows({vt::DataPath(c.source)}, opt, cb);
            EXPECT_EQ(got.notes, c.notes) << c.source << opt.extension;
            const bool refused = strict && !c.notes.empty();
            EXPECT_EQ(vt::FileExists(out.file("main1" + opt.extension)), !refused) << c.source;
            EXPECT_EQ(got.error, refused ? "would lose what the source has (strict): " + c.notes[0]
                                         : std::string());
        }
    }
}

}  // namespace
