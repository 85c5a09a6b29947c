#include "tests/codecs/png/png_test_util.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>

namespace pngt {

vt::Rgba Visible(const VxImage& img) {
    vt::Rgba out = vt::ToRgba(img);
    if (!img.IsIndexed()) return out;
    const RGBQUAD* pal = img.GetPalette();
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const uint8_t i = img.GetPixelIndex(x, out.height - 1 - y);
            uint8_t& a = out.px[(size_t(y) * out.width + x) * 4 + 3];
            if (img.GetTransIndex() >= 0 && i == img.GetTransIndex()) a = 0;
            else if (img.AlphaPaletteIsEnabled()) a = uint8_t(a * pal[i].rgbReserved / 255);
        }
    }
    return out;
}

uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<Chunk> Chunks(const std::vector<uint8_t>& file) {
    static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<Chunk> out;
    if (file.size() < 8 || std::memcmp(file.data(), kSig, 8) != 0) return out;
    size_t p = 8;
    while (p + 12 <= file.size()) {
        const uint32_t n = BE32(&file[p]);
        if (n > file.size() - p - 12) break;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&file[p + 4]), 4);
        c.data.assign(file.begin() + long(p + 8), file.begin() + long(p + 8 + n));
        out.push_back(std::move(c));
        p += 12 + size_t(n);
    }
    return out;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& type) {
    for (const Chunk& c : chunks)
        if (c.type == type) return &c;
    return nullptr;
}

std::vector<uint8_t> InflatedIdat(const std::vector<Chunk>& chunks) {
    std::vector<uint8_t> in, out(1 << 16);
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") in.insert(in.end(), c.data.begin(), c.data.end());
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    z.next_in = in.data();
    z.avail_in = uInt(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == out.size()) out.resize(out.size() * 2);
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        rc = inflate(&z, Z_NO_FLUSH);
    }
    out.resize(z.total_out);
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole ? out : std::vector<uint8_t>{};
}

namespace {

struct MemoryIo {
    const std::vector<uint8_t>* in;
    size_t at;
    std::vector<uint8_t>* out;
};

void ReadFromMemory(png_structp png, png_bytep data, size_t n) {
    auto* io = static_cast<MemoryIo*>(png_get_io_ptr(png));
    if (n > io->in->size() - io->at) png_error(png, "short file");
    std::memcpy(data, io->in->data() + io->at, n);
    io->at += n;
}

void WriteToMemory(png_structp png, png_bytep data, size_t n) {
    auto* io = static_cast<MemoryIo*>(png_get_io_ptr(png));
    io->out->insert(io->out->end(), data, data + n);
}

void NoFlush(png_structp) {}

}  // namespace

std::vector<uint8_t> RewriteWithLibpng(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> out;
    MemoryIo io{&file, 0, &out};
    png_structp r = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_structp w = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop ri = png_create_info_struct(r), wi = png_create_info_struct(w);
    volatile bool ok = false;
    if (setjmp(png_jmpbuf(r)) != 0) {
        // a reading error: ok stays false
    } else if (setjmp(png_jmpbuf(w)) == 0) {
        png_set_read_fn(r, &io, ReadFromMemory);
        png_read_png(r, ri, PNG_TRANSFORM_IDENTITY, nullptr);
        png_uint_32 width, height;
        int depth, colour, interlace;
        png_get_IHDR(r, ri, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
        png_set_IHDR(w, wi, width, height, depth, colour, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_colorp plte;
        int count;
        if (png_get_PLTE(r, ri, &plte, &count)) png_set_PLTE(w, wi, plte, count);
        png_bytep trans;
        png_color_16p key;
        if (png_get_tRNS(r, ri, &trans, &count, &key)) png_set_tRNS(w, wi, trans, count, key);
        // The reader leaves the unused low bits of a row's last byte as the
        // row buffer held them; the pictures written here have zeros there.
        png_bytepp rows = png_get_rows(r, ri);
        const unsigned used = unsigned(size_t(width) * depth * png_get_channels(r, ri) % 8);
        for (png_uint_32 y = 0; used && y < height; ++y)
            rows[y][png_get_rowbytes(r, ri) - 1] &= uint8_t(0xFF << (8 - used));
        png_set_rows(w, wi, rows);
        png_set_write_fn(w, &io, WriteToMemory, NoFlush);
        png_write_png(w, wi, PNG_TRANSFORM_IDENTITY, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&w, &wi);
    png_destroy_read_struct(&r, &ri, nullptr);
    return ok ? out : std::vector<uint8_t>{};
}

bool PngcheckAccepts(const std::string& path) {
    return vt::RunCommand("pngcheck -q " + vt::ShellQuote(path) + " >/dev/null 2>&1") == 0;
}

}  // namespace pngt
