#include "codecs/gif/vx_image_gif.h"
#include "core/vx_codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/gif/gif_canvas.h"
#include "core/vx_row_index.h"

namespace {

constexpr int32_t kReadAhead = 16383;
constexpr int32_t kStackSize = 4096;
// Base work allowance in pixels; beyond it a file must bring data in proportion.
// LZW cannot describe more than about 1,400 pixels per byte, so 4,096 per byte
// never refuses a complete picture.
constexpr int64_t kBaseWork = int64_t(1) << 26;
constexpr int64_t kWorkPerByte = 4096;
// Weight of one byte of frame data read: damaged files can make the search for
// the next frame run the same data through the decoder many times.
constexpr int64_t kWorkPerDataByte = 32;

const uint16_t kCodeMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F,
                                0x003F, 0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF,
                                0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// Interlace passes: first row and row step of each.
constexpr int32_t kPassStart[4] = {0, 4, 2, 1};
constexpr int32_t kPassStep[4] = {8, 8, 4, 2};

bool ReadScreen(VxFile* fp, tag_dscgif& d) {
    uint8_t raw[13];
    if (fp->Read(raw, 13, 1) != 1) return false;
    std::memcpy(d.header, raw, 6);
    d.scrwidth = vx::LoadLE16(raw + 6);
    d.scrheight = vx::LoadLE16(raw + 8);
    d.pflds = raw[10];
    d.bcindx = raw[11];
    d.pxasrat = raw[12];
    return true;
}

bool ReadImageDescriptor(VxFile* fp, tag_image& im) {
    uint8_t raw[9];
    if (fp->Read(raw, 9, 1) != 1) return false;
    im.l = vx::LoadLE16(raw);
    im.t = vx::LoadLE16(raw + 2);
    im.w = vx::LoadLE16(raw + 4);
    im.h = vx::LoadLE16(raw + 6);
    im.pf = raw[8];
    return true;
}

int32_t TableSize(uint8_t flags) { return 1 << ((flags & 7) + 1); }

uint32_t DepthFor(int32_t tableSize) { return tableSize <= 2 ? 1 : tableSize <= 16 ? 4 : 8; }

// Frames reaching past the logical screen, and empty ones, are not pictures.
bool FrameFits(const tag_image& im, const tag_dscgif& screen) {
    return im.w > 0 && im.h > 0 && int32_t(im.l) + im.w <= screen.scrwidth &&
           int32_t(im.t) + im.h <= screen.scrheight;
}

void ReadTable(VxFile* fp, tag_TabCol& tab, uint8_t flags) {
    tab.sogct = int16_t(TableSize(flags));
    if (fp->Read(tab.paleta, size_t(3) * tab.sogct, 1) != 1) {
        // A cut table leaves the rest as it was; the frame data read fails next.
    }
}

}  // namespace

VxImageGIF::VxImageGIF() : VxImage(VX_FORMAT_GIF) {
    comment[0] = '\0';
    loops = 0;
    disposal = 0;
}

void VxImageGIF::SetComment(const char* text) {
    if (!text) return;
    const size_t n = strnlen(text, 255);
    std::memcpy(comment, text, n);
    comment[n] = '\0';
}

void VxImageGIF::GetComment(char* out) const {
    if (!out) return;
    const size_t n = strnlen(comment, 255);
    std::memcpy(out, comment, n);
    out[n] = '\0';
}

void VxImageGIF::ChargeWork(uint64_t pixels) {
    if (pixels > uint64_t(workLeft)) throw VxCodecFailure("GIF: picture too large for the data in the file");
    workLeft -= int64_t(pixels);
}

// ---------------------------------------------------------------------------
// decoding

bool VxImageGIF::Decode(VxFile* fp) {
    if (!fp) {
        SetLastError("GIF: no input stream");
        return false;
    }
    try {
        tag_dscgif dscgif;
        if (!ReadScreen(fp, dscgif) || std::memcmp(dscgif.header, "GIF8", 4) != 0)
            throw VxCodecFailure("Not a GIF");
        // Every frame lies on the screen, and the screen is what gets allocated.
        if (!DimensionsOnly()) VxRequirePicture(*this, dscgif.scrwidth, dscgif.scrheight, 8);
        loopSeen = false;
        workLeft = kBaseWork + kWorkPerByte * std::max<int64_t>(0, fp->Remaining());

        FrameScan scan;
        scan.screen = &dscgif;
        scan.global.colres = int16_t(((dscgif.pflds >> 4) & 7) + 1);
        scan.global.sogct = int16_t(TableSize(dscgif.pflds));
        const bool globalTable = (dscgif.pflds & 0x80) != 0;
        if (globalTable) ReadTable(fp, scan.global, dscgif.pflds);

        bool anyDelay = false;
        Info.NumFrames = get_num_frames(fp, scan, anyDelay);
        if (Info.NumFrames == 0) throw VxCodecFailure("GIF: no image in the file");
        const int32_t screenW = dscgif.scrwidth, screenH = dscgif.scrheight;
        if (!DimensionsOnly()) VxRequirePicture(*this, dscgif.scrwidth, dscgif.scrheight, 8);
        if (Info.Frame < 0 || Info.Frame >= Info.NumFrames)
            throw VxCodecFailure("GIF: frame number out of range");
        if (DimensionsOnly()) {
            // Counting decodes a damaged frame into this object; the answer has no pixels.
            Destroy();
            tag_image first;
            const bool found = NextFrame(fp, scan, first) == Found::Frame;
            return AnswerDimensions(VX_FORMAT_GIF, dscgif.scrwidth, dscgif.scrheight,
                                    found ? DepthFor(scan.table->sogct) : 8);
        }

        // A graphic control extension describes the one image after it; the
        // counting pass must not leave later frames' values on this one.
        controlBlock = ControlBlock{};
        Info.TransIndex = -1;
        disposal = 0;

        scan.watchEscape = true;
        std::unique_ptr<GifCanvas> canvas;
        int32_t last = Info.Frame;
        std::shared_ptr<VxFrames> anim;
        if (WantsAnimation() && Info.NumFrames > 1) {
            if (!vx::AnimationFits(*this, uint64_t(Info.NumFrames), uint64_t(screenW),
                                   uint64_t(screenH)))
                throw VxCodecFailure(GetLastError());
            anim = std::make_shared<VxFrames>();
            anim->plays = loopSeen ? (loops == 0 ? 0 : uint32_t(loops) + 1) : 1;
            last = Info.NumFrames - 1;
        }
        for (int32_t frameNo = 0; frameNo <= last; ++frameNo) {
            tag_image image;
            const Found found = NextFrame(fp, scan, image);
            if (found == Found::Cancelled) throw VxCodecFailure("Cancelled");
            if (found != Found::Frame) break;
            if (!canvas) {
                // A still picture written as tiles (no global table, a first
                // tile smaller than the screen both ways, no delays) shows all
                // its tiles at once.
                if (!globalTable && Info.NumFrames > 1 && !anyDelay && image.w != screenW &&
                    image.h != screenH) {
                    last = Info.Frame = Info.NumFrames - 1;
                    anim.reset();
                }
                canvas = std::make_unique<GifCanvas>(screenW, screenH,
                                                     [this](uint64_t n) { ChargeWork(n); });
            }

            const tag_TabCol& table = *scan.table;
            ChargeWork(uint64_t(image.w) * image.h);
            if (!Create(image.w, image.h, DepthFor(table.sogct), VX_FORMAT_GIF))
                throw VxCodecFailure("GIF: cannot create the frame");
            ApplyFramePalette(table, table.sogct, (image.pf & 0x80) || globalTable);
            int64_t frameData = 0;
            const int badCodes = DecodeFrameData(fp, image, frameData);
            if (Cancelled()) throw VxCodecFailure("Cancelled");

            GifCanvas::Frame frame;
            frame.picture = this;
            frame.left = image.l;
            frame.top = image.t;
            frame.tableSize = table.sogct;
            frame.transIndex = Info.TransIndex;
            frame.disposal = (controlBlock.flags >> 2) & 7;
            const uint32_t delayMs = uint32_t(controlBlock.delay) * 10;
            canvas->Draw(frame);
            if (anim) {
                ChargeWork(uint64_t(screenW) * uint64_t(screenH));
                auto shown = std::make_shared<VxImage>(VX_FORMAT_GIF);
                if (!canvas->Result(*shown)) throw VxCodecFailure("GIF: cannot create the picture");
                anim->frames.push_back({std::move(shown), delayMs});
            }
            SkipFrameTail(fp, frameData, badCodes);
            controlBlock = ControlBlock{};
            Info.TransIndex = -1;
        }
        if (!canvas) throw VxCodecFailure("GIF: no image decoded");

        VxImageGIF result;
        if (anim && anim->frames.size() < 2) anim.reset();
        if (anim && size_t(Info.Frame) < anim->frames.size()) {
            result.Copy(*anim->frames[size_t(Info.Frame)].picture);
            if (!result.IsValid()) throw VxCodecFailure("GIF: cannot create the picture");
        } else if (!canvas->Result(result)) {
            throw VxCodecFailure("GIF: cannot create the picture");
        }
        canvas.reset();
        ImageInfo info = Info;
        info.EffWidth = result.Info.EffWidth;
        info.Image = result.Info.Image;
        info.Type = VX_FORMAT_GIF;
        info.TransIndex = result.Info.TransIndex;
        info.TransColor = RGBQUAD{};
        info.LastNearestValid = false;
        info.GhostOf = nullptr;
        info.Animation = std::move(anim);
        result.Info = info;
        Transfer(result);
        return true;
    } catch (const VxCodecFailure& f) {
        // Counting may have left a frame on this object; a failed decode shows none.
        Destroy();
        SetLastError(f.text);
    } catch (const std::bad_alloc&) {
        Destroy();
        SetLastError("GIF: not enough memory for the picture");
    }
    return false;
}

VxImageGIF::Found VxImageGIF::NextFrame(VxFile* fp, FrameScan& scan, tag_image& image) {
    for (;;) {
        uint8_t ch;
        if (fp->Read(&ch, 1, 1) != 1) return Found::End;
        if (scan.watchEscape && Cancelled()) return Found::Cancelled;
        // After a stray byte everything up to the next zero is skipped.
        if (!scan.prevZero && ch != 0) continue;
        if (ch == 0x21) {
            if (!DecodeExtension(fp)) return Found::BadExtension;
            continue;
        }
        if (ch == 0x3B) return Found::End;
        if (ch != 0x2C) {
            scan.prevZero = ch == 0;
            continue;
        }
        if (!ReadImageDescriptor(fp, image)) return Found::End;
        if (scan.first && image.w > 0 && image.h > 0) {
            tag_dscgif& screen = *scan.screen;
            screen.scrwidth = uint16_t(std::clamp<int32_t>(int32_t(image.l) + image.w, screen.scrwidth, 0xFFFF));
            screen.scrheight = uint16_t(std::clamp<int32_t>(int32_t(image.t) + image.h, screen.scrheight, 0xFFFF));
        }
        if (!FrameFits(image, *scan.screen)) continue;
        scan.first = false;
        if (image.pf & 0x80) {
            ReadTable(fp, scan.local, image.pf);
            scan.table = &scan.local;
        } else {
            scan.table = &scan.global;
        }
        return Found::Frame;
    }
}

void VxImageGIF::ApplyFramePalette(const tag_TabCol& table, int32_t size, bool haveTable) {
    if (!haveTable) return;
    uint8_t r[256], g[256], b[256];
    for (int32_t i = 0; i < size; ++i) {
        r[i] = table.paleta[i][0];
        g[i] = table.paleta[i][1];
        b[i] = table.paleta[i][2];
    }
    if (Info.TransIndex != -1 && size < 256) {
        for (int32_t i = size; i < 256; ++i) r[i] = g[i] = b[i] = 255;
    }
    SetPalette(uint32_t(Info.TransIndex == -1 ? size : 256), r, g, b);
}

int VxImageGIF::DecodeFrameData(VxFile* fp, const tag_image& image, int64_t& dataStart) {
    VxImageIterator iter(this);
    iter.Upset();
    interlaced = image.pf & 0x40;
    frameHeight = image.h;
    passStep = kPassStep[0];
    passRow = kPassStart[0];
    passIndex = 0;
    readPos = 16384;
    readCount = 0;
    terminatorSeen = false;
    linesDone = false;
    int badCodes = 0;
    dataStart = fp->Tell64();
    bytesTaken = 0;
    decoder(fp, &iter, image.w, badCodes);
    ChargeWork(uint64_t(bytesTaken) * kWorkPerDataByte);
    return badCodes;
}

void VxImageGIF::SkipFrameTail(VxFile* fp, int64_t dataStart, int badCodes) {
    if (badCodes) {
        seek_next_image(fp, dataStart);
        return;
    }
    // Back to the first byte the decoder did not use, then past any data
    // sub-blocks it left unread and their terminator.
    fp->Seek64(readPos - readCount, SEEK_CUR);
    if (terminatorSeen) return;
    for (;;) {
        uint8_t n;
        if (fp->Read(&n, 1, 1) != 1 || n == 0) return;
        if (!fp->Seek64(n, SEEK_CUR)) return;
    }
}

int VxImageGIF::get_num_frames(VxFile* fp, FrameScan scan, bool& anyDelay) {
    const int64_t start = fp->Tell64();
    scan.watchEscape = false;
    int count = 0;
    for (;;) {
        tag_image image;
        const Found found = NextFrame(fp, scan, image);
        if (found == Found::End) break;
        if (found != Found::Frame) continue;  // counting reads past a bad extension
        ++count;
        if (controlBlock.delay) anyDelay = true;
        controlBlock = ControlBlock{};
        ChargeWork(uint64_t(image.w) * image.h);
        if (ScanFrameData(fp, image)) continue;
        // Only the decoder knows where a damaged frame's data ends.
        if (!Create(image.w, image.h, DepthFor(scan.table->sogct), VX_FORMAT_GIF))
            throw VxCodecFailure("GIF: cannot create the frame");
        int64_t frameData = 0;
        const int badCodes = DecodeFrameData(fp, image, frameData);
        SkipFrameTail(fp, frameData, badCodes);
    }
    fp->Seek64(start, SEEK_SET);
    return count;
}

bool VxImageGIF::ScanFrameData(VxFile* fp, const tag_image& image) {
    const int64_t dataStart = fp->Tell64();
    if (dataStart < 0) return false;
    // The data sub-blocks as the decoder would meet them: their bytes joined,
    // each block's place in the stream, and how the chain ends.
    std::vector<uint8_t> data;
    std::vector<uint32_t> blockEnd;     // offset in `data` after each whole block
    std::vector<int64_t> streamAfter;   // stream bytes taken once that block is loaded
    enum class End { Terminator, Eof, Cut } end = End::Eof;
    int64_t endBytes = 0;  // what loading past the last whole block takes
    uint8_t minSize = 0;
    if (fp->Read(&minSize, 1, 1) != 1) {
        // The decoder takes nothing and stops; the tail skip finds nothing either.
        fp->Seek64(dataStart, SEEK_SET);
        return true;
    }
    int64_t taken = 1;
    if (minSize >= 2 && minSize <= 9) {
        uint8_t block[255];
        for (;;) {
            uint8_t n;
            if (fp->Read(&n, 1, 1) != 1) break;
            if (n == 0) {
                end = End::Terminator;
                endBytes = 1;
                break;
            }
            const size_t got = fp->Read(block, 1, n);
            if (got != n) {
                end = End::Cut;
                endBytes = 1 + int64_t(got);
                break;
            }
            data.insert(data.end(), block, block + n);
            taken += 1 + n;
            blockEnd.push_back(uint32_t(data.size()));
            streamAfter.push_back(taken);
        }
    }
    data.resize(data.size() + 4, 0);  // room for the bit reader's wide loads
    const uint64_t dataBits = uint64_t(data.size() - 4) * 8;

    // Replays the decoder's code loop. Only lengths of table strings are
    // kept; a code the decoder counts as bad (or a chain its pixel stack
    // could not hold) is left to the decoder itself.
    int64_t bytesTaken = 1;
    bool terminator = false;
    if (minSize >= 2 && minSize <= 9) {
        const int32_t clear = 1 << minSize, endCode = clear + 1, firstFree = clear + 2;
        int32_t width = minSize + 1, limit = 1 << width, nextFree = firstFree, oldCode = 0;
        uint16_t length[4096];
        for (int32_t i = 0; i < firstFree; ++i) length[i] = 1;
        const uint64_t rowsAllowed = uint64_t(image.h) + 1;
        const uint64_t stopAt = rowsAllowed * image.w;  // the first row past the frame
        uint64_t pixels = 0, bit = 0;
        bool ranOut = false;
        auto next = [&]() -> int32_t {
            if (bit + uint64_t(width) > dataBits) {
                ranOut = true;
                return -1;
            }
            const uint32_t v = vx::LoadLE32(&data[size_t(bit >> 3)]);
            const int32_t c = int32_t((v >> (bit & 7)) & ((1u << width) - 1));
            bit += uint64_t(width);
            return c;
        };
        for (;;) {
            int32_t c = next();
            if (c < 0 || c == endCode) break;
            if (c == clear) {
                width = minSize + 1;
                nextFree = firstFree;
                limit = 1 << width;
                do c = next();
                while (c == clear);
                if (c < 0 || c == endCode) break;
                if (c >= nextFree) c = 0;
                oldCode = c;
                if (++pixels >= stopAt) break;
                continue;
            }
            const uint32_t len = c == nextFree ? uint32_t(length[oldCode]) + 1
                                 : c < nextFree  ? uint32_t(length[c])
                                                 : 4097u;
            if (len > 4096) {
                fp->Seek64(dataStart, SEEK_SET);
                return false;
            }
            if (nextFree < limit) {
                length[nextFree] = uint16_t(std::min<uint32_t>(uint32_t(length[oldCode]) + 1, 4097));
                ++nextFree;
                oldCode = c;
            }
            if (nextFree >= limit && width < 12) {
                limit <<= 1;
                ++width;
            }
            pixels += len;
            if (pixels >= stopAt) break;
        }
        // Every whole block holding a byte the codes reached was loaded; a
        // code that ran out of data also loaded what follows the last one.
        const uint64_t bytesUsed = (bit + 7) / 8;
        if (bytesUsed > 0) {
            const size_t block = size_t(
                std::upper_bound(blockEnd.begin(), blockEnd.end(), uint32_t(bytesUsed - 1)) -
                blockEnd.begin());
            bytesTaken = streamAfter[block];
        }
        if (ranOut) {
            bytesTaken = taken + endBytes;
            terminator = end == End::Terminator;
        }
    }
    ChargeWork(uint64_t(bytesTaken) * kWorkPerDataByte);
    fp->Seek64(dataStart + bytesTaken, SEEK_SET);
    if (!terminator) {
        for (;;) {
            uint8_t n;
            if (fp->Read(&n, 1, 1) != 1 || n == 0) break;
            if (!fp->Seek64(n, SEEK_CUR)) break;
        }
    }
    return true;
}

int64_t VxImageGIF::seek_next_image(VxFile* fp, int64_t position) {
    fp->Seek64(position, SEEK_SET);
    uint8_t prev = 0, ch;
    while (fp->Read(&ch, 1, 1) == 1) {
        if (ch == 0x2C && prev == 0) {
            fp->Seek64(-1, SEEK_CUR);
            return fp->Tell64();
        }
        prev = ch;
    }
    return -1;
}

bool VxImageGIF::DecodeExtension(VxFile* fp) {
    uint8_t label;
    if (fp->Read(&label, 1, 1) != 1) return false;
    bool ok = true;
    uint8_t len = 0;
    switch (label) {
        case 0xF9: {
            ok = fp->Read(&len, 1, 1) == 1;
            if (ok) {
                uint8_t raw[4];
                const size_t got = fp->Read(raw, 1, 4);
                ok = got == 4 && len == got;
                if (ok) {
                    controlBlock.flags = raw[0];
                    controlBlock.delay = vx::LoadLE16(raw + 1);
                    controlBlock.transpcolindex = raw[3];
                    if (controlBlock.flags & 1) Info.TransIndex = controlBlock.transpcolindex;
                    Info.FrameDelay = controlBlock.delay;
                    disposal = (controlBlock.flags >> 2) & 7;
                }
            }
            break;
        }
        case 0xFE: {
            if (fp->Read(&len, 1, 1) != 1) return false;
            if (len == 0) {  // the terminator itself: an empty comment
                comment[0] = '\0';
                return true;
            }
            ok = fp->Read(comment, len, 1) == 1;
            comment[ok ? len : 0] = '\0';
            break;
        }
        case 0xFF: {
            if (fp->Read(&len, 1, 1) != 1 || len != 11) return false;
            uint8_t ident[11];
            if (fp->Read(ident, 11, 1) != 1) return false;
            if (fp->Read(&len, 1, 1) != 1) return false;
            if (len == 0) return true;
            uint8_t data[255];
            ok = fp->Read(data, len, 1) == 1;
            // Other applications' blocks (a writer's gamma note, say) carry no loop count.
            const bool loopBlock = std::memcmp(ident, "NETSCAPE2.0", 11) == 0 ||
                                   std::memcmp(ident, "ANIMEXTS1.0", 11) == 0;
            if (ok && len > 2 && loopBlock) {
                loops = data[1] + 256 * data[2];
                loopSeen = true;
            }
            break;
        }
        default: break;
    }
    if (ok) {
        for (;;) {
            uint8_t n;
            if (fp->Read(&n, 1, 1) != 1 || n == 0) break;
            if (!fp->Seek64(n, SEEK_CUR)) break;
        }
    }
    return ok;
}

int VxImageGIF::get_byte(VxFile* fp) {
    if (readPos >= kReadAhead) {
        readCount = int32_t(fp->Read(readBuffer, 1, kReadAhead));
        if (readCount < kReadAhead) readBuffer[readCount] = 0xFF;
        readPos = 0;
    }
    if (readPos >= readCount) return -1;
    ++bytesTaken;
    return readBuffer[readPos++];
}

void VxImageGIF::init_exp(short size) {
    codeWidth = short(size + 1);
    widthLimit = short(1 << (size + 1));
    clearCode = short(1 << size);
    endCode = short(clearCode + 1);
    firstFree = nextFree = short(clearCode + 2);
    blockLeft = bitsLeft = 0;
    std::memset(pixelStack, 0, sizeof(pixelStack));
    std::memset(suffixTable, 0, sizeof(suffixTable));
    std::memset(prefixTable, 0, sizeof(prefixTable));
}

short VxImageGIF::get_next_code(VxFile* fp) {
    // Loads the next data sub-block; a negative value is a read failure.
    auto loadBlock = [&]() -> int {
        blockCursor = blockBuffer;
        const int n = get_byte(fp);
        if (n < 0) return n;
        blockLeft = short(n);
        if (n == 0) terminatorSeen = true;
        for (int i = 0; i < n; ++i) {
            const int b = get_byte(fp);
            if (b < 0) return b;
            blockBuffer[i] = uint8_t(b);
        }
        return 0;
    };
    if (bitsLeft == 0) {
        if (blockLeft <= 0) {
            const int r = loadBlock();
            if (r < 0) return short(r);
        }
        currentByte = *blockCursor++;
        bitsLeft = 8;
        --blockLeft;
    }
    if (blockLeft < 0) return endCode;  // a zero-length sub-block ends the data
    int32_t value = currentByte >> (8 - bitsLeft);
    while (codeWidth > bitsLeft) {
        if (blockLeft <= 0) {
            const int r = loadBlock();
            if (r < 0) return short(r);
            if (blockLeft == 0) {
                blockLeft = -1;
                return endCode;
            }
        }
        currentByte = *blockCursor++;
        value |= int32_t(currentByte) << bitsLeft;
        bitsLeft = short(bitsLeft + 8);
        --blockLeft;
    }
    bitsLeft = short(bitsLeft - codeWidth);
    return short(value & kCodeMask[codeWidth]);
}

short VxImageGIF::decoder(VxFile* fp, VxImageIterator* iter, int32_t lineWidth, int& badCodes) {
    badCodes = 0;
    const int size = get_byte(fp);
    if (size < 0) return short(size);
    if (size < 2 || size > 9) return -20;
    init_exp(short(size));

    // At least one padded row, so that a copy of a whole row stays inside.
    VxImage* img = iter->GetImage();
    const size_t bufBytes = std::max<size_t>(size_t(lineWidth) + 1, img ? img->GetEffWidth() : 0);
    uint8_t* buf = static_cast<uint8_t*>(std::calloc(bufBytes, 1));
    if (!buf) return -10;
    int32_t fill = 0;
    auto emit = [&](uint8_t b) -> int {
        buf[fill++] = b;
        if (fill >= lineWidth) {
            fill = 0;
            return out_line(iter, buf, lineWidth);
        }
        return 0;
    };

    uint8_t* sp = pixelStack;
    uint8_t* const stackEnd = pixelStack + kStackSize;
    int32_t oldCode = 0, first = 0;
    int c;
    while ((c = get_next_code(fp)) != endCode) {
        if (c < 0) {
            std::free(buf);
            return 0;
        }
        if (c == clearCode) {
            codeWidth = short(size + 1);
            nextFree = firstFree;
            widthLimit = short(1 << codeWidth);
            while ((c = get_next_code(fp)) == clearCode) {
            }
            if (c == endCode) break;
            if (c < 0) {
                std::free(buf);
                return 0;
            }
            if (c >= nextFree) c = 0;
            oldCode = first = c;
            const int r = emit(uint8_t(c));
            if (r < 0) {
                std::free(buf);
                return short(r);
            }
            continue;
        }
        int32_t code = c;
        bool overflow = false;
        auto push = [&](uint8_t v) {
            if (sp == stackEnd) overflow = true;
            else *sp++ = v;
        };
        if (code >= nextFree) {
            if (code > nextFree) ++badCodes;
            push(uint8_t(first));
            code = oldCode;
        }
        while (code >= firstFree && !overflow) {
            push(suffixTable[code]);
            code = prefixTable[code];
        }
        if (overflow) {
            // A looping or overlong chain: the frame ends here.
            std::free(buf);
            return 0;
        }
        push(uint8_t(code));
        if (overflow) {
            std::free(buf);
            return 0;
        }
        if (nextFree < widthLimit) {
            first = code;
            suffixTable[nextFree] = uint8_t(code);
            prefixTable[nextFree] = uint16_t(oldCode);
            ++nextFree;
            oldCode = c;
        }
        if (nextFree >= widthLimit && codeWidth < 12) {
            widthLimit = short(widthLimit << 1);
            ++codeWidth;
        }
        while (sp > pixelStack) {
            const int r = emit(*--sp);
            if (r < 0) {
                std::free(buf);
                return short(r);
            }
        }
    }
    int r = 0;
    if (fill > 0) r = out_line(iter, buf, fill);
    std::free(buf);
    return short(r);
}

int VxImageGIF::out_line(VxImageIterator* iter, uint8_t* pixels, int length) {
    VxImage* img = iter->GetImage();
    if (!img || !img->IsValid()) return -1;
    const int32_t width = int32_t(img->GetWidth());
    const uint16_t bpp = img->GetBpp();
    if (bpp == 4) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t v = pixels[x] & 0x0F;
            uint8_t& t = pixels[x >> 1];
            if (x & 1) t = uint8_t(t | v);
            else t = uint8_t(v << 4);
        }
    } else if (bpp == 1) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t v = pixels[x] & 1;
            uint8_t& t = pixels[x >> 3];
            const int shift = 7 - (x & 7);
            if (shift == 7) t = uint8_t(v << 7);
            else t = uint8_t(t | (v << shift));
        }
    }
    const uint32_t eff = img->GetEffWidth();
    const uint32_t copy = (length < 0 || uint32_t(length) >= eff) ? eff : uint32_t(length);

    if (interlaced) {
        if (linesDone) return -1;
        if (iter->SetRow(frameHeight - passRow - 1)) iter->WriteRow(pixels, copy);
        passRow += passStep;
        while (passRow >= frameHeight) {
            if (++passIndex >= 4) {
                linesDone = true;
                break;
            }
            passStep = kPassStep[passIndex];
            passRow = kPassStart[passIndex];
        }
        return 0;
    }
    if (!iter->InPicture()) return -1;
    iter->WriteRow(pixels, copy);
    iter->NextLineDown();
    return 0;
}
