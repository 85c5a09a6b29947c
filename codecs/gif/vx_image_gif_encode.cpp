#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/gif/vx_image_gif.h"
#include "core/vx_transparency.h"

namespace {

constexpr int32_t kHashSize = 5003;
constexpr int32_t kMaxCodes = 4096;
const char kWriteError[] = "GIF 文件写出错误";

}  // namespace

bool VxImageGIF::FinishEncode(VxFile* fp) {
    if (writeFailed || !fp->Flush() || fp->Error()) {
        SetLastError(kWriteError);
        return false;
    }
    return true;
}

bool VxImageGIF::Encode(VxFile* fp) {
    if (EncodeSafeCheck(fp)) return false;
    if (GetWidth() > 0xFFFF || GetHeight() > 0xFFFF) {
        SetLastError("GIF: picture wider or higher than 65535 pixels");
        return false;
    }
    writeFailed = false;
    if (const VxFrames* anim = GetAnimation(); anim && anim->frames.size() > 1)
        return EncodeAnimation(fp, *anim);
    if (GetBpp() > 8) return EncodeRGB(fp);
    EncodeHeader(fp);
    EncodeExtension(fp);
    EncodeComment(fp);
    EncodeBody(fp, false);
    fp->PutC(0x3B);
    return FinishEncode(fp);
}

void VxImageGIF::WriteColorTable(VxFile* fp) {
    const uint32_t n = 1u << GetBpp();
    const uint32_t have = GetNumColors();
    const RGBQUAD* pal = GetPalette();
    uint8_t table[256 * 3] = {};
    for (uint32_t i = 0; i < n && i < have && pal; ++i) {
        table[i * 3] = pal[i].rgbRed;
        table[i * 3 + 1] = pal[i].rgbGreen;
        table[i * 3 + 2] = pal[i].rgbBlue;
    }
    fp->Write(table, 1, size_t(n) * 3);
}

void VxImageGIF::EncodeHeader(VxFile* fp) {
    fp->Write("GIF89a", 1, 6);
    Putword(int(GetWidth()), fp);
    Putword(int(GetHeight()), fp);
    const uint32_t bpp = GetBpp();
    const bool palette = GetNumColors() != 0;
    const uint8_t flags = palette ? uint8_t(0x80 | ((bpp - 1) << 5) | (bpp - 1)) : uint8_t(0x11);
    fp->PutC(flags);
    fp->PutC(0);
    fp->PutC(0);
    if (palette) WriteColorTable(fp);
}

void VxImageGIF::EncodeExtension(VxFile* fp) {
    fp->PutC(0x21);
    fp->PutC(0xF9);
    controlBlock.flags = uint8_t(((disposal & 7) << 2) | (Info.TransIndex != -1 ? 1 : 0));
    controlBlock.delay = uint16_t(Info.FrameDelay & 0xFFFF);
    controlBlock.transpcolindex = uint8_t(Info.TransIndex & 0xFF);
    const uint8_t raw[4] = {controlBlock.flags, uint8_t(controlBlock.delay & 0xFF),
                            uint8_t(controlBlock.delay >> 8), controlBlock.transpcolindex};
    fp->PutC(4);
    fp->Write(raw, 4, 1);
    fp->PutC(0);
}

void VxImageGIF::EncodeLoopExtension(VxFile* fp) {
    fp->PutC(0x21);
    fp->PutC(0xFF);
    fp->PutC(11);
    fp->Write("NETSCAPE2.0", 11, 1);
    fp->PutC(3);
    fp->PutC(1);
    Putword(loops, fp);
    fp->PutC(0);
}

void VxImageGIF::EncodeComment(VxFile* fp) {
    const size_t n = strnlen(comment, 255);
    if (n == 0) return;
    fp->PutC(0x21);
    fp->PutC(0xFE);
    fp->PutC(uint8_t(n));
    fp->Write(comment, n, 1);
    fp->PutC(0);
}

void VxImageGIF::Putword(int w, VxFile* fp) {
    fp->PutC(uint8_t(w & 0xFF));
    fp->PutC(uint8_t((w / 256) & 0xFF));
}

void VxImageGIF::EncodeBody(VxFile* fp, bool localColorMap) {
    const uint32_t bpp = GetBpp();
    encodeX = 0;
    encodeRow = int32_t(GetHeight()) - 1;
    pixelsLeft = int64_t(GetWidth()) * GetHeight();
    encodeRowPtr = nullptr;
    encodeRowPtrRow = -1;

    fp->PutC(0x2C);
    Putword(Info.XOffset, fp);
    Putword(Info.YOffset, fp);
    Putword(int(GetWidth()), fp);
    Putword(int(GetHeight()), fp);
    fp->PutC(localColorMap ? uint8_t(0x80 | (bpp - 1)) : uint8_t(0));
    if (localColorMap) WriteColorTable(fp);

    const int codeSize = bpp == 1 ? 2 : int(bpp);
    fp->PutC(uint8_t(codeSize));
    switch (GetCodecOption(VX_FORMAT_GIF)) {
        case 1: compressNONE(codeSize + 1, fp); break;
        case 2: compressRLE(codeSize + 1, fp); break;
        default: compressLZW(codeSize + 1, fp); break;
    }
    fp->PutC(0);
}

int VxImageGIF::GifNextPixel() {
    if (pixelsLeft <= 0) return -1;
    --pixelsLeft;
    if (encodeRowPtrRow != encodeRow) {
        encodeRowPtr = GetBits(uint32_t(encodeRow));
        encodeRowPtrRow = encodeRow;
    }
    int v = 0;
    const int32_t x = encodeX;
    if (encodeRowPtr) {
        switch (GetBpp()) {
            case 8: v = encodeRowPtr[x]; break;
            case 4: v = (x & 1) ? (encodeRowPtr[x >> 1] & 0x0F) : (encodeRowPtr[x >> 1] >> 4); break;
            case 1: v = (encodeRowPtr[x >> 3] >> (7 - (x & 7))) & 1; break;
            default: v = GetPixelIndex(x, encodeRow); break;
        }
    }
    if (++encodeX >= int32_t(GetWidth())) {
        encodeX = 0;
        --encodeRow;
    }
    return v;
}

// ---------------------------------------------------------------------------
// LZW and uncompressed coders (shared code packer)

void VxImageGIF::beginCodes(int initBits, VxFile* outfile) {
    encodeInitBits = encodeWidth = initBits;
    encodeStream = outfile;
    encodeMaxCode = short((1 << initBits) - 1);
    clearPending = 0;
    bitAccum = 0;
    bitCount = 0;
    packetLength = 0;
    encodeClear = 1 << (initBits - 1);
    encodeEnd = encodeClear + 1;
    encodeNextCode = short(encodeClear + 2);
}

void VxImageGIF::compressLZW(int initBits, VxFile* outfile) {
    beginCodes(initBits, outfile);

    int32_t prefix = GifNextPixel();
    int hshift = 0;
    for (long f = kHashSize; f < 65536L; f *= 2) ++hshift;
    hshift = 8 - hshift;
    cl_hash(kHashSize);
    output(short(encodeClear));

    int c;
    while ((c = GifNextPixel()) != -1) {
        const int32_t key = (int32_t(c) << 12) + prefix;
        int32_t i = (c << hshift) ^ prefix;
        if (hashTable[i] == key) {
            prefix = codeTable[i];
            continue;
        }
        if (hashTable[i] >= 0) {
            const int32_t step = i == 0 ? 1 : kHashSize - i;
            bool found = false;
            do {
                i -= step;
                if (i < 0) i += kHashSize;
                if (hashTable[i] == key) {
                    prefix = codeTable[i];
                    found = true;
                    break;
                }
            } while (hashTable[i] > 0);
            if (found) continue;
        }
        output(short(prefix));
        prefix = c;
        if (encodeNextCode < kMaxCodes) {
            codeTable[i] = uint16_t(encodeNextCode++);
            hashTable[i] = key;
        } else {
            cl_hash(kHashSize);
            encodeNextCode = short(encodeClear + 2);
            clearPending = 1;
            output(short(encodeClear));
        }
    }
    output(short(prefix));
    output(short(encodeEnd));
}

void VxImageGIF::compressNONE(int initBits, VxFile* outfile) {
    beginCodes(initBits, outfile);

    int prefix = GifNextPixel();
    output(short(encodeClear));
    if (prefix != -1) {
        int c;
        do {
            c = GifNextPixel();
            output(short(prefix));
            prefix = c;
            if (encodeNextCode < kMaxCodes) {
                ++encodeNextCode;
            } else {
                encodeNextCode = short(encodeClear + 2);
                clearPending = 1;
                output(short(encodeClear));
            }
        } while (c != -1);
    }
    output(short(encodeEnd));
}

void VxImageGIF::output(short code) {
    bitAccum &= bitCount > 0 ? ((1u << bitCount) - 1) : 0u;
    if (bitCount > 0) bitAccum |= uint32_t(code) << bitCount;
    else bitAccum = uint32_t(code);
    bitCount += encodeWidth;
    while (bitCount >= 8) {
        char_out(int(bitAccum & 0xFF));
        bitAccum >>= 8;
        bitCount -= 8;
    }
    if (encodeNextCode > encodeMaxCode || clearPending) {
        if (clearPending) {
            encodeWidth = encodeInitBits;
            encodeMaxCode = short((1 << encodeWidth) - 1);
            clearPending = 0;
        } else {
            ++encodeWidth;
            encodeMaxCode = encodeWidth == 12 ? short(kMaxCodes) : short((1 << encodeWidth) - 1);
        }
    }
    if (code == encodeEnd) {
        while (bitCount > 0) {
            char_out(int(bitAccum & 0xFF));
            bitAccum >>= 8;
            bitCount -= 8;
        }
        flush_char();
        encodeStream->Flush();
        if (encodeStream->Error()) {
            writeFailed = true;
            SetLastError(kWriteError);
        }
    }
}

void VxImageGIF::cl_hash(long hsize) {
    for (long i = 0; i < hsize && i < kHashSize; ++i) hashTable[i] = -1;
}

void VxImageGIF::char_out(int c) {
    packet[packetLength++] = uint8_t(c);
    if (packetLength >= 254) flush_char();
}

void VxImageGIF::flush_char() {
    if (packetLength > 0) {
        encodeStream->PutC(uint8_t(packetLength));
        encodeStream->Write(packet, 1, size_t(packetLength));
        packetLength = 0;
    }
}

// ---------------------------------------------------------------------------
// run-length coder: emits only literals, codes the decoder's table is known to
// hold (runs of one pixel), and clear codes

void VxImageGIF::compressRLE(int initBits, VxFile* outfile) {
    encodeStream = outfile;
    tag_RLE rle{};
    rle.code_clear = 1 << (initBits - 1);
    rle.code_eof = rle.code_clear + 1;
    rle.rl_basecode = rle.code_eof + 1;
    rle.out_bump_init = rle.code_clear - 1;
    rle.out_clear_init = initBits <= 3 ? 9 : rle.out_bump_init - 1;
    rle.out_bits_init = initBits;
    rle.max_ocodes = (1 << 12) - (rle.code_clear + 3);
    rle.rl_count = 0;
    rle.rl_pixel = -1;
    rle_clear(&rle);
    rle.obuf = 0;
    rle.obits = 0;
    rle.oblen = 0;
    rle_output(rle.code_clear, &rle);
    for (;;) {
        const int c = GifNextPixel();
        if (rle.rl_count > 0 && c != rle.rl_pixel) rle_flush(&rle);
        if (c == -1) break;
        if (rle.rl_pixel == c) {
            ++rle.rl_count;
        } else {
            rle.rl_pixel = c;
            rle.rl_count = 1;
        }
    }
    rle_output(rle.code_eof, &rle);
    rle_output_flush(&rle);
}

void VxImageGIF::rle_clear(tag_RLE* rle) {
    rle->out_bits = rle->out_bits_init;
    rle->out_bump = rle->out_bump_init;
    rle->out_clear = rle->out_clear_init;
    rle->out_count = 0;
    rle->rl_table_max = 0;
    rle->just_cleared = 1;
}

void VxImageGIF::rle_flush(tag_RLE* rle) {
    if (rle->rl_count == 1) {
        rle_output_plain(rle->rl_pixel, rle);
        rle->rl_count = 0;
        return;
    }
    if (rle->just_cleared) rle_flush_fromclear(rle->rl_count, rle);
    else if (rle->rl_table_max < 2 || rle->rl_table_pixel != rle->rl_pixel)
        rle_flush_clearorrep(rle->rl_count, rle);
    else rle_flush_withtable(rle->rl_count, rle);
    rle->rl_count = 0;
}

void VxImageGIF::rle_output_plain(int c, tag_RLE* rle) {
    rle->just_cleared = 0;
    rle_output(c, rle);
    ++rle->out_count;
    if (rle->out_count >= rle->out_bump) {
        ++rle->out_bits;
        rle->out_bump += 1 << (rle->out_bits - 1);
    }
    if (rle->out_count >= rle->out_clear) {
        rle_output(rle->code_clear, rle);
        rle_clear(rle);
    }
}

void VxImageGIF::rle_flush_fromclear(int count, tag_RLE* rle) {
    rle->out_clear = rle->max_ocodes;
    rle->rl_table_pixel = rle->rl_pixel;
    int n = 1;
    while (count > 0) {
        if (n == 1) {
            rle->rl_table_max = 1;
            rle_output_plain(rle->rl_pixel, rle);
            --count;
        } else if (count >= n) {
            rle->rl_table_max = n;
            rle_output_plain(rle->rl_basecode + n - 2, rle);
            count -= n;
        } else if (count == 1) {
            ++rle->rl_table_max;
            rle_output_plain(rle->rl_pixel, rle);
            count = 0;
        } else {
            ++rle->rl_table_max;
            rle_output_plain(rle->rl_basecode + count - 2, rle);
            count = 0;
        }
        if (rle->out_count == 0) n = 1;
        else ++n;
    }
    rle_reset_out_clear(rle);
}

void VxImageGIF::rle_reset_out_clear(tag_RLE* rle) {
    rle->out_clear = rle->out_clear_init;
    if (rle->out_count >= rle->out_clear) {
        rle_output(rle->code_clear, rle);
        rle_clear(rle);
    }
}

void VxImageGIF::rle_flush_withtable(int count, tag_RLE* rle) {
    int repmax = count / rle->rl_table_max;
    int leftover = count % rle->rl_table_max;
    int repleft = leftover ? 1 : 0;
    if (rle->out_count + repmax + repleft > rle->max_ocodes) {
        repmax = rle->max_ocodes - rle->out_count;
        leftover = count - repmax * rle->rl_table_max;
        repleft = 1 + int(rle_compute_triangle_count(unsigned(leftover), unsigned(rle->max_ocodes)));
    }
    if (1 + int(rle_compute_triangle_count(unsigned(count), unsigned(rle->max_ocodes))) <
        repmax + repleft) {
        rle_output(rle->code_clear, rle);
        rle_clear(rle);
        rle_flush_fromclear(count, rle);
        return;
    }
    rle->out_clear = rle->max_ocodes;
    for (; repmax > 0; --repmax) rle_output_plain(rle->rl_basecode + rle->rl_table_max - 2, rle);
    if (leftover) {
        if (rle->just_cleared) rle_flush_fromclear(leftover, rle);
        else if (leftover == 1) rle_output_plain(rle->rl_pixel, rle);
        else rle_output_plain(rle->rl_basecode + leftover - 2, rle);
    }
    rle_reset_out_clear(rle);
}

unsigned int VxImageGIF::rle_compute_triangle_count(unsigned int count, unsigned int nrepcodes) {
    unsigned int cost = 0;
    const unsigned int perrep = (nrepcodes * (nrepcodes + 1)) / 2;
    while (count >= perrep) {
        cost += nrepcodes;
        count -= perrep;
    }
    if (count > 0) {
        unsigned int n = rle_isqrt(count);
        while (n * (n + 1) >= 2 * count) --n;
        while (n * (n + 1) < 2 * count) ++n;
        cost += n;
    }
    return cost;
}

unsigned int VxImageGIF::rle_isqrt(unsigned int x) {
    if (x < 2) return x;
    unsigned int r = 1;
    for (unsigned int v = x; v; v >>= 2) r <<= 1;
    for (;;) {
        const unsigned int v = ((x / r) + r) / 2;
        if (v == r || v == r + 1) return r;
        r = v;
    }
}

void VxImageGIF::rle_flush_clearorrep(int count, tag_RLE* rle) {
    const int withclr = 1 + int(rle_compute_triangle_count(unsigned(count), unsigned(rle->max_ocodes)));
    if (withclr < count) {
        rle_output(rle->code_clear, rle);
        rle_clear(rle);
        rle_flush_fromclear(count, rle);
    } else {
        for (; count > 0; --count) rle_output_plain(rle->rl_pixel, rle);
    }
}

void VxImageGIF::rle_write_block(tag_RLE* rle) {
    encodeStream->PutC(uint8_t(rle->oblen));
    encodeStream->Write(rle->oblock, 1, size_t(rle->oblen));
    rle->oblen = 0;
}

void VxImageGIF::rle_block_out(uint8_t c, tag_RLE* rle) {
    rle->oblock[rle->oblen++] = c;
    if (rle->oblen >= 255) rle_write_block(rle);
}

void VxImageGIF::rle_block_flush(tag_RLE* rle) {
    if (rle->oblen > 0) rle_write_block(rle);
}

void VxImageGIF::rle_output(int val, tag_RLE* rle) {
    rle->obuf |= uint32_t(val) << rle->obits;
    rle->obits += rle->out_bits;
    while (rle->obits >= 8) {
        rle_block_out(uint8_t(rle->obuf & 0xFF), rle);
        rle->obuf >>= 8;
        rle->obits -= 8;
    }
}

void VxImageGIF::rle_output_flush(tag_RLE* rle) {
    if (rle->obits > 0) rle_block_out(uint8_t(rle->obuf & 0xFF), rle);
    rle_block_flush(rle);
}

// ---------------------------------------------------------------------------
// pictures above 8 bits: a mosaic of 17 x 15 tiles, each with its own table

bool VxImageGIF::EncodeRGB(VxFile* fp) {
    EncodeHeader(fp);
    EncodeComment(fp);
    auto tile = std::make_unique<VxImageGIF>();
    const int32_t w = int32_t(GetWidth()), h = int32_t(GetHeight());
    const bool alphaPlane = AlphaIsValid();
    for (int32_t y = 0; y < h; y += 15) {
        for (int32_t x = 0; x < w; x += 17) {
            const int32_t tw = std::min(17, w - x), th = std::min(15, h - y);
            if (int32_t(tile->GetWidth()) != tw || int32_t(tile->GetHeight()) != th || !tile->IsValid()) {
                if (!tile->Create(uint32_t(tw), uint32_t(th), 8, 0)) {
                    SetLastError(tile->GetLastError());
                    return false;
                }
            }
            if (IsTransparent() || alphaPlane) {
                tile->SetTransIndex(0);
                tile->SetPaletteColor(0, GetTransColor());
            }
            for (int32_t j = 0; j < th; ++j) {
                for (int32_t i = 0; i < tw; ++i) {
                    const uint8_t k = uint8_t(1 + i + 17 * j);
                    const RGBQUAD c = GetPixelColor(x + i, h - y - th + j, true);
                    tile->SetPaletteColor(k, c);
                    // With an alpha plane entry 0 is for clear pixels only.
                    const uint8_t index = !alphaPlane ? tile->GetNearestIndex(tile->GetPaletteColor(k))
                                          : c.rgbReserved < vx::kHalfOpaque ? 0
                                                                            : k;
                    tile->SetPixelIndex(i, j, index);
                }
            }
            tile->SetOffset(x, y);
            tile->EncodeExtension(fp);
            tile->EncodeBody(fp, true);
            if (tile->writeFailed) writeFailed = true;
        }
    }
    fp->PutC(0x3B);
    return FinishEncode(fp);
}

// ---------------------------------------------------------------------------
// several pictures as one animation

bool VxImageGIF::Encode(VxFile* fp, VxImage** images, int count, bool localColorMap) {
    try {
        if (!fp) throw "invalid file pointer";
        if (!images || count <= 0 || !images[0]) throw "multipage GIF, no images!";
        // Checked before the first byte, so a refused call writes nothing.
        for (int i = 0; i < count; ++i) {
            const VxImage* im = images[i];
            if (!im || !im->IsValid()) throw "Bad image pointer";
            if (im->GetBpp() > 8) throw "multipage GIF, images must have 8 bits per pixel or less";
            if (im->GetWidth() > 0xFFFF || im->GetHeight() > 0xFFFF)
                throw "GIF: picture wider or higher than 65535 pixels";
        }
        writeFailed = false;
        auto ghost = std::make_unique<VxImageGIF>();
        ghost->Ghost(images[0]);
        ghost->EncodeHeader(fp);
        if (loops != 1) {
            ghost->loops = std::max(loops - 1, 0);
            ghost->EncodeLoopExtension(fp);
        }
        ghost->disposal = disposal;
        ghost->EncodeExtension(fp);
        EncodeComment(fp);
        ghost->EncodeBody(fp, false);
        for (int i = 1; i < count; ++i) {
            ghost->Ghost(images[i]);
            ghost->disposal = disposal;
            ghost->EncodeExtension(fp);
            // A picture whose colours differ from the global table brings its own.
            const bool local = localColorMap || !images[i]->IsSamePalette(*images[0], false);
            ghost->EncodeBody(fp, local);
        }
        if (ghost->writeFailed) writeFailed = true;
        fp->PutC(0x3B);
        return FinishEncode(fp);
    } catch (const char* text) {
        SetLastError(text);
        return false;
    }
}

// Every frame is a whole canvas: each one is cleared away before the next
// when any shows through, so that no earlier frame shows beneath it.
bool VxImageGIF::EncodeAnimation(VxFile* fp, const VxFrames& anim) {
    for (const VxFrame& f : anim.frames) {
        const VxImage* im = f.picture.get();
        if (!im || !im->IsValid() || im->GetBpp() > 8 || im->GetWidth() != GetWidth() ||
            im->GetHeight() != GetHeight()) {
            SetLastError("GIF: the animation's frames must be palette pictures of one size");
            return false;
        }
    }
    const int clearAway = vx::AnyFrameTransparent(anim) ? 2 : 1;
    auto ghost = std::make_unique<VxImageGIF>();
    for (size_t i = 0; i < anim.frames.size(); ++i) {
        VxImage* frame = anim.frames[i].picture.get();
        ghost->Ghost(frame);
        ghost->SetOffset(0, 0);
        // Hundredths of a second, rounded.
        ghost->SetFrameDelay(std::min<uint32_t>((anim.frames[i].delayMs + 5) / 10, 0xFFFF));
        ghost->disposal = clearAway;
        if (i == 0) {
            ghost->EncodeHeader(fp);
            if (anim.plays != 1) {
                ghost->loops = int32_t(std::min<uint32_t>(anim.plays ? anim.plays - 1 : 0, 0xFFFF));
                ghost->EncodeLoopExtension(fp);
            }
            EncodeComment(fp);
        }
        ghost->EncodeExtension(fp);
        ghost->EncodeBody(fp, i > 0 && !frame->IsSamePalette(*anim.frames[0].picture, false));
        if (ghost->writeFailed) writeFailed = true;
    }
    fp->PutC(0x3B);
    return FinishEncode(fp);
}
