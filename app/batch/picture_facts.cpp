#include "app/batch/picture_facts.h"

#include <algorithm>

#include "app/batch/batch_engine.h"
#include "app/format_table/format_table.h"
#include "core/vx_image.h"

namespace vellumar::batch {

PictureFacts ReadPictureFacts(const std::string& path, int frame, uint64_t maxPixels) {
    PictureFacts facts;
    VxImage probe(0);
    probe.SetEscape(-1);
    probe.SetFrame(frame);
    probe.SetMaxPixels(maxPixels);
    if (!probe.Load(path.c_str(), FormatFromExtension(path)) ||
        !probe.PictureFits(probe.GetWidth(), probe.GetHeight(), probe.GetBpp())) {
        const char* why = probe.GetLastError();
        facts.error = *why ? ReasonLine(why) : "cannot open the file";
        return facts;
    }
    facts.ok = true;
    facts.format = VxFormatName(probe.GetType());
    facts.width = probe.GetWidth();
    facts.height = probe.GetHeight();
    facts.bpp = probe.GetBpp();
    facts.frames = std::max(1, probe.GetNumFrames());
    facts.xdpi = probe.GetXDPI();
    facts.ydpi = probe.GetYDPI();
    return facts;
}

}  // namespace vellumar::batch
