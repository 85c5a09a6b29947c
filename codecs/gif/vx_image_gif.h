// GIF reader and writer: LZW decoding with frame compositing, and three
// interchangeable image-data coders for writing (LZW, uncompressed, run-length).
#pragma once

#include <cstdint>
#include <cstdio>

#include "codecs/gif/vx_image_iterator.h"
#include "core/vx_image.h"

// Header and logical screen descriptor (13 bytes on disk).
struct tag_dscgif {
    char header[6];
    uint16_t scrwidth;
    uint16_t scrheight;
    uint8_t pflds;
    uint8_t bcindx;
    uint8_t pxasrat;
};

// Image descriptor (9 bytes on disk after the 0x2C introducer).
struct tag_image {
    uint16_t l;
    uint16_t t;
    uint16_t w;
    uint16_t h;
    uint8_t pf;
};

// Colour table: the global one, overwritten in place by each local one read.
struct tag_TabCol {
    int16_t colres;
    int16_t sogct;
    uint8_t paleta[256][3];
};

// Run-length coder state.
struct tag_RLE {
    int32_t rl_pixel;
    int32_t rl_basecode;
    int32_t rl_count;
    int32_t rl_table_pixel;
    int32_t rl_table_max;
    int32_t just_cleared;
    int32_t out_bits;
    int32_t out_bits_init;
    int32_t out_count;
    int32_t out_bump;
    int32_t out_bump_init;
    int32_t out_clear;
    int32_t out_clear_init;
    int32_t max_ocodes;
    int32_t code_clear;
    int32_t code_eof;
    uint32_t obuf;
    int32_t obits;
    uint8_t oblock[256];
    int32_t oblen;
};

class VxImageGIF : public VxImage {
public:
    static constexpr bool kReportsFrames = true;

    VxImageGIF();
    VxImageGIF(const VxImageGIF& other) = default;
    VxImageGIF& operator=(const VxImageGIF& other) = default;
    ~VxImageGIF() override = default;

    bool Decode(VxFile* fp);
    bool Encode(VxFile* fp);
    bool Encode(VxFile* fp, VxImage** images, int count, bool localColorMap);
    bool Encode(VxFile* fp, VxImage** images, int32_t count) {
        return Encode(fp, images, count, false);
    }

    void SetLoops(int loops_) { loops = loops_; }
    int32_t GetLoops() const { return loops; }
    void SetComment(const char* text);
    void GetComment(char* out) const;
    void SetDisposalMethod(int method) { disposal = method; }
    int32_t GetDisposalMethod() const { return disposal; }


protected:
    // --- decoding steps ---
    bool DecodeExtension(VxFile* fp);
    // The frame scan both passes share: blocks up to the next image
    // descriptor that fits the screen, and that frame's colour table.
    struct FrameScan {
        // Grown to hold the file's first frame where that is larger, as
        // browsers show it.
        tag_dscgif* screen = nullptr;
        bool first = true;
        tag_TabCol global{}, local{};
        const tag_TabCol* table = nullptr;
        bool prevZero = true;
        bool watchEscape = false;
    };
    enum class Found { Frame, BadExtension, End, Cancelled };
    Found NextFrame(VxFile* fp, FrameScan& scan, tag_image& image);
    // Frames in the file (every one decoded or scanned once); `anyDelay` is
    // set when one of them has a display delay.
    int get_num_frames(VxFile* fp, FrameScan scan, bool& anyDelay);
    int64_t seek_next_image(VxFile* fp, int64_t position);
    int get_byte(VxFile* fp);
    void init_exp(short size);
    short get_next_code(VxFile* fp);
    short decoder(VxFile* fp, VxImageIterator* iter, int32_t lineWidth, int& badCodes);
    int out_line(VxImageIterator* iter, uint8_t* pixels, int length);

    // --- encoding steps ---
    void EncodeHeader(VxFile* fp);
    void EncodeLoopExtension(VxFile* fp);
    void EncodeExtension(VxFile* fp);
    void EncodeComment(VxFile* fp);
    void EncodeBody(VxFile* fp, bool localColorMap = false);
    bool EncodeRGB(VxFile* fp);
    bool EncodeAnimation(VxFile* fp, const VxFrames& anim);
    int GifNextPixel();
    void Putword(int w, VxFile* fp);
    void compressNONE(int initBits, VxFile* outfile);
    // Code-packer state shared by the LZW and uncompressed coders.
    void beginCodes(int initBits, VxFile* outfile);
    void compressLZW(int initBits, VxFile* outfile);
    void compressRLE(int initBits, VxFile* outfile);
    void output(short code);
    void cl_hash(long hsize);
    void char_out(int c);
    void flush_char();

    void rle_clear(tag_RLE* rle);
    void rle_flush(tag_RLE* rle);
    void rle_output_plain(int c, tag_RLE* rle);
    void rle_flush_fromclear(int count, tag_RLE* rle);
    void rle_reset_out_clear(tag_RLE* rle);
    void rle_flush_withtable(int count, tag_RLE* rle);
    unsigned int rle_compute_triangle_count(unsigned int count, unsigned int nrepcodes);
    unsigned int rle_isqrt(unsigned int x);
    void rle_flush_clearorrep(int count, tag_RLE* rle);
    void rle_write_block(tag_RLE* rle);
    void rle_block_out(uint8_t c, tag_RLE* rle);
    void rle_block_flush(tag_RLE* rle);
    void rle_output(int val, tag_RLE* rle);
    void rle_output_flush(tag_RLE* rle);

private:
    // Pixel work one decode may do, in proportion to the input size; keeps a
    // few hundred bytes from demanding gigabytes or hours.
    void ChargeWork(uint64_t pixels);
    // Positions the stream after a decoded frame's data.
    void SkipFrameTail(VxFile* fp, int64_t dataStart, int badCodes);
    int DecodeFrameData(VxFile* fp, const tag_image& image, int64_t& dataStart);
    // The counting pass's view of one frame's data: reads the LZW codes without
    // making pixels and leaves the stream, the work charge and this object's
    // frame as DecodeFrameData plus SkipFrameTail would. False (stream back at
    // the data) when the codes hold something only the full decoder handles.
    bool ScanFrameData(VxFile* fp, const tag_image& image);
    // Frame palette from the colour-table record.
    void ApplyFramePalette(const tag_TabCol& table, int32_t size, bool haveTable);
    // Colour table entries as GIF writes them: 2^bpp triples, zero-padded.
    void WriteColorTable(VxFile* fp);
    // The end of a successful encode: a stream error turns it into a failure.
    bool FinishEncode(VxFile* fp);

public:
    // Rough per-frame record layout (on disk: flags, delay LE16, index).
    struct ControlBlock {
        uint8_t flags;
        uint16_t delay;
        uint8_t transpcolindex;
    };

protected:
    ControlBlock controlBlock{};
    int32_t encodeX = 0, encodeRow = 0;
    int64_t pixelsLeft = 0;  // 64-bit: an 8-bit picture may hold more than 2^31 pixels
    uint32_t bitAccum = 0;
    int32_t bitCount = 0;
    int32_t interlaced = 0;
    int32_t passRow = 0, passStep = 0, frameHeight = 0, passIndex = 0;
    int32_t readPos = 0, readCount = 0;
    uint8_t readBuffer[16384];
    short codeWidth = 0, clearCode = 0, endCode = 0, firstFree = 0, widthLimit = 0, nextFree = 0,
          blockLeft = 0, bitsLeft = 0;
    uint8_t currentByte = 0;
    uint8_t blockBuffer[257];
    uint8_t* blockCursor = nullptr;
    uint8_t pixelStack[4096];
    uint8_t suffixTable[4096];
    uint16_t prefixTable[4096];
    int32_t hashTable[5003];
    uint16_t codeTable[5003];
    int32_t encodeWidth = 0;
    short encodeMaxCode = 0;
    short encodeNextCode = 0;
    int32_t clearPending = 0;
    int32_t encodeInitBits = 0;
    VxFile* encodeStream = nullptr;
    int32_t encodeClear = 0, encodeEnd = 0;
    int32_t packetLength = 0;
    uint8_t packet[256];
    char comment[256];
    int32_t loops = 0;
    int32_t disposal = 0;

private:
    int64_t workLeft = 0;
    int64_t bytesTaken = 0;
    bool terminatorSeen = false;
    bool loopSeen = false;  // a loop block was read (none: the animation plays once)
    bool linesDone = false;
    bool writeFailed = false;
    const uint8_t* encodeRowPtr = nullptr;
    int32_t encodeRowPtrRow = -1;
};
