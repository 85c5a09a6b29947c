// Small files declaring pictures above the picture limit, one or more per
// format: each decoder refuses with the limit's text, and does so before it
// takes memory for the picture (the decode runs under an address-space cap
// far below the declared picture, except under the sanitizers, whose shadow
// memory a cap would break).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSide = 20000;  // 4e8 pixels, above the default limit

void LE16(Bytes& b, size_t at, uint32_t v) {
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
void LE32(Bytes& b, size_t at, uint32_t v) {
    LE16(b, at, v & 0xFFFF);
    LE16(b, at + 2, v >> 16);
}
void BE16(Bytes& b, size_t at, uint32_t v) {
    b.at(at) = uint8_t(v >> 8);
    b.at(at + 1) = uint8_t(v);
}
void BE32(Bytes& b, size_t at, uint32_t v) {
    BE16(b, at, v >> 16);
    BE16(b, at + 2, v & 0xFFFF);
}
// Where `what` next starts at or after `from`; b.size() when nowhere.
size_t Seek(const Bytes& b, const std::string& what, size_t from = 0) {
    const Bytes w(what.begin(), what.end());
    return size_t(std::search(b.begin() + long(from), b.end(), w.begin(), w.end()) - b.begin());
}
size_t Find(const Bytes& b, const std::string& what, size_t from = 0) {
    const size_t at = Seek(b, what, from);
    if (at == b.size()) throw std::runtime_error("not found: " + what);
    return at;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// A 20 x 10 picture as the engine writes it.
Bytes Written(ImageFormat code) {
    VxImage pic(20, 10, 24, 0);
    if (code == VX_FORMAT_WBMP) pic.DecreaseBpp(1, false);
    if (code == VX_FORMAT_PGX) {
        pic.DecreaseBpp(8, false);
        pic.SetGrayPalette();
    }
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!pic.Encode(buffer, size, code)) throw std::runtime_error(pic.GetLastError());
    Bytes b(buffer, buffer + size);
    std::free(buffer);
    return b;
}

// Every image size of a HEIF file.
Bytes HeifBomb(ImageFormat code) {
    Bytes b = Written(code);
    for (size_t at = Find(b, "ispe"); at < b.size(); at = Seek(b, "ispe", at + 4)) {
        BE32(b, at + 8, kSide);
        BE32(b, at + 12, kSide);
    }
    return b;
}

Bytes Text(const std::string& head, size_t body) {
    Bytes b(head.begin(), head.end());
    b.resize(b.size() + body, 0x55);
    return b;
}

Bytes PngBomb() {
    Bytes b = Written(VX_FORMAT_PNG);
    BE32(b, 16, kSide);
    BE32(b, 20, kSide);
    BE32(b, 29, Crc32(b.data() + 12, 17));
    return b;
}

void PatchSiz(Bytes& b) {
    const size_t soc = Find(b, "\xFF\x4F\xFF\x51");
    for (size_t at : {8, 12, 24, 28}) BE32(b, soc + at, kSide);
}

// A TIFF of one Deflate strip: 10000 x 10000, eight 16-bit samples a pixel.
// The picture is under the limit; the strip's buffer is not.
Bytes DeepStripTiff() {
    Bytes b(786, 0);
    b[0] = b[1] = 'I';
    LE16(b, 2, 42);
    LE32(b, 4, 8);
    struct Tag {
        uint16_t tag, type;
        uint32_t count, value;
    } tags[] = {{256, 4, 1, 10000}, {257, 4, 1, 10000}, {258, 3, 8, 200}, {259, 3, 1, 8},
                {262, 3, 1, 1},     {273, 4, 1, 240},   {277, 3, 1, 8},   {278, 4, 1, 10000},
                {279, 4, 1, 546},   {284, 3, 1, 1},     {338, 3, 7, 220}};
    LE16(b, 8, uint16_t(std::size(tags)));
    size_t at = 10;
    for (const Tag& t : tags) {
        LE16(b, at, t.tag);
        LE16(b, at + 2, t.type);
        LE32(b, at + 4, t.count);
        if (t.type == 3 && t.count == 1) LE16(b, at + 8, t.value);
        else LE32(b, at + 8, t.value);
        at += 12;
    }
    for (int i = 0; i < 8; ++i) LE16(b, 200 + 2 * size_t(i), 16);
    b[240] = 0x78;  // a zlib stream's head; what follows never gets read
    b[241] = 0x9C;
    return b;
}

// A JPEG XL code stream whose size header alone declares the picture.
Bytes JxlBomb() {
    Bytes b = {0xFF, 0x0A};
    uint64_t bits = 0;
    int used = 0;
    auto put = [&](uint64_t v, int n) {
        bits |= v << used;
        used += n;
    };
    put(0, 1);                         // not a small size
    put(2, 2), put(kSide - 1, 18);     // height
    put(0, 3);                         // no fixed ratio
    put(2, 2), put(kSide - 1, 18);     // width
    put(1, 1);                         // default metadata
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(bits >> (8 * i)));
    b.resize(64, 0);
    return b;
}

struct Bomb {
    const char* name;
    ImageFormat code;
    uint64_t limit;  // formats whose largest picture is under the default take a lower one
    std::function<Bytes()> make;
};

const Bomb kBombs[] = {
    {"BMP", VX_FORMAT_BMP, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_BMP);
         LE32(b, 18, kSide);
         LE32(b, 22, kSide);
         return b;
     }},
    {"GIF", VX_FORMAT_GIF, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_GIF);
         LE16(b, 6, 0xFFFF);
         LE16(b, 8, 0xFFFF);
         return b;
     }},
    {"JPG", VX_FORMAT_JPG, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_JPG);
         size_t sof = 2;
         while (b.at(sof) != 0xFF || b.at(sof + 1) < 0xC0 || b.at(sof + 1) > 0xC2)
             sof += 2 + (size_t(b.at(sof + 2)) << 8 | b.at(sof + 3));
         BE16(b, sof + 5, kSide);
         BE16(b, sof + 7, kSide);
         return b;
     }},
    {"PNG", VX_FORMAT_PNG, kVxDefaultMaxPixels, PngBomb},
    {"ICO holding a PNG", VX_FORMAT_ICO, kVxDefaultMaxPixels, [] {
         const Bytes png = PngBomb();
         Bytes b(22, 0);
         LE16(b, 2, 1);
         LE16(b, 4, 1);
         LE16(b, 10, 1);
         LE16(b, 12, 32);
         LE32(b, 14, uint32_t(png.size()));
         LE32(b, 18, 22);
         b.insert(b.end(), png.begin(), png.end());
         return b;
     }},
    {"TIF", VX_FORMAT_TIF, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_TIF);
         const size_t ifd = b.at(4) | b.at(5) << 8 | b.at(6) << 16 | size_t(b.at(7)) << 24;
         for (size_t e = ifd + 2; e < ifd + 2 + 12 * size_t(b.at(ifd)); e += 12) {
             const unsigned tag = b[e] | b[e + 1] << 8, type = b[e + 2] | b[e + 3] << 8;
             if (tag != 256 && tag != 257) continue;
             if (type == 3) LE16(b, e + 8, kSide);
             else LE32(b, e + 8, kSide);
         }
         return b;
     }},
    {"TIF with a deep strip", VX_FORMAT_TIF, kVxDefaultMaxPixels, DeepStripTiff},
    {"TGA", VX_FORMAT_TGA, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_TGA);
         LE16(b, 12, kSide);
         LE16(b, 14, kSide);
         return b;
     }},
    {"PCX", VX_FORMAT_PCX, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_PCX);
         LE16(b, 8, kSide - 1);
         LE16(b, 10, kSide - 1);
         LE16(b, 66, kSide);
         return b;
     }},
    {"WBMP", VX_FORMAT_WBMP, kVxDefaultMaxPixels, [] {
         // 20000 as a multi-byte integer: 0x81 0x9C 0x20.
         return Bytes{0, 0, 0x81, 0x9C, 0x20, 0x81, 0x9C, 0x20, 0xFF, 0xFF};
     }},
    {"EMF", VX_FORMAT_WMF, 1000000, [] {
         Bytes b(108, 0);
         LE32(b, 0, 1);
         LE32(b, 4, 88);
         LE32(b, 16, 3999);  // bounds 4000 x 4000, the largest the player draws
         LE32(b, 20, 3999);
         LE32(b, 40, 0x464D4520);
         LE32(b, 44, 0x10000);
         LE32(b, 48, 108);
         LE32(b, 52, 2);
         LE32(b, 88, 14);  // end of file
         LE32(b, 92, 20);
         return b;
     }},
    {"JP2", VX_FORMAT_JP2, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_JP2);
         const size_t ihdr = Find(b, "ihdr");
         BE32(b, ihdr + 4, kSide);
         BE32(b, ihdr + 8, kSide);
         PatchSiz(b);
         return b;
     }},
    {"JPC", VX_FORMAT_JPC, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_JPC);
         PatchSiz(b);
         return b;
     }},
    {"PGX", VX_FORMAT_PGX, kVxDefaultMaxPixels, [] { return Text("PG ML + 8 20000 20000\n", 64); }},
    {"PNM", VX_FORMAT_PNM, kVxDefaultMaxPixels, [] { return Text("P6\n20000 20000\n255\n", 64); }},
    {"RAS", VX_FORMAT_RAS, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_RAS);
         BE32(b, 4, kSide);
         BE32(b, 8, kSide);
         return b;
     }},
    {"WEBP", VX_FORMAT_WEBP, 1 << 24, [] {
         Bytes b = Written(VX_FORMAT_WEBP);
         const size_t start = Find(b, "\x9D\x01\x2A");
         LE16(b, start + 3, 0x3FFF);
         LE16(b, start + 5, 0x3FFF);
         return b;
     }},
    {"HEIC", VX_FORMAT_HEIF, kVxDefaultMaxPixels, [] { return HeifBomb(VX_FORMAT_HEIF); }},
    {"AVIF", VX_FORMAT_AVIF, kVxDefaultMaxPixels, [] { return HeifBomb(VX_FORMAT_AVIF); }},
    {"JXL", VX_FORMAT_JXL, kVxDefaultMaxPixels, JxlBomb},
    {"QOI", VX_FORMAT_QOI, kVxDefaultMaxPixels,
     [] { Bytes b = Written(VX_FORMAT_QOI); BE32(b, 4, kSide); BE32(b, 8, kSide); return b; }},
    {"PSD", VX_FORMAT_PSD, kVxDefaultMaxPixels, [] {
         Bytes b = vt::ReadFileBytes(vt::DataPath("psd/rgb8_rle.psd"));
         BE32(b, 14, kSide);
         BE32(b, 18, kSide);
         return b;
     }},
    {"EXR", VX_FORMAT_EXR, kVxDefaultMaxPixels, [] {
         Bytes b = Written(VX_FORMAT_EXR);
         const size_t box = Find(b, std::string("dataWindow\0box2i\0", 17)) + 17 + 4;
         LE32(b, box + 8, kSide - 1);
         LE32(b, box + 12, kSide - 1);
         return b;
     }},
    {"SVG", VX_FORMAT_SVG, kVxDefaultMaxPixels, [] {
         const std::string s = "<svg xmlns='http://www.w3.org/2000/svg' width='" + std::to_string(kSide) +
                               "' height='" + std::to_string(kSide) + "'/>";
         return Bytes(s.begin(), s.end());
     }},
    // 9600 points at the default 150 dpi; the reader rebuilds the missing cross-reference table.
    {"PDF", VX_FORMAT_PDF, kVxDefaultMaxPixels, [] {
         const std::string s = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                               "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                               "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 9600 9600] >> endobj\n"
                               "trailer << /Root 1 0 R >>\n%%EOF\n";
         return Bytes(s.begin(), s.end());
     }},
    {"RAW", VX_FORMAT_RAW, kVxDefaultMaxPixels, [] {
         // The mosaic directory's width and height (LONG values, inline).
         Bytes b = vt::ReadFileBytes(vt::DataPath("raw/rggb_plain.dng"));
         const size_t ifd = b.at(4) | size_t(b.at(5)) << 8, n = b.at(ifd) | size_t(b.at(ifd + 1)) << 8;
         for (size_t e = ifd + 2; e < ifd + 2 + 12 * n; e += 12)
             if (b.at(e + 1) == 1 && (b.at(e) == 0 || b.at(e) == 1)) LE32(b, e + 8, kSide);
         return b;
     }},
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCapMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCapMemory = false;
#else
constexpr bool kCapMemory = true;
#endif
#else
constexpr bool kCapMemory = true;
#endif

// Bytes of address space the process holds now.
uint64_t AddressSpace() {
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    return pages * uint64_t(sysconf(_SC_PAGESIZE));
}

// Decodes in a child process whose address space may grow by `room` bytes at
// most; returns LastError (or "decoded" on success).
std::string DecodeCapped(const Bytes& file, ImageFormat code, uint64_t limit, uint64_t room) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        if (kCapMemory) {
            const rlimit cap{AddressSpace() + room, AddressSpace() + room};
            setrlimit(RLIMIT_AS, &cap);
        }
        VxImage img(0);
        img.SetMaxPixels(limit);
        Bytes copy = file;
        const bool ok = img.Decode(copy.data(), uint32_t(copy.size()), code);
        const std::string text = ok ? "decoded" : img.GetLastError();
        ssize_t put = write(pipeFds[1], text.data(), text.size());
        _exit(put == ssize_t(text.size()) ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = read(pipeFds[0], chunk, sizeof(chunk))) > 0;) text.append(chunk, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " (the decoding process died)";
    return text;
}

TEST(PictureBombs, EveryFormatRefusesWithTheLimitsTextBeforeAllocating) {
    // Far below every declared picture (1.2 GB and more at 24 bits, the deep
    // strip 1.6 GB), with room for the libraries' own set-up.
    constexpr uint64_t kRoom = uint64_t(160) << 20;
    for (const Bomb& bomb : kBombs) {
        SCOPED_TRACE(bomb.name);
        const Bytes file = bomb.make();
        EXPECT_LT(file.size(), 4096u);
        const std::string text = DecodeCapped(file, bomb.code, bomb.limit, kRoom);
        EXPECT_NE(text.find("limit of " + std::to_string(bomb.limit) + " pixels"), std::string::npos)
            << text;
    }
}

}  // namespace
