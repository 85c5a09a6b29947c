// TIFF reader and writer over libtiff: one page per decode (every page as
// frames when an animation is wanted), one or more pages per save.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/vx_image.h"

struct tiff;
typedef struct tiff TIFF;

class VxImageTIF : public VxImage {
public:
    static constexpr bool kReportsFrames = true;
    // Whether Encode stores this picture's pages as grey samples.
    static bool WritesGrey(const VxImage& img);

    VxImageTIF() : VxImage(VX_FORMAT_TIF) {}
    ~VxImageTIF() override;
    VxImageTIF(const VxImageTIF&) = delete;
    VxImageTIF& operator=(const VxImageTIF&) = delete;

    bool Decode(VxFile* file);
    // Writes the picture as the next page; with `append` the handle stays open
    // for more pages and the destructor finishes the file.
    bool Encode(VxFile* file, bool append);
    bool Encode(VxFile* file) { return Encode(file, false); }
    bool Encode(VxFile* file, VxImage** images, int count);

    // libtiff on a VxFile: "r" reads, "a" writes (a new file on an empty stream).
    TIFF* TIFFOpenEx(VxFile* file, const char* mode = "r");
    static void TIFFCloseEx(TIFF* tif);


protected:
    bool EncodeBody(TIFF* tif, bool multipage, int page, int pageCount);
    // The page's strips, coded on the picture's threads.
    bool WriteStripsSideBySide(TIFF* tif, uint32_t rps, size_t rowBytes,
                               const std::function<void(uint32_t, uint8_t*)>& fill);
    // Copies `rows` rows of `cols` bytes, skipping outSkew/inSkew bytes after each.
    static void TileToStrip(unsigned char* out, const unsigned char* in, unsigned long rows,
                            unsigned long cols, int outSkew, int inSkew);

private:
    friend struct TifHandlers;
    void ReadRgbaPage(TIFF* tif);
    uint64_t CheckPagesFit(TIFF* tif, uint32_t dirs);
    // Every page, each at its own size and depth, as the picture's frames.
    void ReadAllPages(VxFile* file, int64_t start, uint32_t dirs);
    void ReadBandPage(TIFF* tif, uint16_t photometric, uint16_t spp, uint16_t bps);
    bool CloseOutput(bool finish);
    bool EncodeFrames(VxFile* file, const struct VxFrames& anim);
    std::string Detail() const;
    [[noreturn]] static void Fail(const std::string& text);

    TIFF* outTiff = nullptr;
    bool multiPage = false;
    int pagesWritten = 0;
    int pageTotal = 0;  // known page count of a list save, 0 when unknown
    std::string tiffError;
};
