#include "tests/codecs/gif/gif_test_util.h"

#include <cstdlib>
#include <cstring>

#include "tests/support/test_support.h"

namespace gt {

namespace {

Bytes Drain(VxMemFile& f) {
    const int32_t n = f.Size();
    uint8_t* p = f.GetBuffer(false);
    return Bytes(p, p + (n > 0 ? n : 0));
}

}  // namespace

Bytes EncodeGif(VxImage& img) {
    VxMemFile f;
    f.Open();
    if (!img.Encode(&f, VX_FORMAT_GIF)) return {};
    return Drain(f);
}

Bytes EncodeWith(VxImageGIF& codec) {
    VxMemFile f;
    f.Open();
    if (!codec.Encode(&f)) return {};
    return Drain(f);
}

Bytes EncodePages(VxImageGIF& codec, std::vector<VxImage*> pages, bool local) {
    VxMemFile f;
    f.Open();
    if (!codec.Encode(&f, pages.data(), int(pages.size()), local)) return {};
    return Drain(f);
}

bool DecodeGif(const Bytes& bytes, VxImage& out, int frame, int escape) {
    Bytes copy = bytes;
    out.SetFrame(frame);
    out.SetEscape(escape);
    return out.Decode(copy.data(), uint32_t(copy.size()), VX_FORMAT_GIF);
}

bool DecodeCodec(const Bytes& bytes, VxImageGIF& codec, int frame) {
    Bytes copy = bytes;
    VxMemFile f(copy.data(), uint32_t(copy.size()));
    codec.SetFrame(frame);
    return codec.Decode(&f);
}

VxImage MakeIndexed(int width, int height, int bpp, int seed) {
    VxImage img(uint32_t(width), uint32_t(height), uint32_t(bpp), 0);
    const int colors = 1 << bpp;
    for (int i = 0; i < colors; ++i)
        img.SetPaletteColor(uint8_t(i), uint8_t(i * 255 / (colors - 1)),
                            uint8_t((i * 73 + seed * 31) & 255), uint8_t((255 - i * 5 + seed) & 255));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.SetPixelIndex(x, y, uint8_t(((x / 3) * 7 + (y / 2) * 3 + seed + (x * y) % 5) % colors));
    return img;
}

std::vector<int> SubBlocks(const Bytes& b, size_t pos, size_t* end) {
    std::vector<int> lengths;
    while (pos < b.size()) {
        const int n = b[pos++];
        if (n == 0) break;
        lengths.push_back(n);
        pos += size_t(n);
    }
    if (end) *end = pos;
    return lengths;
}

Bytes FrameData(const Bytes& file) {
    if (file.size() < 13) return {};
    size_t pos = 13;
    if (file[10] & 0x80) pos += size_t(3) << ((file[10] & 7) + 1);
    pos += 8;   // graphic control
    if (file[pos] == 0x21) {  // a comment
        SubBlocks(file, pos + 2, &pos);
    }
    if (pos >= file.size() || file[pos] != 0x2C) return {};
    const uint8_t flags = file[pos + 9];
    pos += 10;
    if (flags & 0x80) pos += size_t(3) << ((flags & 7) + 1);
    size_t end = 0;
    SubBlocks(file, pos + 1, &end);
    return Bytes(file.begin() + long(pos), file.begin() + long(end));
}

std::vector<uint32_t> Table(std::vector<uint32_t> rgb, int entries) {
    rgb.resize(size_t(entries), 0);
    return rgb;
}

namespace {

void Put16(Bytes& b, int v) {
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t((v >> 8) & 0xFF));
}

int SizeCode(size_t entries) {
    int k = 0;
    while ((size_t(2) << k) < entries) ++k;
    return k;
}

void PutTable(Bytes& b, const std::vector<uint32_t>& t) {
    for (uint32_t c : t) {
        b.push_back(uint8_t(c >> 16));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c));
    }
}

}  // namespace

Builder::Builder(int width, int height, const std::vector<uint32_t>& globalTable) {
    b = Bytes{'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, width);
    Put16(b, height);
    b.push_back(globalTable.empty() ? uint8_t(0) : uint8_t(0x80 | SizeCode(globalTable.size())));
    b.push_back(0);
    b.push_back(0);
    PutTable(b, globalTable);
}

Builder& Builder::Control(uint8_t flags, uint16_t delay, uint8_t transIndex, uint8_t length) {
    b.insert(b.end(), {0x21, 0xF9, length, flags});
    Put16(b, delay);
    b.push_back(transIndex);
    b.push_back(0);
    return *this;
}

Builder& Builder::Loop(uint16_t count) {
    b.insert(b.end(), {0x21, 0xFF, 11});
    const char id[] = "NETSCAPE2.0";
    b.insert(b.end(), id, id + 11);
    b.insert(b.end(), {3, 1});
    Put16(b, count);
    b.push_back(0);
    return *this;
}

Builder& Builder::Image(int l, int t, int w, int h, const Bytes& data,
                        const std::vector<uint32_t>& localTable, bool interlaced) {
    b.push_back(0x2C);
    Put16(b, l);
    Put16(b, t);
    Put16(b, w);
    Put16(b, h);
    uint8_t flags = interlaced ? 0x40 : 0;
    if (!localTable.empty()) flags = uint8_t(flags | 0x80 | SizeCode(localTable.size()));
    b.push_back(flags);
    PutTable(b, localTable);
    b.insert(b.end(), data.begin(), data.end());
    return *this;
}

Builder& Builder::Raw(const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return *this;
}

Bytes Builder::Done() {
    b.push_back(0x3B);
    return b;
}

std::string WriteTemp(const std::string& dir, const std::string& name, const Bytes& bytes) {
    const std::string path = dir + "/" + name;
    vt::WriteFileBytes(path, bytes);
    return path;
}

}  // namespace gt
