// The in-memory picture: one packed bottom-up DIB block plus per-image settings.
// Every codec derives from VxImage and adds Decode/Encode.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_file.h"
#include "core/vx_format.h"
#include "core/vx_frames.h"
#include "core/vx_metadata.h"
#include "core/vx_types.h"

// The picture limit a decoder applies unless told otherwise: 256 megapixels.
constexpr uint64_t kVxDefaultMaxPixels = uint64_t(1) << 28;
// Bytes a pixel at the limit may take in a decoder's band or strip buffer.
constexpr uint32_t kVxLimitBytesPerPixel = 4;
// Create's text for a block its 32-bit size fields cannot describe.
inline constexpr char kVxBlockTooLarge[] = "超过规定的图像数据占用的内存大小";

struct ImageInfo {
    uint32_t EffWidth = 0;
    uint8_t* Image = nullptr;
    class VxImage* GhostOf = nullptr;
    class VxImage* Parent = nullptr;
    uint32_t Type = 0;
    char LastError[256] = {};
    int32_t Progress = 0;
    int32_t Escape = 0;
    int32_t TransIndex = 0;
    RGBQUAD TransColor;
    uint8_t JpegQuality = 0;
    uint8_t JpegScale = 0;
    int32_t Frame = 0;
    int32_t NumFrames = 0;
    uint32_t FrameDelay = 0;
    int32_t XDPI = 0;
    int32_t YDPI = 0;
    VxRect SelectionBox;
    uint8_t AlphaMax = 0;
    bool AlphaPaletteEnabled = false;
    bool Enabled = false;
    int32_t XOffset = 0;
    int32_t YOffset = 0;
    uint32_t CodecOption[kVxFormatCount] = {};
    RGBQUAD LastNearestColor;
    uint8_t LastNearestIndex = 0;
    bool LastNearestValid = false;
    int32_t NumLayers = 0;
    uint32_t Flags = 0;
    // EXIF orientation of the decoded file (1 to 8; 0 when it gave none).
    int32_t Orientation = 0;
    // Colour profile and EXIF block of the decoded file (null: none).
    VxMetadataRef Meta;
    // Samples deeper than the block's 8 bits (core/vx_deep.h; null: none).
    VxDeepRef Deep;
    uint64_t MaxPixels = kVxDefaultMaxPixels;  // 0: no limit
    // Decoders that can tell a file cut short keep what it holds instead of
    // refusing it.
    bool AllowTruncated = false;
    // Threads a codec may use for this picture, its caller's included; 0 and
    // 1: the caller's alone. Only work whose bytes do not depend on it is
    // shared out.
    uint32_t Threads = 0;
    // A cancel another thread may raise while a decode or encode runs; codec
    // objects share it with the image they work for (Escape is copied).
    const std::atomic<int32_t>* CancelRequest = nullptr;
    // Called as a long decode goes from one piece to the next (the pieces a
    // library is fed, its tiles), just before the cancel flag is polled there.
    void (*OnPiece)(void* context) = nullptr;
    void* PieceContext = nullptr;
    // Every frame of an animated file (core/vx_frames.h), read only when
    // WantAnimation asks; null for a still picture.
    VxFramesRef Animation;
    bool WantAnimation = false;
    // With WantAnimation, the pages of a paged file (TIFF) are read as frames
    // too; they keep their own sizes, so only targets that write pages ask.
    bool WantPages = false;
    // With WantPages, the dimensions-only answer of a paged file counts the
    // pixels of all its pages (later pages may be larger); 0: not counted.
    uint64_t PagesPixels = 0;
    // A drawing (SVG, PDF) is rendered at this size instead of its own, so
    // that a resize gets its pixels from the drawing, not from a raster of
    // it; 0 x 0: its own size.
    uint32_t RenderWidth = 0, RenderHeight = 0;

    // A new image's settings. (A value-initialised record, what Transfer
    // leaves in the image it empties, is zeros but for the picture limit.)
    static ImageInfo Fresh() {
        ImageInfo info;
        info.TransIndex = -1;
        info.JpegQuality = 90;
        info.AlphaMax = 255;
        info.Enabled = true;
        return info;
    }

    // What described one picture goes back to its default; the settings that
    // steer a decoder (Frame, JpegScale, CodecOption, MaxPixels, ...) stay.
    void ForgetPicture() {
        const ImageInfo fresh = Fresh();
        TransIndex = fresh.TransIndex;
        TransColor = fresh.TransColor;
        AlphaPaletteEnabled = fresh.AlphaPaletteEnabled;
        NumFrames = fresh.NumFrames;
        PagesPixels = fresh.PagesPixels;
        FrameDelay = fresh.FrameDelay;
        XOffset = fresh.XOffset;
        YOffset = fresh.YOffset;
        Orientation = fresh.Orientation;
        Meta.reset();
        Animation.reset();
        Deep.reset();
    }
};

class VxImage {
public:
    explicit VxImage(uint32_t imagetype = 0);
    VxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imagetype);
    VxImage(const VxImage& src, bool copypixels, bool copyselection = true, bool copyalpha = true);
    VxImage(const VxImage& src);
    VxImage(const char* filename, uint32_t type);
    VxImage(FILE* fp, uint32_t type);
    VxImage(VxFile* file, uint32_t type);
    VxImage(uint8_t* buffer, uint32_t size, uint32_t type);
    virtual ~VxImage();
    VxImage& operator=(const VxImage& src);

    // --- creation and lifetime ---
    void* Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t imagetype = 0);
    bool Destroy();
    // Whether Create can make a block of this shape (its size fields are 32-bit).
    static bool BlockFits(uint64_t width, uint64_t height, uint32_t bpp);
    bool IsValid() const { return Dib != nullptr; }

    // --- copying and moving ---
    void Copy(const VxImage& src, bool copypixels = true, bool copyselection = true,
              bool copyalpha = true);
    bool Transfer(VxImage& from);

    // --- dimensions and accessors ---
    uint32_t GetWidth() const { return uint32_t(Header.biWidth); }
    uint32_t GetHeight() const { return uint32_t(Header.biHeight); }
    uint16_t GetBpp() const { return Header.biBitCount; }
    uint32_t GetNumColors() const { return Header.biClrUsed; }
    uint32_t GetEffWidth() const { return Info.EffWidth; }
    uint32_t GetType() const { return Info.Type; }
    uint32_t GetSize() const;
    uint32_t GetPaletteSize() const { return Header.biClrUsed * 4; }
    uint8_t* GetDIB() const { return Dib; }
    const BITMAPINFOHEADER& GetHeader() const { return Header; }
    const char* GetLastError() const { return Info.LastError; }
    void SetLastError(const char* text);
    int32_t GetTransIndex() const { return Info.TransIndex; }
    void SetTransIndex(int32_t idx) { Info.TransIndex = idx; }
    uint8_t GetJpegQuality() const { return Info.JpegQuality; }
    void SetJpegQuality(uint8_t q) { Info.JpegQuality = q; }
    uint8_t GetJpegScale() const { return Info.JpegScale; }
    void SetJpegScale(uint8_t s) { Info.JpegScale = s; }
    int32_t GetProgress() const { return Info.Progress; }
    void SetProgress(int32_t p) { Info.Progress = p; }
    int32_t GetEscape() const { return Info.Escape; }
    // Escape -1 asks a decoder for the picture's size only; any other nonzero
    // value cancels.
    bool DimensionsOnly() const { return Info.Escape == -1; }
    bool Cancelled() const {
        return (Info.Escape != 0 && Info.Escape != -1) ||
               (Info.CancelRequest && Info.CancelRequest->load(std::memory_order_relaxed) != 0);
    }
    // The dimensions-only answer (core/vx_codec.h): the format, size and depth
    // the full decode would give, without pixels. Returns true.
    bool AnswerDimensions(uint32_t type, uint64_t width, uint64_t height, uint32_t bpp);
    void SetEscape(int32_t e) { Info.Escape = e; }
    // Nonzero in `*request` cancels from then on, from any thread; null for none.
    void SetCancelRequest(const std::atomic<int32_t>* request) { Info.CancelRequest = request; }
    void SetPieceHook(void (*hook)(void* context), void* context) {
        Info.OnPiece = hook;
        Info.PieceContext = context;
    }
    // Between two pieces of a long decode: the hook, then the cancel flag.
    bool CancelledBetweenPieces() const {
        if (Info.OnPiece) Info.OnPiece(Info.PieceContext);
        return Cancelled();
    }
    int32_t GetFrame() const { return Info.Frame; }
    void SetFrame(int32_t f) { Info.Frame = f; }
    int32_t GetNumFrames() const { return Info.NumFrames; }
    uint32_t GetFrameDelay() const { return Info.FrameDelay; }
    void SetFrameDelay(uint32_t d) { Info.FrameDelay = d; }
    int32_t GetXDPI() const { return Info.XDPI; }
    int32_t GetYDPI() const { return Info.YDPI; }
    void SetXDPI(int32_t dpi);
    void SetYDPI(int32_t dpi);
    void GetOffset(int32_t* x, int32_t* y) const;
    void SetOffset(int32_t x, int32_t y);
    uint32_t GetFlags() const { return Info.Flags; }
    void SetFlags(uint32_t flags, bool lockReservedFlags = true);
    bool IsEnabled() const { return Info.Enabled; }
    void Enable(bool enable = true) { Info.Enabled = enable; }
    uint32_t GetClrImportant() const { return Header.biClrImportant; }
    void SetClrImportant(uint32_t n);
    bool IsIndexed() const { return Header.biClrUsed != 0; }
    bool IsTransparent() const { return Info.TransIndex >= 0; }
    uint8_t GetColorType() const;
    RGBQUAD GetTransColor() const;
    void SetTransColor(RGBQUAD c);
    uint32_t GetCodecOption(uint32_t format = 0) const;
    bool SetCodecOption(uint32_t option, uint32_t format = 0);
    uint8_t* GetBits(uint32_t row = 0) const;
    bool IsInside(int32_t x, int32_t y) const;
    void Clear(uint8_t value = 0);
    const char* GetVersion() const { return "VxImage 1.1"; }
    float GetVersionNumber() const { return 1.1f; }
    const ImageInfo& GetInfo() const { return Info; }
    uint8_t GetAlphaMax() const { return Info.AlphaMax; }
    int32_t GetOrientation() const { return Info.Orientation; }
    void SetOrientation(int32_t o) { Info.Orientation = o; }
    // The decoded file's ICC profile and EXIF block (empty when it had none);
    // see core/vx_metadata.h. An empty span removes them.
    std::span<const uint8_t> GetIccProfile() const;
    std::span<const uint8_t> GetExif() const;
    void SetIccProfile(std::span<const uint8_t> icc) { Info.Meta = vx::WithIcc(Info.Meta, icc); }
    void SetExif(std::span<const uint8_t> exif) { Info.Meta = vx::WithExif(Info.Meta, exif); }
    // The XMP packet and IPTC records, carried as found.
    std::span<const uint8_t> GetXmp() const;
    std::span<const uint8_t> GetIptc() const;
    void SetXmp(std::span<const uint8_t> xmp) { Info.Meta = vx::WithXmp(Info.Meta, xmp); }
    void SetIptc(std::span<const uint8_t> iptc) { Info.Meta = vx::WithIptc(Info.Meta, iptc); }
    // Every frame of an animation; null when the file had one, or when not asked.
    const VxFrames* GetAnimation() const { return Info.Animation.get(); }
    const VxFramesRef& GetAnimationRef() const { return Info.Animation; }
    void SetAnimation(VxFramesRef frames) { Info.Animation = std::move(frames); }
    bool WantsAnimation() const { return Info.WantAnimation; }
    void SetWantAnimation(bool want) { Info.WantAnimation = want; }
    bool WantsPages() const { return Info.WantAnimation && Info.WantPages; }
    void SetWantPages(bool want) { Info.WantPages = want; }
    uint64_t GetPagesPixels() const { return Info.PagesPixels; }
    uint32_t GetRenderWidth() const { return Info.RenderWidth; }
    uint32_t GetRenderHeight() const { return Info.RenderHeight; }
    void SetRenderSize(uint32_t width, uint32_t height) {
        Info.RenderWidth = width;
        Info.RenderHeight = height;
    }
    // The deep samples beside the block (core/vx_deep.h); Create drops them.
    const VxDeepRef& GetDeep() const { return Info.Deep; }
    void SetDeep(VxDeepRef deep) { Info.Deep = std::move(deep); }
    // Decoders refuse pictures of more pixels than this (0: no limit).
    uint64_t GetMaxPixels() const { return Info.MaxPixels; }
    void SetMaxPixels(uint64_t pixels) { Info.MaxPixels = pixels; }
    bool GetAllowTruncated() const { return Info.AllowTruncated; }
    void SetAllowTruncated(bool allow) { Info.AllowTruncated = allow; }
    uint32_t GetThreads() const { return Info.Threads > 1 ? Info.Threads : 1; }
    void SetThreads(uint32_t threads) { Info.Threads = threads; }
    // The decoder's question before it allocates for a picture. False, with
    // the reason in LastError, when `file` has fewer than `leastBytes` bytes
    // left (the fewest the format can hold the picture in; 0 skips the test;
    // `shortText` is the format's own text for it), when width x height
    // passes the picture limit (the text names the limit), or when the pixel
    // block could not be made. Zero sides pass: Create says why they fail.
    bool PictureFits(uint64_t width, uint64_t height, uint32_t bpp, VxFile* file = nullptr,
                     uint64_t leastBytes = 0, const char* shortText = nullptr);
    // The same question for a decoder's working buffer (a strip, a band, a
    // library's planes): it may take `perPixel` bytes for each pixel the
    // limit allows, the most the format needs (4 for a band: a picture at 32
    // bits; 16 for four planes of 32-bit samples). False, with a text naming
    // the limit, when larger.
    bool BufferFits(uint64_t bytes, uint32_t perPixel = kVxLimitBytesPerPixel);
    void SetAlphaMax(uint8_t m) { Info.AlphaMax = m; }

    // --- palette ---
    RGBQUAD* GetPalette() const;
    RGBQUAD GetPaletteColor(uint8_t i) const;
    bool GetPaletteColor(uint8_t i, uint8_t* r, uint8_t* g, uint8_t* b) const;
    void SetPaletteColor(uint8_t i, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 0);
    void SetPaletteColor(uint8_t i, RGBQUAD c);
    void SetPaletteColor(uint8_t i, COLORREF c);
    void SetPalette(const RGBQUAD* pal, uint32_t n = 256);
    void SetPalette(uint32_t n, const uint8_t* r, const uint8_t* g = nullptr,
                    const uint8_t* b = nullptr);
    void SetPalette(const rgb_color* rgb, uint32_t n = 256);
    void SetGrayPalette();
    void SetStdPalette();
    // Identity grey ramp: every entry i equals (i, i, i).
    bool IsGrayScale() const;
    // A 1-bit picture whose two colours are black and white, in either order.
    bool IsBlackAndWhite() const;
    bool IsSamePalette(const VxImage& other, bool checkAlpha = true) const;
    uint8_t GetNearestIndex(RGBQUAD c);

    // --- pixels ---
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint8_t i);
    RGBQUAD GetPixelColor(int32_t x, int32_t y, bool getAlpha = true) const;
    void SetPixelColor(int32_t x, int32_t y, RGBQUAD c, bool setAlpha = false);
    void SetPixelColor(int32_t x, int32_t y, COLORREF c);
    uint8_t GetPixelGray(int32_t x, int32_t y) const;
    static RGBQUAD RGBtoRGBQUAD(COLORREF c);
    static COLORREF RGBQUADtoRGB(RGBQUAD c);

    // --- colour depth ---
    bool DecreaseBpp(uint32_t bits, bool diffuseError, const RGBQUAD* palette = nullptr,
                     uint32_t importantColors = 0);
    bool IncreaseBpp(uint32_t bits);

    // --- geometry and colour operations used by codecs ---
    bool Flip();         // top-bottom, pixels and alpha plane
    bool Mirror();       // left-right, pixels and alpha plane
    bool RotateLeft();   // 90 degrees counter-clockwise, in place
    bool RotateRight();  // 90 degrees clockwise, in place
    bool Negative();

    // --- alpha and selection planes ---
    bool AlphaCreate();
    void AlphaDelete();
    bool AlphaIsValid() const { return Alpha != nullptr; }
    void AlphaSet(int32_t x, int32_t y, uint8_t level);
    uint8_t AlphaGet(int32_t x, int32_t y) const;
    uint8_t* AlphaGetPointer(int32_t x = 0, int32_t y = 0) const;
    bool AlphaFlip();
    bool AlphaMirror();
    void AlphaClear();
    void AlphaInvert();
    bool AlphaPaletteIsValid() const;
    void AlphaPaletteEnable(bool enable = true) { Info.AlphaPaletteEnabled = enable; }
    bool AlphaPaletteIsEnabled() const { return Info.AlphaPaletteEnabled; }
    void SelectionDelete();
    bool SelectionIsValid() const { return Selection != nullptr; }

    // --- load / save dispatch ---
    bool Load(const char* filename, uint32_t type = 0);
    bool Save(const char* filename, uint32_t type);
    // The first half of Save: the encoded picture in a new temporary file beside
    // the name `filename` (named in `tmpPath`), for callers that commit files
    // later. Failing to write says why in LastError. `tag`: see
    // VxCreateTemporaryBeside; `durable`: the file is on the disk (fsync)
    // before this returns.
    bool SaveToTemporary(const char* filename, uint32_t type, std::string& tmpPath,
                         const std::string& tag = {}, bool durable = false);
    // The second half: `tmpPath` renamed over the name (a symbolic link is
    // replaced by the file); on failure the temporary file is removed.
    bool CommitTemporary(const std::string& tmpPath, const char* filename);
    bool Decode(FILE* fp, uint32_t type);
    bool Decode(uint8_t* buffer, uint32_t size, uint32_t type);
    bool Decode(VxFile* file, uint32_t type);
    bool Encode(FILE* fp, uint32_t type);
    bool Encode(uint8_t*& buffer, int32_t& size, uint32_t type);
    bool Encode(VxFile* file, uint32_t type);
    bool Encode(VxFile* file, VxImage** pages, int32_t pageCount, uint32_t type);
    bool Encode(FILE* fp, VxImage** pages, int32_t pageCount, uint32_t type);
    bool Encode2RGBA(VxFile* file);
    bool Encode2RGBA(uint8_t*& buffer, int32_t& size);

protected:
    void Startup(uint32_t imagetype);
    bool EncodeToTemporary(const char* filename, uint32_t type, std::string& tmpPath,
                           const std::string& tag, bool durable,
                           const std::function<bool(const std::string&)>& commit);
    void CopyInfo(const VxImage& src);
    // The alpha and selection planes of a picture of the same size.
    void CopyPlanes(const VxImage& src, bool selection, bool alpha);
    void Ghost(VxImage* from);
    // For a writer of animations given several pictures: this codec becomes
    // the first with all of them as its frames. False with "FORMAT: ..." as
    // the last error when they differ in size.
    bool TakePagesAsFrames(VxImage** pages, int32_t count, const char* format);
    bool EncodeSafeCheck(VxFile* file);

    uint8_t BlindGetPixelIndex(int32_t x, int32_t y) const;
    RGBQUAD BlindGetPixelColor(int32_t x, int32_t y) const;
    uint8_t* BlindGetPixelPointer(int32_t x, int32_t y) const;
    void BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i);

    // Header write-back: copies Header into the first 40 bytes of the block.
    void SyncHeaderToDib();
    bool DecreaseBppDiffused(uint32_t bits, const RGBQUAD* palette, uint32_t importantColors);
    // Mutable header for codecs that set fields the accessors do not cover
    // (the dimensions-only decode, pels-per-metre copies).
    BITMAPINFOHEADER& HeaderRef() { return Header; }
    ImageInfo& InfoRef() { return Info; }

    uint8_t* Dib = nullptr;
    BITMAPINFOHEADER Header;
    ImageInfo Info;
    uint8_t* Selection = nullptr;
    uint8_t* Alpha = nullptr;
    VxImage** Layers = nullptr;

private:
    bool DecodeWith(uint32_t code, VxFile* file, uint32_t passType);
    // Takes `from`'s header, settings and blocks as they are (no copy, no release).
    void ShareFrom(const VxImage& from);
};
