#include "core/vx_image.h"
#include "core/vx_row_index.h"
#include "core/vx_frames.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vx {

void CopyTextUtf8(char* dst, size_t cap, const char* text) {
    if (!dst || cap == 0) return;
    if (!text) text = "";
    size_t n = strnlen(text, cap - 1);
    if (text[n] != '\0') {
        // Cut inside the text: step back over continuation bytes, then drop the
        // lead byte too if its sequence would not fit whole.
        size_t cut = n;
        while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
        n = cut;
    }
    std::memcpy(dst, text, n);
    dst[n] = '\0';
}

}  // namespace vx

namespace {

constexpr double kInchesPerMetre = 39.37007874015748;

uint32_t RoundBpp(uint32_t bpp) {
    if (bpp <= 1) return 1;
    if (bpp <= 4) return 4;
    if (bpp <= 8) return 8;
    return 24;
}

}  // namespace

// ---------------------------------------------------------------------------
// construction

VxImage::VxImage(uint32_t imagetype) { Startup(imagetype); }

VxImage::VxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imagetype) {
    Startup(imagetype);
    Create(width, height, bpp, imagetype);
}

VxImage::VxImage(const VxImage& src, bool copypixels, bool copyselection, bool copyalpha) {
    Startup(src.GetType());
    Copy(src, copypixels, copyselection, copyalpha);
}

VxImage::VxImage(const VxImage& src) {
    Startup(src.GetType());
    Copy(src, true, true, true);
}

VxImage::VxImage(const char* filename, uint32_t type) {
    Startup(type);
    Load(filename, type);
}

VxImage::VxImage(FILE* fp, uint32_t type) {
    Startup(type);
    Decode(fp, type);
}

VxImage::VxImage(VxFile* file, uint32_t type) {
    Startup(type);
    Decode(file, type);
}

VxImage::VxImage(uint8_t* buffer, uint32_t size, uint32_t type) {
    Startup(type);
    Decode(buffer, size, type);
}

VxImage::~VxImage() { Destroy(); }

VxImage& VxImage::operator=(const VxImage& src) {
    if (this != &src) Copy(src, true, true, true);
    return *this;
}

void VxImage::Startup(uint32_t imagetype) {
    Dib = nullptr;
    Selection = nullptr;
    Alpha = nullptr;
    Layers = nullptr;
    Header = BITMAPINFOHEADER{};
    Info = ImageInfo::Fresh();
    Info.Type = imagetype;
    SetXDPI(96);
    SetYDPI(96);
}

bool VxImage::BlockFits(uint64_t width, uint64_t height, uint32_t bpp) {
    // The header's 32-bit size fields must be able to describe the block, and
    // signed width/height must stay positive.
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return false;
    bpp = RoundBpp(bpp);
    const uint64_t stride = (width * bpp + 31) / 32 * 4;
    const uint64_t colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    const uint64_t total = kBitmapInfoHeaderBytes + 4 * colors + stride * height;
    return total <= 0xFFFFFFF0ull && width * height * bpp / 256 <= 256000000ull;
}

void* VxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imagetype) {
    if (!Destroy()) return nullptr;
    if (width == 0 || height == 0) {
        SetLastError("创建图像对象: 高度和宽度必须大于零");
        return nullptr;
    }
    bpp = RoundBpp(bpp);
    if (!BlockFits(width, height, bpp)) {
        SetLastError(kVxBlockTooLarge);
        return nullptr;
    }
    const uint64_t stride = (uint64_t(width) * bpp + 31) / 32 * 4;
    const uint32_t colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    const uint64_t total = kBitmapInfoHeaderBytes + 4ull * colors + stride * height;

    Info.Type = imagetype;
    Info.EffWidth = uint32_t(stride);
    Header.biSize = 40;
    Header.biWidth = int32_t(width);
    Header.biHeight = int32_t(height);
    Header.biPlanes = 1;
    Header.biBitCount = uint16_t(bpp);
    Header.biCompression = 0;
    Header.biSizeImage = uint32_t(stride * height);
    Header.biClrUsed = colors;
    Header.biClrImportant = 0;

    // Zero-filled: no heap contents can ever reach an output file.
    Dib = static_cast<uint8_t*>(std::calloc(1, size_t(total)));
    if (!Dib) {
        SetLastError("创建图像对象: 申请不到内存");
        return nullptr;
    }
    Info.LastNearestValid = false;
    Info.Deep.reset();
    SelectionDelete();
    AlphaDelete();
    SyncHeaderToDib();
    Info.Image = GetBits(0);
    return Dib;
}

bool VxImage::AnswerDimensions(uint32_t type, uint64_t width, uint64_t height, uint32_t bpp) {
    // The bit pattern of a side past 2^31 survives: GetWidth reads it unsigned.
    Header.biWidth = int32_t(uint32_t(std::min<uint64_t>(width, UINT32_MAX)));
    Header.biHeight = int32_t(uint32_t(std::min<uint64_t>(height, UINT32_MAX)));
    Header.biBitCount = uint16_t(RoundBpp(bpp));
    Info.Type = type;
    return true;
}

bool VxImage::Destroy() {
    if (Info.GhostOf) return false;
    if (Layers) {
        for (int32_t i = 0; i < Info.NumLayers; ++i) delete Layers[i];
        std::free(Layers);
        Layers = nullptr;
        Info.NumLayers = 0;
    }
    std::free(Selection);
    Selection = nullptr;
    std::free(Alpha);
    Alpha = nullptr;
    std::free(Dib);
    Dib = nullptr;
    Info.Image = nullptr;
    return true;
}

void VxImage::SyncHeaderToDib() {
    if (Dib) vx::StoreInfoHeader(Dib, Header);
}

// ---------------------------------------------------------------------------
// copying and moving

void VxImage::Copy(const VxImage& src, bool copypixels, bool copyselection, bool copyalpha) {
    if (Info.GhostOf) return;
    Info = src.Info;
    Info.GhostOf = nullptr;
    Info.NumLayers = 0;  // layers are not copied; the count must match our array
    Info.Image = nullptr;
    if (!src.Dib) {
        Destroy();
        Header = src.Header;
        return;
    }
    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType())) return;
    if (copypixels && Dib && src.Dib) {
        std::memcpy(Dib, src.Dib, GetSize());
        Header = src.Header;
        Info.Deep = src.Info.Deep;
    } else {
        SetPalette(src.GetPalette(), 256);
        Header.biXPelsPerMeter = src.Header.biXPelsPerMeter;
        Header.biYPelsPerMeter = src.Header.biYPelsPerMeter;
        Header.biClrImportant = src.Header.biClrImportant;
        SyncHeaderToDib();
    }
    CopyPlanes(src, copyselection, copyalpha);
}

void VxImage::CopyPlanes(const VxImage& src, bool selection, bool alpha) {
    const size_t plane = size_t(GetWidth()) * GetHeight();
    auto copy = [plane](uint8_t*& dst, const uint8_t* from) {
        std::free(dst);
        dst = static_cast<uint8_t*>(std::malloc(plane));
        if (dst) std::memcpy(dst, from, plane);
    };
    if (selection && src.Selection) copy(Selection, src.Selection);
    if (alpha && src.Alpha) copy(Alpha, src.Alpha);
}

void VxImage::CopyInfo(const VxImage& src) {
    if (Dib) return;
    Info = src.Info;
    Info.GhostOf = nullptr;
    Info.Image = nullptr;
    Info.NumLayers = 0;
}

bool VxImage::Transfer(VxImage& from) {
    if (&from == this) return true;
    if (!Destroy()) return false;
    ShareFrom(from);
    from.Header = BITMAPINFOHEADER{};
    from.Info = ImageInfo{};
    from.Dib = nullptr;
    from.Selection = nullptr;
    from.Alpha = nullptr;
    from.Layers = nullptr;
    return true;
}

void VxImage::Ghost(VxImage* from) {
    if (!from) return;
    ShareFrom(*from);
    Info.GhostOf = from;
}

void VxImage::ShareFrom(const VxImage& from) {
    Header = from.Header;
    Info = from.Info;
    Dib = from.Dib;
    Selection = from.Selection;
    Alpha = from.Alpha;
    Layers = from.Layers;
}

// ---------------------------------------------------------------------------
// accessors

uint32_t VxImage::GetSize() const {
    return Header.biSize + Header.biSizeImage + GetPaletteSize();
}

void VxImage::SetLastError(const char* text) {
    vx::CopyTextUtf8(Info.LastError, sizeof(Info.LastError), text);
}

// A file may claim any resolution; pels per metre stop at what 32 bits hold.
static int32_t PelsPerMetre(int32_t dpi) {
    const double v = double(dpi) * kInchesPerMetre + 0.5;
    return v >= 2147483647.0 ? INT32_MAX : int32_t(v);
}

void VxImage::SetXDPI(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    Info.XDPI = dpi;
    Header.biXPelsPerMeter = PelsPerMetre(dpi);
}

void VxImage::SetYDPI(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    Info.YDPI = dpi;
    Header.biYPelsPerMeter = PelsPerMetre(dpi);
}

void VxImage::GetOffset(int32_t* x, int32_t* y) const {
    if (x) *x = Info.XOffset;
    if (y) *y = Info.YOffset;
}

void VxImage::SetOffset(int32_t x, int32_t y) {
    Info.XOffset = x;
    Info.YOffset = y;
}

void VxImage::SetFlags(uint32_t flags, bool lockReservedFlags) {
    Info.Flags = lockReservedFlags ? (flags & 0xFFFF) : flags;
}

void VxImage::SetClrImportant(uint32_t n) {
    if (n == 0 || n > 256) {
        Header.biClrImportant = 0;
        return;
    }
    switch (Header.biBitCount) {
        case 1: Header.biClrImportant = std::min<uint32_t>(n, 2); break;
        case 4: Header.biClrImportant = std::min<uint32_t>(n, 16); break;
        case 8: Header.biClrImportant = n; break;
        default: break;
    }
}

uint8_t VxImage::GetColorType() const {
    if (Alpha) return 4;
    return Header.biBitCount > 8 ? 2 : 1;
}

RGBQUAD VxImage::GetTransColor() const {
    if (Header.biBitCount < 24 && Info.TransIndex != -1)
        return GetPaletteColor(uint8_t(Info.TransIndex));
    return Info.TransColor;
}

void VxImage::SetTransColor(RGBQUAD c) {
    c.rgbReserved = 0;
    Info.TransColor = c;
}

uint32_t VxImage::GetCodecOption(uint32_t format) const {
    if (format == 0) format = GetType();
    if (format >= kVxFormatCount) return 0;
    return Info.CodecOption[format];
}

bool VxImage::SetCodecOption(uint32_t option, uint32_t format) {
    if (format == 0) format = GetType();
    if (format >= kVxFormatCount) return false;
    Info.CodecOption[format] = option;
    return true;
}

uint8_t* VxImage::GetBits(uint32_t row) const {
    if (!Dib) return nullptr;
    uint8_t* first = Dib + vx::LoadLE32(Dib) + GetPaletteSize();
    if (row == 0) return first;
    if (row < GetHeight()) return first + size_t(row) * Info.EffWidth;
    return nullptr;
}

bool VxImage::IsInside(int32_t x, int32_t y) const {
    return y >= 0 && y < Header.biHeight && x >= 0 && x < Header.biWidth;
}

void VxImage::Clear(uint8_t value) {
    if (!Dib) return;
    if (Header.biBitCount == 1 && value) value = 0xFF;
    else if (Header.biBitCount == 4) value = uint8_t((value & 0x0F) * 17);
    std::memset(GetBits(0), value, Header.biSizeImage);
}

// ---------------------------------------------------------------------------
// palette

RGBQUAD* VxImage::GetPalette() const {
    if (!Dib || Header.biClrUsed == 0) return nullptr;
    return reinterpret_cast<RGBQUAD*>(Dib + vx::LoadLE32(Dib));
}

RGBQUAD VxImage::GetPaletteColor(uint8_t i) const {
    RGBQUAD* pal = GetPalette();
    if (!pal || i >= Header.biClrUsed) return RGBQUAD{};
    return pal[i];
}

bool VxImage::GetPaletteColor(uint8_t i, uint8_t* r, uint8_t* g, uint8_t* b) const {
    RGBQUAD* pal = GetPalette();
    if (!pal || i >= Header.biClrUsed) return false;
    if (r) *r = pal[i].rgbRed;
    if (g) *g = pal[i].rgbGreen;
    if (b) *b = pal[i].rgbBlue;
    return true;
}

void VxImage::SetPaletteColor(uint8_t i, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha) {
    RGBQUAD* pal = GetPalette();
    if (!pal || i >= Header.biClrUsed) return;
    pal[i] = vx::MakeRGBQUAD(r, g, b, alpha);
    Info.LastNearestValid = false;
}

void VxImage::SetPaletteColor(uint8_t i, RGBQUAD c) {
    RGBQUAD* pal = GetPalette();
    if (!pal || i >= Header.biClrUsed) return;
    pal[i] = c;
    Info.LastNearestValid = false;
}

void VxImage::SetPaletteColor(uint8_t i, COLORREF c) {
    SetPaletteColor(i, uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0);
}

void VxImage::SetPalette(const RGBQUAD* pal, uint32_t n) {
    RGBQUAD* dst = GetPalette();
    if (!pal || !dst) return;
    const size_t bytes = std::min<size_t>(size_t(n) * 4, GetPaletteSize());
    std::memmove(dst, pal, bytes);
    Info.LastNearestValid = false;
}

void VxImage::SetPalette(uint32_t n, const uint8_t* r, const uint8_t* g, const uint8_t* b) {
    RGBQUAD* dst = GetPalette();
    if (!dst || !r) return;
    if (!g) g = r;
    if (!b) b = g;
    const uint32_t m = std::min(n, Header.biClrUsed);
    for (uint32_t i = 0; i < m; ++i) {
        dst[i].rgbRed = r[i];
        dst[i].rgbGreen = g[i];
        dst[i].rgbBlue = b[i];
    }
    Info.LastNearestValid = false;
}

void VxImage::SetPalette(const rgb_color* rgb, uint32_t n) {
    RGBQUAD* dst = GetPalette();
    if (!dst || !rgb) return;
    const uint32_t m = std::min(n, Header.biClrUsed);
    for (uint32_t i = 0; i < m; ++i) {
        dst[i].rgbRed = rgb[i].r;
        dst[i].rgbGreen = rgb[i].g;
        dst[i].rgbBlue = rgb[i].b;
    }
    Info.LastNearestValid = false;
}

void VxImage::SetGrayPalette() {
    RGBQUAD* pal = GetPalette();
    if (!pal) return;
    const uint32_t n = Header.biClrUsed;
    const uint32_t step = n > 1 ? 255 / (n - 1) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(i * step);
        pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = v;
    }
    Info.LastNearestValid = false;
}

bool VxImage::IsGrayScale() const {
    RGBQUAD* pal = GetPalette();
    if (!pal) return false;
    for (uint32_t i = 0; i < Header.biClrUsed; ++i) {
        if (pal[i].rgbRed != i || pal[i].rgbGreen != i || pal[i].rgbBlue != i) return false;
    }
    return true;
}

bool VxImage::IsBlackAndWhite() const {
    RGBQUAD* pal = GetPalette();
    if (!pal || Header.biBitCount != 1) return false;
    auto level = [](const RGBQUAD& c) {
        return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue &&
                       (c.rgbRed == 0 || c.rgbRed == 255)
                   ? c.rgbRed
                   : -1;
    };
    const int a = level(pal[0]), b = level(pal[1]);
    return a >= 0 && b >= 0 && a != b;
}

bool VxImage::IsSamePalette(const VxImage& other, bool checkAlpha) const {
    RGBQUAD* a = GetPalette();
    RGBQUAD* b = other.GetPalette();
    if (!a || !b || Header.biClrUsed != other.Header.biClrUsed) return false;
    for (uint32_t i = 0; i < Header.biClrUsed; ++i) {
        if (a[i].rgbRed != b[i].rgbRed || a[i].rgbGreen != b[i].rgbGreen ||
            a[i].rgbBlue != b[i].rgbBlue)
            return false;
        if (checkAlpha && a[i].rgbReserved != b[i].rgbReserved) return false;
    }
    return true;
}

uint8_t VxImage::GetNearestIndex(RGBQUAD c) {
    RGBQUAD* pal = GetPalette();
    if (!pal) return 0;
    if (Info.LastNearestValid && Info.LastNearestColor == c) return Info.LastNearestIndex;
    Info.LastNearestColor = c;
    Info.LastNearestValid = true;
    const uint32_t m = Header.biClrImportant ? std::min(Header.biClrImportant, Header.biClrUsed)
                                             : Header.biClrUsed;
    int32_t best = 200000;
    uint8_t bestIndex = 0;
    for (uint32_t i = 0; i < m; ++i) {
        const int32_t dr = int32_t(pal[i].rgbRed) - c.rgbRed;
        const int32_t dg = int32_t(pal[i].rgbGreen) - c.rgbGreen;
        const int32_t db = int32_t(pal[i].rgbBlue) - c.rgbBlue;
        const int32_t d = dr * dr + dg * dg + db * db;
        if (d == 0) {
            bestIndex = uint8_t(i);
            break;
        }
        if (d < best) {
            best = d;
            bestIndex = uint8_t(i);
        }
    }
    Info.LastNearestIndex = bestIndex;
    return bestIndex;
}

// ---------------------------------------------------------------------------
// pixels

uint8_t VxImage::BlindGetPixelIndex(int32_t x, int32_t y) const {
    return vx::RowIndex(Info.Image + size_t(y) * Info.EffWidth, Header.biBitCount, x);
}

void VxImage::BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i) {
    vx::SetRowIndex(Info.Image + size_t(y) * Info.EffWidth, Header.biBitCount, x, i);
}

RGBQUAD VxImage::BlindGetPixelColor(int32_t x, int32_t y) const {
    if (Header.biClrUsed) return GetPalette()[BlindGetPixelIndex(x, y)];
    const uint8_t* p = Info.Image + size_t(y) * Info.EffWidth + size_t(x) * 3;
    RGBQUAD c = vx::MakeRGBQUAD(p[2], p[1], p[0], 0);
    if (Alpha) c.rgbReserved = Alpha[size_t(y) * Header.biWidth + x];
    return c;
}

uint8_t* VxImage::BlindGetPixelPointer(int32_t x, int32_t y) const {
    if (Header.biClrUsed) return nullptr;
    return Info.Image + size_t(y) * Info.EffWidth + size_t(x) * 3;
}

uint8_t VxImage::GetPixelIndex(int32_t x, int32_t y) const {
    if (!Dib || Header.biClrUsed == 0) return 0;
    if (!IsInside(x, y)) {
        if (Info.TransIndex != -1) return uint8_t(Info.TransIndex);
        return *GetBits(0);
    }
    return BlindGetPixelIndex(x, y);
}

void VxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t i) {
    if (!Dib || Header.biClrUsed == 0 || !IsInside(x, y)) return;
    BlindSetPixelIndex(x, y, i);
}

RGBQUAD VxImage::GetPixelColor(int32_t x, int32_t y, bool getAlpha) const {
    if (!Dib || !IsInside(x, y)) {
        if (Info.TransIndex == -1) {
            if (Dib) return GetPixelColor(0, 0, getAlpha);
            return Info.TransColor;
        }
        if (Header.biBitCount < 24) return GetPaletteColor(uint8_t(Info.TransIndex));
        return Info.TransColor;
    }
    RGBQUAD c;
    if (Header.biClrUsed) {
        c = GetPalette()[BlindGetPixelIndex(x, y)];
    } else {
        const uint8_t* p = BlindGetPixelPointer(x, y);
        c = vx::MakeRGBQUAD(p[2], p[1], p[0], Info.TransColor.rgbReserved);
    }
    if (Alpha && getAlpha) c.rgbReserved = Alpha[size_t(y) * Header.biWidth + x];
    return c;
}

void VxImage::SetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool setAlpha) {
    if (!Dib || !IsInside(x, y)) return;
    if (Header.biClrUsed) {
        BlindSetPixelIndex(x, y, GetNearestIndex(c));
    } else {
        uint8_t* p = BlindGetPixelPointer(x, y);
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
    if (setAlpha) AlphaSet(x, y, c.rgbReserved);
}

void VxImage::SetPixelColor(int32_t x, int32_t y, COLORREF c) {
    SetPixelColor(x, y, RGBtoRGBQUAD(c), false);
}

uint8_t VxImage::GetPixelGray(int32_t x, int32_t y) const {
    const RGBQUAD c = GetPixelColor(x, y);
    return uint8_t((c.rgbGreen * 601 + c.rgbRed * 306 + c.rgbBlue * 117) >> 10);
}

RGBQUAD VxImage::RGBtoRGBQUAD(COLORREF c) {
    return vx::MakeRGBQUAD(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0);
}

COLORREF VxImage::RGBQUADtoRGB(RGBQUAD c) {
    return COLORREF(c.rgbRed) | (COLORREF(c.rgbGreen) << 8) | (COLORREF(c.rgbBlue) << 16);
}

bool VxImage::TakePagesAsFrames(VxImage** pages, int32_t count, const char* format) {
    VxFramesRef frames = vx::FramesFromPages(pages, count);
    if (!frames) {
        SetLastError((std::string(format) + ": an animation needs pictures of one size").c_str());
        return false;
    }
    Ghost(pages[0]);
    SetAnimation(std::move(frames));
    return true;
}
