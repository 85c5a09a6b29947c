#include "codecs/png/apng_frames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "codecs/png/png_chunks.h"
#include "core/vx_codec.h"
#include "core/vx_file.h"
#include "core/vx_image.h"
#include "core/vx_rgba_rows.h"

namespace vx::png {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct Chunk {
    char type[5] = {};
    std::span<const uint8_t> data;
};

struct FrameControl {
    uint32_t width = 0, height = 0, x = 0, y = 0;
    uint32_t delayMs = 0;
    uint8_t dispose = 0, blend = 0;
    std::vector<std::span<const uint8_t>> data;  // zlib stream pieces, in order
};

[[noreturn]] void Fail(const char* text) { throw VxCodecFailure(text); }

std::vector<Chunk> SplitChunks(std::span<const uint8_t> file) {
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) Fail("PNG: not a PNG file");
    std::vector<Chunk> chunks;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const uint32_t length = vx::LoadBE32(file.data() + pos);
        if (length > file.size() - pos - 12) Fail("PNG: a chunk runs past the end of the file");
        Chunk c;
        std::memcpy(c.type, file.data() + pos + 4, 4);
        c.data = file.subspan(pos + 8, length);
        chunks.push_back(c);
        pos += 12 + size_t(length);
        if (std::memcmp(c.type, "IEND", 4) == 0) break;
    }
    return chunks;
}

FrameControl ReadControl(std::span<const uint8_t> d, uint32_t canvasW, uint32_t canvasH) {
    if (d.size() != 26) Fail("PNG: damaged frame control chunk");
    FrameControl f;
    f.width = vx::LoadBE32(d.data() + 4);
    f.height = vx::LoadBE32(d.data() + 8);
    f.x = vx::LoadBE32(d.data() + 12);
    f.y = vx::LoadBE32(d.data() + 16);
    const uint32_t num = vx::LoadBE16(d.data() + 20), den = vx::LoadBE16(d.data() + 22);
    f.delayMs = uint32_t((uint64_t(num) * 1000 + (den ? den : 100) / 2) / (den ? den : 100));
    f.dispose = d[24];
    f.blend = d[25];
    if (f.width == 0 || f.height == 0 || f.x > canvasW || f.y > canvasH ||
        f.width > canvasW - f.x || f.height > canvasH - f.y || f.dispose > 2 || f.blend > 1)
        Fail("PNG: a frame lies outside the canvas");
    return f;
}

// One frame as a PNG of its own: the file's header at the frame's size, the
// chunks that describe its pixels, and its data as image data.
bool DecodeFrame(const std::vector<Chunk>& header, const FrameControl& f, VxImage& into) {
    VxMemFile out;
    if (!out.Open()) return false;
    out.Write(kSignature, 1, 8);
    for (const Chunk& c : header) {
        if (std::memcmp(c.type, "IHDR", 4) == 0) {
            uint8_t ihdr[13];
            std::memcpy(ihdr, c.data.data(), 13);
            vx::StoreBE32(ihdr, f.width);
            vx::StoreBE32(ihdr + 4, f.height);
            WriteChunk(&out, "IHDR", ihdr, 13);
        } else {
            WriteChunk(&out, c.type, c.data.data(), c.data.size());
        }
    }
    for (const auto& piece : f.data) WriteChunk(&out, "IDAT", piece.data(), piece.size());
    WriteChunk(&out, "IEND", nullptr, 0);
    const uint32_t size = uint32_t(out.Size());
    uint8_t* bytes = out.GetBuffer(true);
    const bool ok = into.Decode(bytes, size, VX_FORMAT_PNG);
    std::free(bytes);
    return ok;
}

// Non-premultiplied "over", rounded.
void BlendOver(uint8_t* dst, const uint8_t* src) {
    const uint32_t sa = src[3], da = dst[3];
    if (sa == 255 || da == 0) {
        std::memcpy(dst, src, 4);
        return;
    }
    if (sa == 0) return;
    const uint32_t outA255 = sa * 255 + da * (255 - sa);  // alpha times 255
    for (int c = 0; c < 3; ++c)
        dst[c] = uint8_t((uint32_t(src[c]) * sa * 255 + uint32_t(dst[c]) * da * (255 - sa) +
                          outA255 / 2) / outA255);
    dst[3] = uint8_t((outA255 + 127) / 255);
}

}  // namespace

std::shared_ptr<VxFrames> ReadApngFrames(std::span<const uint8_t> file, VxImage& owner) {
    try {
        const std::vector<Chunk> chunks = SplitChunks(file);
        if (chunks.empty() || std::memcmp(chunks[0].type, "IHDR", 4) != 0 || chunks[0].data.size() != 13)
            Fail("PNG: damaged header");
        const uint32_t canvasW = vx::LoadBE32(chunks[0].data.data());
        const uint32_t canvasH = vx::LoadBE32(chunks[0].data.data() + 4);
        auto frames = std::make_shared<VxFrames>();
        std::vector<Chunk> header;  // what every frame's PNG repeats
        std::vector<FrameControl> controls;
        bool seenData = false, stillIsFrame = false;
        for (const Chunk& c : chunks) {
            const std::string type(c.type, 4);
            if (type == "acTL") {
                if (c.data.size() != 8) Fail("PNG: damaged animation control chunk");
                frames->plays = vx::LoadBE32(c.data.data() + 4);
            } else if (type == "fcTL") {
                controls.push_back(ReadControl(c.data, canvasW, canvasH));
            } else if (type == "IDAT") {
                // The still picture is the first frame when a frame control precedes it.
                if (!seenData) stillIsFrame = controls.size() == 1;
                if (stillIsFrame) controls[0].data.push_back(c.data);
                seenData = true;
            } else if (type == "fdAT") {
                if (c.data.size() < 4 || controls.empty() || (stillIsFrame && controls.size() == 1))
                    Fail("PNG: damaged frame data chunk");
                controls.back().data.push_back(c.data.subspan(4));
            } else if (!seenData &&
                       (&c == &chunks[0] || type == "PLTE" || type == "tRNS" || type == "gAMA" ||
                        type == "cHRM" || type == "sRGB" || type == "sBIT")) {
                // Only the first header: a second one would be read as 13 bytes.
                header.push_back(c);
            }
        }
        if (controls.size() < 2) return nullptr;
        for (const FrameControl& f : controls)
            if (f.data.empty()) Fail("PNG: an animation frame has no data");
        if (!vx::AnimationFits(owner, controls.size(), canvasW, canvasH) ||
            !owner.PictureFits(canvasW, canvasH, 32))
            return nullptr;

        const size_t stride = size_t(canvasW) * 4;
        std::vector<uint8_t> canvas(stride * canvasH, 0), saved;
        std::vector<uint8_t> rows;
        for (size_t i = 0; i < controls.size(); ++i) {
            if (owner.CancelledBetweenPieces()) Fail("PNG: cancelled");
            const FrameControl& f = controls[i];
            VxImage piece(0);
            piece.SetMaxPixels(owner.GetMaxPixels());
            if (!DecodeFrame(header, f, piece)) {
                owner.SetLastError(piece.GetLastError());
                return nullptr;
            }
            rows.assign(size_t(f.width) * f.height * 4, 0);
            vx::LoadRows(piece, rows.data(), size_t(f.width) * 4, 4);
            // A frame restored afterwards: what it covers now comes back.
            const uint8_t dispose = i == 0 && f.dispose == 2 ? 1 : f.dispose;
            if (dispose == 2) {
                saved.clear();
                for (uint32_t y = 0; y < f.height; ++y) {
                    const uint8_t* row = canvas.data() + (f.y + y) * stride + size_t(f.x) * 4;
                    saved.insert(saved.end(), row, row + size_t(f.width) * 4);
                }
            }
            for (uint32_t y = 0; y < f.height; ++y) {
                uint8_t* dst = canvas.data() + (f.y + y) * stride + size_t(f.x) * 4;
                const uint8_t* src = rows.data() + size_t(y) * f.width * 4;
                if (f.blend == 0) std::memcpy(dst, src, size_t(f.width) * 4);
                else
                    for (uint32_t x = 0; x < f.width; ++x) BlendOver(dst + x * 4, src + x * 4);
            }
            auto shown = vx::CanvasFromRgba(canvas.data(), canvasW, canvasH, VX_FORMAT_PNG);
            if (!shown) Fail("PNG: can't allocate memory");
            frames->frames.push_back({std::move(shown), f.delayMs});
            for (uint32_t y = 0; y < f.height; ++y) {
                uint8_t* dst = canvas.data() + (f.y + y) * stride + size_t(f.x) * 4;
                if (dispose == 1) std::memset(dst, 0, size_t(f.width) * 4);
                else if (dispose == 2)
                    std::memcpy(dst, saved.data() + size_t(y) * f.width * 4, size_t(f.width) * 4);
            }
        }
        return frames;
    } catch (const VxCodecFailure& f) {
        owner.SetLastError(f.text);
    } catch (const std::bad_alloc&) {
        owner.SetLastError("PNG: can't allocate memory");
    }
    return nullptr;
}

}  // namespace vx::png
