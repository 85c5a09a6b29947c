#include "codecs/jpeg/vx_image_jpg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "codecs/jpeg/vx_jpeg_app_segments.h"
#include "core/vx_exif_edit.h"
#include "core/vx_srgb.h"

static_assert(JPEG_LIB_VERSION == 62, "the codec is written for the libjpeg 6b interface");

// libjpeg leaves by longjmp on a fatal error. Every frame that jump can cross
// (RunDecode/RunEncode and the callbacks below) holds plain data only; whatever
// must be released lives in the state block owned by Decode/Encode, which
// release it on every exit.

namespace {

constexpr size_t kBridgeBufferSize = 4096;

// One bridge serves both directions: the decoder uses its source half, the
// encoder its destination half.
struct VxJpegStream {
    jpeg_source_mgr src;
    jpeg_destination_mgr dest;
    VxFile* file;
    JOCTET* buffer;
    boolean startOfFile;
    // The file ended and an end marker was made up in its place...
    boolean endSupplied;
    // ...and the picture's coded data then ran into it: rows are missing.
    boolean cutShort;
};

struct VxJpegErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char* text;  // the image's LastError
    size_t textSize;
};

VxJpegStream* StreamOf(j_common_ptr cinfo) { return static_cast<VxJpegStream*>(cinfo->client_data); }

void ErrorExit(j_common_ptr cinfo) {
    VxJpegErrorMgr* err = reinterpret_cast<VxJpegErrorMgr*>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    vx::CopyTextUtf8(err->text, err->textSize, message);
    longjmp(err->jump, 1);
}

// Warnings are still counted by libjpeg; they are just never printed.
void OutputMessage(j_common_ptr) {}

// A file that ends after its last coded byte (only the end marker missing)
// is whole; coded data that meets the made-up marker is not.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    ++cinfo->err->num_warnings;
    VxJpegStream* s = StreamOf(cinfo);
    if (cinfo->err->msg_code == JWRN_HIT_MARKER && s->endSupplied) s->cutShort = TRUE;
}

// A progressive or multi-scan file passes over the whole coefficient buffer
// once per scan; a forged file of thousands of tiny scans would take hours.
constexpr int kMaxScans = 1000;

void WatchScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    const j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        VxJpegErrorMgr* err = reinterpret_cast<VxJpegErrorMgr*>(cinfo->err);
        vx::CopyTextUtf8(err->text, err->textSize, "JPEG: too many scans in the file");
        longjmp(err->jump, 1);
    }
}

void InitSource(j_decompress_ptr cinfo) { StreamOf(j_common_ptr(cinfo))->startOfFile = TRUE; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    VxJpegStream* s = StreamOf(j_common_ptr(cinfo));
    size_t n = s->file->Read(s->buffer, 1, kBridgeBufferSize);
    if (n == 0) {
        if (s->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // Premature end: supply an end-of-image marker so the decode completes.
        s->endSupplied = TRUE;
        WARNMS(cinfo, JWRN_JPEG_EOF);
        s->buffer[0] = 0xFF;
        s->buffer[1] = JPEG_EOI;
        n = 2;
    }
    s->src.next_input_byte = s->buffer;
    s->src.bytes_in_buffer = n;
    s->startOfFile = FALSE;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    VxJpegStream* s = StreamOf(j_common_ptr(cinfo));
    size_t n = size_t(count);
    while (n > s->src.bytes_in_buffer) {
        n -= s->src.bytes_in_buffer;
        FillInputBuffer(cinfo);
    }
    s->src.next_input_byte += n;
    s->src.bytes_in_buffer -= n;
}

void TermSource(j_decompress_ptr) {}

void InitDestination(j_compress_ptr cinfo) {
    VxJpegStream* s = StreamOf(j_common_ptr(cinfo));
    s->dest.next_output_byte = s->buffer;
    s->dest.free_in_buffer = kBridgeBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    VxJpegStream* s = StreamOf(j_common_ptr(cinfo));
    if (s->file->Write(s->buffer, 1, kBridgeBufferSize) != kBridgeBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    s->dest.next_output_byte = s->buffer;
    s->dest.free_in_buffer = kBridgeBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    VxJpegStream* s = StreamOf(j_common_ptr(cinfo));
    const size_t used = kBridgeBufferSize - s->dest.free_in_buffer;
    // A short write is as much a failure as no write at all.
    if (used > 0 && s->file->Write(s->buffer, 1, used) != used) ERREXIT(cinfo, JERR_FILE_WRITE);
    if (!s->file->Flush() || s->file->Error()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InstallErrorTrap(VxJpegErrorMgr* err, char* text, size_t textSize) {
    jpeg_std_error(&err->pub);
    err->pub.error_exit = ErrorExit;
    err->pub.output_message = OutputMessage;
    err->pub.emit_message = EmitMessage;
    err->text = text;
    err->textSize = textSize;
}

// The scale byte as the 6b library read it: 1/1, 1/2, 1/4 or 1/8. Later
// libraries also know N/8 steps, which would turn 0 into 2x and 3 into 3/8.
unsigned ScaleDenominator(uint8_t scale) {
    if (scale >= 8) return 8;
    if (scale >= 4) return 4;
    if (scale >= 2) return 2;
    return 1;
}

int32_t ClampDpi(double v) {
    if (!(v >= 0.0)) return 0;
    if (v > 2147483647.0) return INT32_MAX;
    return int32_t(v);
}

}  // namespace

// The first XMP packet, and the IPTC records of the APP13 segments read as
// one resource block (writers split long blocks over several segments).
void KeepXmpAndIptc(VxImage& img, jpeg_saved_marker_ptr marker) {
    bool haveXmp = false;
    std::vector<uint8_t> resources;
    for (; marker; marker = marker->next) {
        const std::span<const uint8_t> payload(marker->data, marker->data_length);
        if (marker->marker == JPEG_APP0 + 1 && !haveXmp) {
            const auto xmp = vx::jpeg::XmpOfSegment(payload);
            if (!xmp.empty()) {
                img.SetXmp(xmp);
                haveXmp = true;
            }
        } else if (marker->marker == JPEG_APP0 + 13 && vx::jpeg::IsIrbSegment(payload)) {
            const auto rest = payload.subspan(vx::jpeg::kIrbSignatureSize);
            resources.insert(resources.end(), rest.begin(), rest.end());
        }
    }
    if (!resources.empty()) img.SetIptc(vx::jpeg::IptcOfResources(resources));
}

struct VxImageJPG::DecodeState {
    jpeg_decompress_struct cinfo;
    VxJpegErrorMgr err;
    VxJpegStream stream;
    jpeg_progress_mgr progress;
    JOCTET* icc;  // from jpeg_read_icc_profile; released by Decode
    unsigned iccLength;
};

struct VxImageJPG::EncodeState {
    jpeg_compress_struct cinfo;
    VxJpegErrorMgr err;
    VxJpegStream stream;
    bool gray;
    // The picture's profile and EXIF block, when this file is to carry them.
    const uint8_t* icc;
    unsigned iccLength;
    const uint8_t* exif;
    unsigned exifLength;
    // APP1 XMP and APP13 IPTC payloads; empty: not written.
    std::vector<uint8_t> xmp;
    std::vector<uint8_t> iptc;
};

VxImageJPG::VxImageJPG() : VxImage(VX_FORMAT_JPG) { std::memset(&exifData, 0, sizeof(exifData)); }

VxImageJPG::~VxImageJPG() { delete exifReader; }

bool VxImageJPG::DecodeExif(VxFile* file) {
    delete exifReader;
    exifReader = nullptr;
    // A fresh record: nothing of an earlier file (least of all a thumbnail
    // pointer into the released reader) may survive.
    std::memset(&exifData, 0, sizeof(exifData));
    if (!file) return false;
    exifReader = new VxExifInfo(&exifData);
    const int64_t pos = file->Tell64();
    exifReader->DecodeExif(file, VxExifInfo::ReadModeExif);
    file->Seek64(pos, SEEK_SET);
    return exifData.isExif;
}

bool VxImageJPG::Decode(VxFile* file) {
    if (!file) {
        SetLastError("JPEG: no input stream");
        return false;
    }
    const bool haveExif = DecodeExif(file);
    if (haveExif) KeepExifBlock();

    DecodeState* st = static_cast<DecodeState*>(std::calloc(1, sizeof(DecodeState)));
    if (!st) {
        SetLastError("JPEG: out of memory");
        return false;
    }
    st->stream.file = file;
    st->stream.buffer = static_cast<JOCTET*>(std::malloc(kBridgeBufferSize));
    bool ok = false;
    if (st->stream.buffer)
        ok = RunDecode(st, haveExif);
    else
        SetLastError("JPEG: out of memory");
    if (ok && st->icc) SetIccProfile({st->icc, st->iccLength});
    std::free(st->icc);
    // jpeg_destroy is safe on a zeroed or half-built object.
    jpeg_destroy_decompress(&st->cinfo);
    std::free(st->stream.buffer);
    std::free(st);
    return ok;
}

bool VxImageJPG::RunDecode(DecodeState* st, bool haveExif) {
    j_decompress_ptr cinfo = &st->cinfo;
    InstallErrorTrap(&st->err, Info.LastError, sizeof(Info.LastError));
    cinfo->err = &st->err.pub;
    cinfo->client_data = &st->stream;
    if (setjmp(st->err.jump)) return false;

    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxLibraryMemory;
    st->stream.src.init_source = InitSource;
    st->stream.src.fill_input_buffer = FillInputBuffer;
    st->stream.src.skip_input_data = SkipInputData;
    st->stream.src.resync_to_restart = jpeg_resync_to_restart;
    st->stream.src.term_source = TermSource;
    st->stream.src.bytes_in_buffer = 0;
    st->stream.src.next_input_byte = nullptr;
    cinfo->src = &st->stream.src;
    st->progress.progress_monitor = WatchScans;
    cinfo->progress = &st->progress;

    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (!DimensionsOnly()) {
        jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(cinfo, JPEG_APP0 + 13, 0xFFFF);
    }
    jpeg_read_header(cinfo, TRUE);
    if (!DimensionsOnly()) {
        jpeg_read_icc_profile(cinfo, &st->icc, &st->iccLength);
        KeepXmpAndIptc(*this, cinfo->marker_list);
    }

    const uint32_t options = GetCodecOption(VX_FORMAT_JPG);
    if (options & DecodeGrayscale) cinfo->out_color_space = JCS_GRAYSCALE;
    if (options & DecodeQuantize) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = GetJpegQuality();
    }
    if (options & DecodeDither)
        cinfo->dither_mode = (ditherMode == JDITHER_NONE || ditherMode == JDITHER_ORDERED)
                                 ? J_DITHER_MODE(ditherMode)
                                 : JDITHER_FS;
    if (options & DecodeOnePass) cinfo->two_pass_quantize = FALSE;
    if (options & DecodeNoSmooth) cinfo->do_fancy_upsampling = FALSE;
    cinfo->scale_num = 1;
    cinfo->scale_denom = ScaleDenominator(GetJpegScale());

    // Colour files decode straight into the picture's blue-green-red order.
    const bool bgrDirect = !cinfo->quantize_colors && cinfo->out_color_space == JCS_RGB;
    if (bgrDirect) cinfo->out_color_space = JCS_EXT_BGR;

    jpeg_calc_output_dimensions(cinfo);
    // Resolution. JFIF first; EXIF values, where a file gives both of an
    // axis's numbers, take precedence. Unit 0 carries only an aspect ratio, so
    // it gives no DPI (the default stays).
    int32_t xdpi = 0;
    int32_t ydpi = 0;
    if (cinfo->density_unit == 2) {
        xdpi = int32_t(cinfo->X_density * 2.54 + 0.5);
        ydpi = int32_t(cinfo->Y_density * 2.54 + 0.5);
    } else if (cinfo->density_unit == 1) {
        xdpi = cinfo->X_density;
        ydpi = cinfo->Y_density;
    }
    if (haveExif) {
        if (exifData.xResolution != 0.0f && exifData.resolutionUnit != 0.0f)
            xdpi = ClampDpi(double(exifData.xResolution) / double(exifData.resolutionUnit));
        if (exifData.yResolution != 0.0f && exifData.resolutionUnit != 0.0f)
            ydpi = ClampDpi(double(exifData.yResolution) / double(exifData.resolutionUnit));
    }
    if (DimensionsOnly()) {
        SetXDPI(xdpi);
        SetYDPI(ydpi);
        return AnswerDimensions(VX_FORMAT_JPG, cinfo->output_width, cinfo->output_height,
                                cinfo->output_components == 1 ? 8 : 24);
    }
    // Before the library allocates: a progressive file keeps every coefficient
    // of the full-size picture, whatever the scale.
    if (!PictureFits(cinfo->output_width, cinfo->output_height, 24) ||
        (cinfo->progressive_mode && !PictureFits(cinfo->image_width, cinfo->image_height, 24)))
        return false;

    jpeg_start_decompress(cinfo);
    const int components = cinfo->output_components;
    if (components != 1 && components != 3 && components != 4) {
        SetLastError("JPEG: unsupported number of colour components");
        return false;
    }
    if (!Create(cinfo->output_width, cinfo->output_height, components == 1 ? 8 : 24, VX_FORMAT_JPG))
        return false;

    SetXDPI(xdpi);
    SetYDPI(ydpi);
    SyncHeaderToDib();
    if (haveExif) SetOrientation(exifData.orientation);

    if (cinfo->quantize_colors) {
        RGBQUAD* pal = GetPalette();
        const int n = cinfo->actual_number_of_colors < 256 ? cinfo->actual_number_of_colors : 256;
        const int mapComponents = cinfo->out_color_components;
        JSAMPARRAY map = cinfo->colormap;
        for (int i = 0; i < n && pal; ++i) {
            uint8_t r, g, b;
            if (mapComponents >= 4) {
                const unsigned c = map[0][i], m = map[1][i], y = map[2][i], k = map[3][i];
                r = uint8_t(k * c / 255);
                g = uint8_t(k * m / 255);
                b = uint8_t(k * y / 255);
            } else if (mapComponents == 3) {
                r = map[0][i];
                g = map[1][i];
                b = map[2][i];
            } else {
                r = g = b = map[0][i];
            }
            pal[i] = vx::MakeRGBQUAD(r, g, b, 0);
        }
        Info.LastNearestValid = false;
    } else if (cinfo->out_color_space == JCS_GRAYSCALE) {
        SetGrayPalette();
    }

    const uint32_t height = cinfo->output_height;
    const size_t width = cinfo->output_width;
    const bool direct = components == 1 || bgrDirect;
    JSAMPARRAY samples = nullptr;
    if (!direct)
        samples = (*cinfo->mem->alloc_sarray)(j_common_ptr(cinfo), JPOOL_IMAGE,
                                              JDIMENSION(width * size_t(components)), 1);

    while (cinfo->output_scanline < height) {
        if (Cancelled()) return false;
        uint8_t* dst = GetBits(height - 1 - cinfo->output_scanline);
        if (direct) {
            JSAMPROW row = dst;
            jpeg_read_scanlines(cinfo, &row, 1);
            continue;
        }
        jpeg_read_scanlines(cinfo, samples, 1);
        const uint8_t* src = samples[0];
        if (components == 4) {
            // Adobe files store CMYK inverted; k * c / 255 is then the red level.
            for (size_t x = 0; x < width; ++x, src += 4, dst += 3) {
                const unsigned c = src[0], m = src[1], y = src[2], k = src[3];
                dst[0] = uint8_t(k * y / 255);
                dst[1] = uint8_t(k * m / 255);
                dst[2] = uint8_t(k * c / 255);
            }
        } else {
            for (size_t x = 0; x < width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    if (st->stream.cutShort && !GetAllowTruncated()) {
        SetLastError("JPEG: the file is cut short (premature end of data)");
        return false;
    }
    return true;
}

bool VxImageJPG::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const bool gray = vx::IsGreyPicture(*this);
    if ((IsIndexed() && !gray) || (!IsIndexed() && GetBpp() != 24)) {
        SetLastError("JPEG 只能保存为RGB或灰度图像");
        return false;
    }
    // With an EXIF block to write back, the picture is coded into memory and
    // then written once with the block in front: the output need not be
    // readable (a file opened write-only) nor seekable.
    const bool writeBack = exifReader && exifData.isExif;
    VxMemFile coded;
    if (writeBack && !coded.Open()) {
        SetLastError("JPEG: out of memory");
        return false;
    }

    EncodeState* st = new (std::nothrow) EncodeState{};
    if (!st) {
        SetLastError("JPEG: out of memory");
        return false;
    }
    st->gray = gray;
    ChooseMetadata(st);
    st->stream.file = writeBack ? static_cast<VxFile*>(&coded) : file;
    st->stream.buffer = static_cast<JOCTET*>(std::malloc(kBridgeBufferSize));
    bool ok = false;
    if (st->stream.buffer)
        ok = RunEncode(st);
    else
        SetLastError("JPEG: out of memory");
    jpeg_destroy_compress(&st->cinfo);
    std::free(st->stream.buffer);
    delete st;
    if (!ok || !writeBack) return ok;

    // The block and comment of the file this object decoded, then the new
    // picture. Should the picture not read back as sections, it is written
    // plain: the file is then complete, only without the block.
    exifReader->DiscardAllButExif();
    coded.Seek(0, SEEK_SET);
    bool written = exifReader->DecodeExif(&coded, VxExifInfo::ReadModeImage) &&
                   exifReader->EncodeExif(file);
    if (!written && !exifReader->WriteFailed()) {
        const size_t size = size_t(coded.Size());
        written = file->Write(coded.GetBuffer(false), 1, size) == size;
    }
    if (!written) SetLastError("JPEG: writing the EXIF block failed");
    return written;
}

bool VxImageJPG::RunEncode(EncodeState* st) {
    j_compress_ptr cinfo = &st->cinfo;
    InstallErrorTrap(&st->err, Info.LastError, sizeof(Info.LastError));
    cinfo->err = &st->err.pub;
    cinfo->client_data = &st->stream;
    if (setjmp(st->err.jump)) return false;

    jpeg_create_compress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxLibraryMemory;
    st->stream.dest.init_destination = InitDestination;
    st->stream.dest.empty_output_buffer = EmptyOutputBuffer;
    st->stream.dest.term_destination = TermDestination;
    cinfo->dest = &st->stream.dest;

    cinfo->image_width = GetWidth();
    cinfo->image_height = GetHeight();
    if (st->gray) {
        cinfo->input_components = 1;
        cinfo->in_color_space = JCS_GRAYSCALE;
    } else {
        // Rows go to libjpeg as stored: blue, green, red.
        cinfo->input_components = 3;
        cinfo->in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(cinfo);

    const uint32_t options = GetCodecOption(VX_FORMAT_JPG);
    if (options & EncodeArithmetic) cinfo->arith_code = TRUE;
    if (options & EncodeOptimize) cinfo->optimize_coding = TRUE;
    if (options & EncodeGrayscale) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    if (options & EncodeSmoothing)
        cinfo->smoothing_factor = smoothingFactor < 0 ? 0 : smoothingFactor > 100 ? 100 : smoothingFactor;
    jpeg_set_quality(cinfo, GetJpegQuality(), (options & EncodeBaseline) ? TRUE : FALSE);
    if (options & EncodeProgressive) jpeg_simple_progression(cinfo);

    cinfo->density_unit = 1;
    cinfo->X_density = UINT16(GetXDPI() > 65535 ? 65535 : GetXDPI());
    cinfo->Y_density = UINT16(GetYDPI() > 65535 ? 65535 : GetYDPI());

    jpeg_start_compress(cinfo, TRUE);
    if (st->exif) {
        jpeg_write_m_header(cinfo, JPEG_APP0 + 1, st->exifLength + 6);
        for (const char c : {'E', 'x', 'i', 'f', '\0', '\0'}) jpeg_write_m_byte(cinfo, c);
        for (unsigned i = 0; i < st->exifLength; ++i) jpeg_write_m_byte(cinfo, st->exif[i]);
    }
    if (st->icc) jpeg_write_icc_profile(cinfo, st->icc, st->iccLength);
    for (const auto& [marker, payload] : {std::pair{JPEG_APP0 + 1, &st->xmp},
                                          std::pair{JPEG_APP0 + 13, &st->iptc}}) {
        if (payload->empty()) continue;
        jpeg_write_marker(cinfo, marker, payload->data(), unsigned(payload->size()));
    }
    const uint32_t height = GetHeight();
    while (cinfo->next_scanline < height) {
        // libjpeg only reads the rows it is given.
        JSAMPROW row = GetBits(height - 1 - cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool VxImageJPG::WritesGrey(const VxImage& img) {
    return vx::IsGreyPicture(img) || (img.GetCodecOption(VX_FORMAT_JPG) & EncodeGrayscale);
}

void VxImageJPG::KeepExifBlock() {
    for (int i = 0; i < exifReader->GetSectionCount(); ++i) {
        const VxExifInfo::ExifSection* sec = exifReader->GetSection(i);
        if (sec->type != 0xE1 || sec->size < 8 || std::memcmp(sec->data + 2, "Exif\0\0", 6) != 0)
            continue;
        const std::span<const uint8_t> block(sec->data + 8, size_t(sec->size) - 8);
        if (vx::ExifHeaderValid(block)) SetExif(block);
        return;
    }
}

void VxImageJPG::ChooseMetadata(EncodeState* st) const {
    // A profile must describe the samples as written: grey for a grey file,
    // RGB for a colour one.
    const std::span<const uint8_t> icc = GetIccProfile();
    if (vx::ProfileFits(icc, WritesGrey(*this))) {
        st->icc = icc.data();
        st->iccLength = unsigned(icc.size());
    }
    // A segment holds at most 65533 bytes after its length; this object's own
    // write-back, when it decoded the file, brings the source's block itself.
    const std::span<const uint8_t> exif = GetExif();
    if (!exif.empty() && exif.size() <= 65533 - 6 && !(exifReader && exifData.isExif)) {
        st->exif = exif.data();
        st->exifLength = unsigned(exif.size());
    }
    st->xmp = vx::jpeg::XmpSegment(GetXmp());
    st->iptc = vx::jpeg::IptcSegment(GetIptc());
}
