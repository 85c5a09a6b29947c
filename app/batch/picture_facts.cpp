#include "app/batch/picture_facts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "app/batch/batch_engine.h"
#include "app/format_table/format_table.h"
#include "core/vx_exif_edit.h"
#include "core/vx_image.h"
#include "core/vx_messages.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

// Make and Model from the main directory, the make once when the model
// already starts with it (as many cameras write it).
std::string CameraOf(std::span<const uint8_t> exif) {
    std::string make, model;
    vx::ForEachExifEntry(exif, [&](vx::ExifDir dir, const vx::ExifEntry& e) {
        if (dir != vx::ExifDir::Main || e.type != 2 || (e.tag != 271 && e.tag != 272)) return;
        std::string text(e.value.begin(), e.value.end());
        text = text.substr(0, text.find('\0'));
        while (!text.empty() && text.back() == ' ') text.pop_back();
        (e.tag == 271 ? make : model) = text;
    });
    if (make.empty() || model.rfind(make, 0) == 0) return model;
    return model.empty() ? make : make + " " + model;
}

}  // namespace

PictureFacts ReadPictureFacts(const std::string& path, int frame, uint64_t maxPixels,
                              const DecodeSteering& steering) {
    PictureFacts facts;
    // Opening a pipe would wait for its writer, beyond the reach of a signal.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        facts.error = S_ISDIR(st.st_mode) ? VxSaveErrorText("cannot open the file", EISDIR)
                                          : "cannot open the file: --info reads regular files only";
        return facts;
    }
    VxImage probe(0);
    probe.SetEscape(-1);
    probe.SetFrame(frame);
    probe.SetMaxPixels(maxPixels);
    SteerDecoder(probe, steering);
    if (!probe.Load(path.c_str(), FormatFromExtension(path)) ||
        !probe.PictureFits(probe.GetWidth(), probe.GetHeight(), probe.GetBpp())) {
        const char* why = probe.GetLastError();
        facts.error = *why ? ReasonLine(VxEnglish(why)) : "cannot open the file";
        return facts;
    }
    facts.ok = true;
    facts.format = VxFormatName(probe.GetType());
    facts.width = probe.GetWidth();
    facts.height = probe.GetHeight();
    facts.bpp = probe.GetBpp();
    if (const VxDeepRef& deep = probe.GetDeep()) facts.sampleBits = deep->bits;
    facts.frames = std::max(1, probe.GetNumFrames());
    facts.xdpi = probe.GetXDPI();
    facts.ydpi = probe.GetYDPI();
    if (probe.GetType() == VX_FORMAT_RAW) facts.camera = CameraOf(probe.GetExif());
    return facts;
}

}  // namespace vellumar::batch
