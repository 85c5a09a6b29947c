#include "codecs/jpeg/vx_jpeg_lossless.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/jpeg/vx_jpeg_app_segments.h"
#include "core/vx_exif_edit.h"
#include "core/vx_srgb.h"

namespace vx::jpeg {
namespace {

constexpr uint8_t kIccSignature[] = "ICC_PROFILE";  // + NUL: 12 bytes

// Calls `visit(marker, at, payload)` for each segment before the first scan;
// `at` is the segment's first byte (its 0xFF). False when the segments do
// not lie inside the file.
template <class Visit>
bool ForEachSegment(std::span<const uint8_t> jpeg, Visit visit) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != 0xFF) return false;
        size_t m = at + 1;
        while (m < jpeg.size() && jpeg[m] == 0xFF) ++m;  // fill bytes
        if (m + 3 > jpeg.size()) return false;
        const uint8_t marker = jpeg[m];
        if (marker == 0xDA || marker == 0xD9) return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at = m + 1;
            continue;
        }
        const size_t length = size_t(jpeg[m + 1]) << 8 | jpeg[m + 2];
        if (length < 2 || m + 1 + length > jpeg.size()) return false;
        visit(marker, at, jpeg.subspan(m + 3, length - 2));
        at = m + 1 + length;
    }
    return false;
}

}  // namespace

bool ReadJpegHeader(std::span<const uint8_t> jpeg, JpegHeader& header) {
    std::vector<std::pair<int, std::span<const uint8_t>>> pieces;
    std::vector<uint8_t> resources;
    int count = 0;
    const bool read = ForEachSegment(jpeg, [&](uint8_t marker, size_t, std::span<const uint8_t> p) {
        if (marker == 0xE0 && p.size() >= 12 && std::memcmp(p.data(), "JFIF\0", 5) == 0 &&
            (p[7] == 1 || p[7] == 2)) {
            const double perInch = p[7] == 1 ? 1.0 : 2.54;
            header.xDpi = (p[8] << 8 | p[9]) * perInch;
            header.yDpi = (p[10] << 8 | p[11]) * perInch;
        }
        if (marker == 0xE1 && header.exif.empty() && p.size() > 6 &&
            std::memcmp(p.data(), "Exif\0\0", 6) == 0 && ExifHeaderValid(p.subspan(6)))
            header.exif = p.subspan(6);
        if (marker == 0xE1 && header.xmp.empty()) {
            const std::span<const uint8_t> xmp = XmpOfSegment(p);
            header.xmp.assign(xmp.begin(), xmp.end());
        }
        if (marker == 0xED && IsIrbSegment(p))
            resources.insert(resources.end(), p.begin() + long(kIrbSignatureSize), p.end());
        if (marker == 0xE2 && p.size() >= 14 && std::memcmp(p.data(), kIccSignature, 12) == 0) {
            if (count != 0 && count != p[13]) header.iccBroken = true;
            count = p[13];
            pieces.emplace_back(p[12], p.subspan(14));
        }
        if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE)
            header.progressive = true;
    });
    std::sort(pieces.begin(), pieces.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].first != int(i) + 1) header.iccBroken = true;
        header.icc.insert(header.icc.end(), pieces[i].second.begin(), pieces[i].second.end());
    }
    if (!pieces.empty() && int(pieces.size()) != count) header.iccBroken = true;
    header.iptc = IptcOfResources(resources);
    return read;
}

namespace {

// The transform that shows a picture stored with EXIF orientation `o` upright.
int TurnOf(int32_t o) {
    switch (o) {
        case 2: return TJXOP_HFLIP;
        case 3: return TJXOP_ROT180;
        case 4: return TJXOP_VFLIP;
        case 5: return TJXOP_TRANSPOSE;
        case 6: return TJXOP_ROT90;
        case 7: return TJXOP_TRANSVERSE;
        case 8: return TJXOP_ROT270;
        default: return TJXOP_NONE;
    }
}

// Whether the turn keeps every block whole: a partial block column (row)
// may stay only where the turned picture ends on the right (at the bottom).
bool TurnIsPerfect(int op, int width, int height, int subsamp) {
    const bool wholeWidth = width % tjMCUWidth[subsamp] == 0;
    const bool wholeHeight = height % tjMCUHeight[subsamp] == 0;
    switch (op) {
        case TJXOP_HFLIP: case TJXOP_ROT270: return wholeWidth;
        case TJXOP_VFLIP: case TJXOP_ROT90: return wholeHeight;
        case TJXOP_ROT180: case TJXOP_TRANSVERSE: return wholeWidth && wholeHeight;
        default: return true;
    }
}

// `out` with its EXIF segment replaced by `exif` (the same length or less).
void ReplaceExif(std::vector<uint8_t>& out, std::span<const uint8_t> exif) {
    size_t start = 0, payload = 0;
    ForEachSegment(out, [&](uint8_t marker, size_t at, std::span<const uint8_t> p) {
        if (start == 0 && marker == 0xE1 && p.size() > 6 &&
            std::memcmp(p.data(), "Exif\0\0", 6) == 0) {
            start = at;
            payload = p.size();
        }
    });
    if (start == 0 || exif.size() + 6 > payload) return;
    std::vector<uint8_t> segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment[2] = uint8_t((exif.size() + 8) >> 8);
    segment[3] = uint8_t(exif.size() + 8);
    segment.insert(segment.end(), exif.begin(), exif.end());
    // The old segment: its marker, fill bytes and the 2-byte length, then its payload.
    size_t m = start + 1;
    while (out[m] == 0xFF) ++m;
    const size_t end = m + 3 + payload;
    out.erase(out.begin() + long(start), out.begin() + long(end));
    out.insert(out.begin() + long(start), segment.begin(), segment.end());
}

struct TjClose {
    void operator()(void* h) const { tjDestroy(h); }
};

}  // namespace

bool JpegLossless(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note) {
    JpegHeader header;
    if (!ReadJpegHeader(in, header)) {
        note = "the JPEG's segments are damaged";
        return false;
    }
    if (!header.icc.empty() && steps.strip) {
        note = "--strip turns a picture with a colour profile into sRGB";
        return false;
    }
    if (!header.icc.empty() && (header.iccBroken || !ProfileSound(header.icc))) {
        note = "the JPEG's colour profile is damaged";
        return false;
    }
    const std::unique_ptr<void, TjClose> tj(tjInitTransform());
    int width = 0, height = 0, subsamp = 0, space = 0;
    if (!tj || tjDecompressHeader3(tj.get(), in.data(), in.size(), &width, &height, &subsamp,
                                   &space) != 0 ||
        subsamp < 0 || subsamp >= TJ_NUMSAMP) {
        note = "the JPEG's sampling cannot be turned without decoding it";
        return false;
    }
    const int32_t stored = header.exif.empty() ? 0 : ExifOrientation(header.exif);
    tjtransform xform {};
    xform.op = steps.upright ? TurnOf(stored) : TJXOP_NONE;
    xform.options = TJXOPT_PERFECT | (steps.strip ? TJXOPT_COPYNONE : 0) |
                    (header.progressive && !steps.sequential ? TJXOPT_PROGRESSIVE : 0);
    const bool perfect = TurnIsPerfect(xform.op, width, height, subsamp);
    if (!perfect && !steps.trimEdges) {
        note = "its size is not a whole number of blocks, so a turn by the coefficients would "
               "move the edge (--lossless-trim cuts the edge off instead)";
        return false;
    }
    if (!perfect) xform.options = (xform.options & ~TJXOPT_PERFECT) | TJXOPT_TRIM;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    // A warning (data cut short, a bad code) means pixels the copy would lose.
    const int rc = tjTransform(tj.get(), in.data(), in.size(), 1, &buffer, &size, &xform,
                               TJFLAG_STOPONWARNING);
    const std::unique_ptr<unsigned char, decltype(&tjFree)> owned(buffer, &tjFree);
    if (rc != 0 || !buffer) {
        note = std::string("the coefficients could not be copied: ") + tjGetErrorStr2(tj.get());
        return false;
    }
    out.assign(buffer, buffer + size);
    int newWidth = 0, newHeight = 0;
    if (tjDecompressHeader3(tj.get(), out.data(), out.size(), &newWidth, &newHeight, &subsamp,
                            &space) != 0) {
        note = "the copied coefficients do not read back";
        return false;
    }
    if (!header.exif.empty() && !steps.strip) {
        const std::vector<uint8_t> sound = ExifWithoutBadOrientation(header.exif);
        ReplaceExif(out, ExifFitted(sound, xform.op == TJXOP_NONE ? 0 : 1, uint32_t(newWidth),
                                    uint32_t(newHeight)));
    }
    note.clear();
    if (xform.op != TJXOP_NONE) note = perfect ? "turned upright" : "turned upright, edge trimmed";
    if (steps.strip) note += note.empty() ? "metadata left out" : ", metadata left out";
    return true;
}

}  // namespace vx::jpeg
