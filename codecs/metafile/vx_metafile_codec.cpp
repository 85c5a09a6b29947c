#include "codecs/metafile/vx_metafile_codec.h"

#include <cstring>

#include "codecs/metafile/mf_canvas.h"
#include "codecs/metafile/mf_play.h"
#include "codecs/metafile/mf_player.h"

namespace {

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr size_t kEmfHeaderMin = 88;

const char kDamaged[] = "损坏的WMF";
const char kCancelled[] = "用户取消";
const char kEmpty[] = "空的WMF";
const char kNoSave[] = "不支持保存WMF";

}  // namespace

void VxMetafileCodec::ScaleExtents(int32_t* x, int32_t* y) {
    if (*x >= 6554) return;
    // A zero or negative extent never grows; positive ones need at most four steps.
    for (int i = 0; i < 5 && *y < 6554 && *x > 0 && *y > 0; ++i) {
        *x *= 10;
        *y *= 10;
        if (*x >= 6554) break;
    }
}

void VxMetafileCodec::LimitSize(int32_t* width, int32_t* height) {
    if (*width > kMaxSide) {
        *height = int32_t(int64_t(*height) * kMaxSide / *width);
        *width = kMaxSide;
    }
    if (*height > kMaxSide) {
        *width = int32_t(int64_t(*width) * kMaxSide / *height);
        *height = kMaxSide;
    }
}

bool VxMetafileCodec::LoadWindowsMetafile(VxFile* fp, Loaded& out) {
    const int64_t size = fp->Size64();
    const int64_t start = fp->Tell64();
    uint8_t ph[22];
    for (int i = 0; i < 22; ++i) {
        const int32_t c = fp->GetC();
        if (c < 0) return false;
        ph[i] = uint8_t(c);
    }
    if (!IsPlaceableHeader(ph)) return false;
    uint8_t mh[18];
    if (fp->Read(mh, 1, sizeof(mh)) != sizeof(mh)) return false;
    const uint16_t type = vx::LoadLE16(mh);
    if (type != 1 && type != 2) return false;
    const uint64_t body = uint64_t(vx::LoadLE32(mh + 6)) * 2;
    // The body must at least hold its own header, and no more than the stream.
    if (body < sizeof(mh) || size < 0 || body > uint64_t(size)) return false;

    out.enhanced = false;
    out.left = int16_t(vx::LoadLE16(ph + 6));
    out.top = int16_t(vx::LoadLE16(ph + 8));
    out.right = int16_t(vx::LoadLE16(ph + 10));
    out.bottom = int16_t(vx::LoadLE16(ph + 12));
    out.unitsPerInch = vx::LoadLE16(ph + 14);
    out.xExt = (int32_t(out.right) - out.left) * kScreenDpi / out.unitsPerInch;
    out.yExt = (int32_t(out.bottom) - out.top) * kScreenDpi / out.unitsPerInch;
    ScaleExtents(&out.xExt, &out.yExt);
    // The placeable header holds the size: the records are for playing.
    if (DimensionsOnly()) return true;
    try {
        out.bytes.resize(size_t(body));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!fp->Seek64(start + 22, SEEK_SET)) return false;
    return fp->Read(out.bytes.data(), 1, out.bytes.size()) == out.bytes.size();
}

bool VxMetafileCodec::LoadEnhancedMetafile(VxFile* fp, Loaded& out) {
    const int64_t start = fp->Tell64();
    const int64_t size = fp->Size64();
    if (start < 0 || size < start || uint64_t(size - start) > SIZE_MAX) return false;
    const size_t length = size_t(size - start);
    if (length < kEmfHeaderMin) return false;
    // Check the header before taking the whole stream into memory.
    uint8_t head[kEmfHeaderMin];
    if (fp->Read(head, 1, sizeof(head)) != sizeof(head)) return false;
    const uint32_t headerSize = vx::LoadLE32(head + 4);
    if (vx::LoadLE32(head) != 1 || vx::LoadLE32(head + 40) != kEmfSignature ||
        headerSize < kEmfHeaderMin || headerSize > length)
        return false;
    out.enhanced = true;
    out.boundsLeft = int32_t(vx::LoadLE32(head + 8));
    out.boundsTop = int32_t(vx::LoadLE32(head + 12));
    out.boundsRight = int32_t(vx::LoadLE32(head + 16));
    out.boundsBottom = int32_t(vx::LoadLE32(head + 20));
    if (DimensionsOnly()) return true;
    try {
        out.bytes.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(out.bytes.data(), head, sizeof(head));
    const size_t rest = length - sizeof(head);
    return fp->Read(out.bytes.data() + sizeof(head), 1, rest) == rest;
}

bool VxMetafileCodec::Decode(VxFile* fp, int32_t maxWidth, int32_t maxHeight) {
    if (!fp) return false;
    const int64_t start = fp->Tell64();
    Loaded mf;
    int64_t width, height;
    if (LoadWindowsMetafile(fp, mf)) {
        width = (int64_t(mf.right) - mf.left) * kScreenDpi / mf.unitsPerInch;
        height = (int64_t(mf.bottom) - mf.top) * kScreenDpi / mf.unitsPerInch;
    } else {
        mf = Loaded{};
        fp->Seek64(start, SEEK_SET);
        if (!LoadEnhancedMetafile(fp, mf)) {
            SetLastError(kDamaged);
            return false;
        }
        width = int64_t(mf.boundsRight) - mf.boundsLeft;
        height = int64_t(mf.boundsBottom) - mf.boundsTop;
    }
    if (Cancelled()) {
        SetLastError(kCancelled);
        return false;
    }
    if (maxWidth) width = maxWidth;
    if (maxHeight) height = maxHeight;
    // A reversed box has no area either; it must not reach the allocator as a huge size.
    if (width <= 0 || height <= 0) {
        SetLastError(kEmpty);
        return false;
    }
    // LimitSize works on 32-bit sizes: bring wide EMF bounds into range first, keeping the ratio.
    while (width > INT32_MAX / kMaxSide || height > INT32_MAX / kMaxSide) {
        width = width / 2 + 1;
        height = height / 2 + 1;
    }
    int32_t w = int32_t(width), h = int32_t(height);
    LimitSize(&w, &h);
    if (w <= 0 || h <= 0) {
        SetLastError(kEmpty);
        return false;
    }

    if (DimensionsOnly()) return AnswerDimensions(VX_FORMAT_WMF, uint32_t(w), uint32_t(h), 24);
    if (!PictureFits(uint32_t(w), uint32_t(h), 24)) return false;
    vx::mf::Canvas canvas;
    if (!canvas.Init(w, h, 0xFFFFFF)) return false;  // the system window colour
    {
        vx::mf::Player player(canvas);
        if (mf.enhanced) {
            vx::mf::PlayEmf(player, mf.bytes.data(), mf.bytes.size(), w, h);
        } else {
            vx::mf::WmfFrame frame{mf.left, mf.top, mf.right, mf.bottom, mf.unitsPerInch};
            vx::mf::PlayWmf(player, mf.bytes.data(), mf.bytes.size(), frame, w, h);
        }
    }
    if (Cancelled()) {
        SetLastError(kCancelled);
        return false;
    }
    if (!Create(uint32_t(w), uint32_t(h), 24, VX_FORMAT_WMF)) return false;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = canvas.Row(h - 1 - y);
        uint8_t* dst = GetBits(uint32_t(y));
        for (int32_t x = 0; x < w; ++x) {
            // cairo's RGB24 is a native 32-bit word 0x??RRGGBB.
            uint32_t v;
            std::memcpy(&v, src + 4 * x, 4);
            dst[3 * x] = uint8_t(v);
            dst[3 * x + 1] = uint8_t(v >> 8);
            dst[3 * x + 2] = uint8_t(v >> 16);
        }
    }
    return true;
}

bool VxMetafileCodec::Encode(VxFile* fp) {
    if (!fp) return false;
    SetLastError(kNoSave);
    return false;
}
