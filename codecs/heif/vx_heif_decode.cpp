#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/heif/vx_heif_codec.h"
#include "codecs/heif/vx_heif_coded_sizes.h"
#include "codecs/heif/vx_heif_derived_inputs.h"
#include "codecs/heif/vx_heif_library.h"
#include "codecs/heif/vx_heif_reader.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_exif_edit.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_stream_bytes.h"

namespace {

// The code a file's content stands for: AV1 pictures are AVIF.
ImageFormat ContentType(const std::vector<uint8_t>& data) {
    const char* mime = heif_get_file_mime_type(data.data(), int(data.size() < 64 ? data.size() : 64));
    return mime && std::strcmp(mime, "image/avif") == 0 ? VX_FORMAT_AVIF : VX_FORMAT_HEIF;
}

// The picture asked for: the primary one first, the other top-level pictures
// after it in file order.
heif_item_id PickImage(heif_context* ctx, int32_t frame, int32_t* count) {
    const int n = heif_context_get_number_of_top_level_images(ctx);
    *count = n;
    if (n <= 0 || frame < 0 || frame >= n) return 0;
    std::vector<heif_item_id> ids(static_cast<size_t>(n));
    heif_context_get_list_of_top_level_image_IDs(ctx, ids.data(), n);
    heif_item_id primary = 0;
    if (heif_context_get_primary_image_ID(ctx, &primary).code != heif_error_Ok) primary = ids[0];
    if (frame == 0) return primary;
    int32_t k = 0;
    for (heif_item_id id : ids) {
        if (id == primary) continue;
        if (++k == frame) return id;
    }
    return 0;
}

// A stream coding more than any top-level picture declares (beyond an
// encoder's padding of a block each way) decodes at its own size.
void DecodedSize(heif_context* ctx, const std::vector<vxheif::CodedSize>& coded, uint64_t& width,
                 uint64_t& height) {
    const int n = heif_context_get_number_of_top_level_images(ctx);
    std::vector<heif_item_id> ids(size_t(std::max(n, 0)));
    heif_context_get_list_of_top_level_image_IDs(ctx, ids.data(), n);
    uint64_t most = (width + 64) * (height + 64);
    for (heif_item_id id : ids) {
        vxheif::Handle other;
        if (heif_context_get_image_handle(ctx, id, &other.p).code != heif_error_Ok) continue;
        const uint64_t w = uint64_t(std::max(0, heif_image_handle_get_width(other.p)));
        const uint64_t h = uint64_t(std::max(0, heif_image_handle_get_height(other.p)));
        most = std::max(most, (w + 64) * (h + 64));
    }
    for (const vxheif::CodedSize& c : coded) {
        const uint64_t area = uint64_t(c.width) * c.height;
        if (area > most) {
            most = area;
            width = c.width;
            height = c.height;
        }
    }
}

void Unpremultiply(uint8_t* rgba, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, rgba += 4) {
        const uint32_t a = rgba[3];
        if (a == 0 || a == 255) continue;
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = (rgba[c] * 255u + a / 2) / a;
            rgba[c] = uint8_t(v > 255 ? 255 : v);
        }
    }
}

// A metadata item's bytes; empty when it is missing or claims more than the
// file holds.
std::vector<uint8_t> MetadataBlock(heif_image_handle* handle, heif_item_id id, size_t fileSize) {
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > fileSize) return {};
    std::vector<uint8_t> stored(size);
    if (heif_image_handle_get_metadata(handle, id, stored.data()).code != heif_error_Ok) return {};
    return stored;
}

}  // namespace

void VxHeifCodec::KeepMetadata(heif_image_handle* handle, size_t fileSize) {
    // Both are stored in the file: a size past its length is a damaged one.
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size > 0 && size <= fileSize) {
            std::vector<uint8_t> icc(size);
            if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
                SetIccProfile(icc);
        }
    }
    // The first XMP packet: a "mime" item of the RDF content type.
    heif_item_id ids[16];
    const int mimes = heif_image_handle_get_list_of_metadata_block_IDs(handle, "mime", ids, 16);
    for (int i = 0; i < mimes; ++i) {
        const char* type = heif_image_handle_get_metadata_content_type(handle, ids[i]);
        if (!type || std::strcmp(type, "application/rdf+xml") != 0) continue;
        const std::vector<uint8_t> xmp = MetadataBlock(handle, ids[i], fileSize);
        if (xmp.empty()) continue;
        SetXmp(xmp);
        break;
    }
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1) return;
    const std::vector<uint8_t> stored = MetadataBlock(handle, id, fileSize);
    // The library has turned the picture by the file's own rotation and
    // mirroring, which is what viewers follow; the EXIF tag must not turn it
    // again.
    const auto exif = vx::ExifAfterOffset(stored);
    if (!exif.empty()) SetExif(vx::ExifFitted(exif, 1, GetWidth(), GetHeight()));
}

bool VxHeifCodec::AnswerFromBoxes(VxFile* file, int64_t start) {
    // The library reads whole boxes, the coded data too. It is given the file
    // up to the first media data box when no metadata box follows that; a
    // file it cannot read so is read whole by the caller.
    const int64_t size = file->Size64() - start;
    if (start < 0 || size <= 0 || !file->Seek64(start, SEEK_SET)) return false;
    int64_t view = size;
    for (int64_t at = 0; at + 8 <= size;) {
        uint8_t box[16];
        if (!file->Seek64(start + at, SEEK_SET) || file->Read(box, 1, 8) != 8) return false;
        uint64_t length = vx::LoadBE32(box);
        if (length == 1) {
            if (file->Read(box + 8, 1, 8) != 8) return false;
            length = uint64_t(vx::LoadBE32(box + 8)) << 32 | vx::LoadBE32(box + 12);
        } else if (length == 0) {
            length = uint64_t(size - at);
        }
        if (length < 8 || length > uint64_t(size - at)) return false;
        if (std::memcmp(box + 4, "mdat", 4) == 0 && view == size) view = at;
        else if (std::memcmp(box + 4, "meta", 4) == 0 && view < size) view = size;
        at += int64_t(length);
    }
    std::vector<uint8_t> boxes;
    if (view > INT_MAX || !file->Seek64(start, SEEK_SET) ||
        vx::ReadUpTo(file, boxes, size_t(view)) != size_t(view))
        return false;
    // The coded sizes the full decode meets (its decoder allocates for them):
    // a grid whose canvas is stored with the coded data is read whole.
    std::vector<vxheif::CodedSize> coded;
    if (!vxheif::ReadCodedSizes(boxes.data(), boxes.size(), coded)) return false;
    vxheif::EnsureStarted();
    vxheif::Context ctx(heif_context_alloc());
    if (!ctx.p || heif_context_read_from_memory_without_copy(ctx.p, boxes.data(), boxes.size(), nullptr)
                          .code != heif_error_Ok)
        return false;
    int32_t count = 0;
    const heif_item_id id = PickImage(ctx.p, Info.Frame, &count);
    vxheif::Handle handle;
    if (count <= 0 || id == 0 || heif_context_get_image_handle(ctx.p, id, &handle.p).code != heif_error_Ok)
        return false;
    uint64_t w = uint64_t(std::max(0, heif_image_handle_get_width(handle.p)));
    uint64_t h = uint64_t(std::max(0, heif_image_handle_get_height(handle.p)));
    if (w == 0 || h == 0) return false;
    DecodedSize(ctx.p, coded, w, h);
    Info.NumFrames = count;
    // After the file, as a full read leaves the stream.
    file->Seek64(start + size, SEEK_SET);
    return AnswerDimensions(ContentType(boxes), w, h, 24);
}

bool VxHeifCodec::Decode(VxFile* file, ImageFormat requested) {
    ImageFormat type = requested == VX_FORMAT_AVIF ? VX_FORMAT_AVIF : VX_FORMAT_HEIF;
    // The libraries print what they find wrong with a file; the engine never does.
    const vx::QuietStderr quiet;
    return vx::RunCodec(*this, [&] { return vxheif::NoMemoryText(type); }, [&] {
        if (!file) vxheif::Fail(type, "no input stream");
        const int64_t start = file->Tell64();
        std::vector<uint8_t> data;
        if (vx::ReadUpTo(file, data, 12) != 12 || !Claims(data.data(), data.size()))
            vxheif::Fail(type, "not a HEIF file");
        if (DimensionsOnly()) {
            if (AnswerFromBoxes(file, start)) return true;
            if (!file->Seek64(start + 12, SEEK_SET)) vxheif::Fail(type, "not a HEIF file");
        }
        vx::ReadUpTo(file, data, size_t(INT_MAX) - 12);
        if (heif_check_filetype(data.data(), int(data.size())) == heif_filetype_no)
            vxheif::Fail(type, "not a HEIF file");
        type = ContentType(data);
        vxheif::EnsureStarted();

        // Read from memory through the reader: the coded data of each picture
        // (each tile of a grid) is read as it is decoded, after a cancel check.
        VxMemFile memory(data.data(), uint32_t(data.size()));
        vxheif::StreamReader reader{&memory, 0, int64_t(data.size()), this};
        vxheif::Context ctx(heif_context_alloc());
        if (!ctx.p) vxheif::Fail(type, "out of memory");
        // The library refuses pictures wider or taller than this while it
        // reads the file, before it allocates for any of them (tiles, alpha,
        // thumbnails); the picture limit below is the exact test. A
        // dimensions-only pass leaves the limit to its caller.
        const uint64_t limit = DimensionsOnly() ? 0 : Info.MaxPixels;
        if (limit != 0) heif_context_set_maximum_image_size_limit(ctx.p, limit > INT_MAX ? INT_MAX : int(limit));
        // A grid's tiles on the threads the rows leave; in this thread when
        // the batch runs one row per core.
        heif_context_set_max_decoding_threads(ctx.p, GetThreads() > 1 ? int(GetThreads()) : 0);
        heif_error err = heif_context_read_from_reader(ctx.p, &vxheif::StreamReader::kFunctions, &reader, nullptr);
        if (reader.cancelled) vxheif::Fail(type, "cancelled");
        if (err.code != heif_error_Ok) vxheif::Fail(type, "damaged or unsupported file", &err);

        int32_t count = 0;
        const heif_item_id id = PickImage(ctx.p, Info.Frame, &count);
        Info.NumFrames = count;
        if (count <= 0) vxheif::Fail(type, "the file holds no picture");
        if (id == 0) vxheif::Fail(type, "no such picture in the file");
        vxheif::Handle handle;
        err = heif_context_get_image_handle(ctx.p, id, &handle.p);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "damaged picture", &err);
        const int w = heif_image_handle_get_width(handle.p);
        const int h = heif_image_handle_get_height(handle.p);
        if (w <= 0 || h <= 0) vxheif::Fail(type, "picture without a size");
        const bool alpha = heif_image_handle_has_alpha_channel(handle.p) != 0;
        if (!DimensionsOnly()) VxRequirePicture(*this, uint64_t(w), uint64_t(h), alpha ? 32 : 24);
        // The decoders allocate for what their streams say, whatever the
        // container declares. A coded picture up to a block (64 pixels) larger
        // each way than the declared one is the encoder's padding; anything
        // larger must pass the limit itself.
        std::vector<vxheif::CodedSize> coded;
        if (!vxheif::ReadCodedSizes(data.data(), data.size(), coded))
            vxheif::Fail(type, "damaged file: a picture's coded size cannot be read");
        if (DimensionsOnly()) {
            uint64_t aw = uint64_t(w), ah = uint64_t(h);
            DecodedSize(ctx.p, coded, aw, ah);
            return AnswerDimensions(type, aw, ah, 24);
        }
        const uint64_t padded = (uint64_t(w) + 64) * (uint64_t(h) + 64);
        for (const vxheif::CodedSize& c : coded)
            if (uint64_t(c.width) * c.height > padded) VxRequirePicture(*this, c.width, c.height, 24);
        // The library decodes every layer; a file that selects fewer would
        // come out at another size than it declares.
        for (const vxheif::CodedSize& c : coded)
            if (c.partLayer)
                vxheif::Fail(type, "the file selects one layer of a layered picture, which this reader cannot decode");
        if (!vxheif::DerivedInputsArePictures(data.data(), data.size()))
            vxheif::Fail(type, "damaged file: a derived picture is made of an item that is not a picture");
        const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.p);
        const bool deep = bits > 8;

        vxheif::DecodingOptions options(heif_decoding_options_alloc());
        if (!options.p) vxheif::Fail(type, "out of memory");
        options.p->convert_hdr_to_8bit = 0;  // scaled below, not cut
        const heif_chroma chroma =
            deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                 : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
        vxheif::Image image;
        err = heif_decode_image(handle.p, &image.p, heif_colorspace_RGB, chroma, options.p);
        if (reader.cancelled) vxheif::Fail(type, "cancelled");
        if (err.code != heif_error_Ok) vxheif::Fail(type, "cannot decode the picture", &err);
        int stride = 0;
        const uint8_t* plane = heif_image_get_plane_readonly(image.p, heif_channel_interleaved, &stride);
        const int iw = heif_image_get_width(image.p, heif_channel_interleaved);
        const int ih = heif_image_get_height(image.p, heif_channel_interleaved);
        const int range = heif_image_get_bits_per_pixel_range(image.p, heif_channel_interleaved);
        if (!plane || iw <= 0 || ih <= 0 || stride <= 0 || (deep && (range < 9 || range > 16)))
            vxheif::Fail(type, "the library gave no pixels");
        const int channels = alpha ? 4 : 3;
        if (size_t(stride) < size_t(iw) * channels * (deep ? 2 : 1))
            vxheif::Fail(type, "the library gave no pixels");

        VxRequirePicture(*this, uint64_t(iw), uint64_t(ih), alpha ? 32 : 24);
        if (!Create(uint32_t(iw), uint32_t(ih), 24, type))
            vxheif::Fail(type, *GetLastError() ? GetLastError() : "out of memory");
        if (alpha && !AlphaCreate()) vxheif::Fail(type, "out of memory");

        // The library widens limited-range colour but hands luma-only pictures
        // over as coded: their range is widened here.
        bool anyCoded = false, allGrey = true;
        for (const vxheif::CodedSize& c : coded)
            if (c.coded) anyCoded = true, allGrey = allGrey && c.grey;
        heif_color_profile_nclx* nclx = nullptr;
        bool limited = false;
        if (heif_image_handle_get_nclx_color_profile(handle.p, &nclx).code == heif_error_Ok && nclx)
            limited = nclx->full_range_flag == 0;
        heif_nclx_color_profile_free(nclx);
        const bool widen = anyCoded && allGrey && limited;
        const int depth = deep ? range : 8;
        const uint32_t top = (1u << depth) - 1, low = 16u << (depth - 8), span = 219u << (depth - 8);
        auto full = [&](uint32_t v) {
            if (v <= low) return 0u;
            return std::min(top, ((v - low) * top + span / 2) / span);
        };
        const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle.p);
        // 10 and 12 bits stay as they are beside the 8-bit picture.
        std::shared_ptr<VxDeepPlane> kept;
        if (deep && !premultiplied) {
            kept = vx::NewDeepPlane(*this, uint32_t(iw), uint32_t(ih), uint8_t(channels), uint8_t(range));
            if (!kept) vxheif::Fail(type, GetLastError());
        }
        std::vector<uint8_t> row(size_t(iw) * channels);
        std::vector<uint16_t> wide(deep ? row.size() : 0);
        for (int y = 0; y < ih; ++y) {
            if (Cancelled()) vxheif::Fail(type, "cancelled");
            const uint8_t* src = plane + size_t(y) * size_t(stride);
            if (deep) {
                for (size_t i = 0; i < wide.size(); ++i) wide[i] = vx::LoadLE16(src + 2 * i);
                if (widen)
                    for (size_t i = 0; i < wide.size(); ++i)
                        if (i % size_t(channels) < 3) wide[i] = uint16_t(full(wide[i]));
                vx::NarrowSamples(wide.data(), row.data(), row.size(), range);
                if (kept)
                    for (size_t i = 0; i < wide.size(); ++i)
                        kept->Row(uint32_t(y))[i] = vx::WidenSample(std::min<uint32_t>(wide[i], (1u << range) - 1), unsigned(range));
            } else {
                std::memcpy(row.data(), src, row.size());
                if (widen)
                    for (size_t i = 0; i < row.size(); ++i)
                        if (i % size_t(channels) < 3) row[i] = uint8_t(full(row[i]));
            }
            if (premultiplied) Unpremultiply(row.data(), uint32_t(iw));
            vx::StoreRow(*this, uint32_t(y), row.data(), channels);
        }
        if (kept && !vx::SetDeepPicture(*this, std::move(kept), type))
            vxheif::Fail(type, *GetLastError() ? GetLastError() : "out of memory");
        KeepMetadata(handle.p, data.size());
        return true;
    });
}
