#include "codecs/pdf/vx_pdf_codec.h"

#include <poppler.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/svg/vector_canvas.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_file.h"
#include "core/vx_frames.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoMemory[] = "PDF: can't allocate memory";
// Readers accept a header this far into the file.

template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p) g_object_unref(p);
    }
};

// poppler makes its global settings on the first document it opens.
std::mutex gOpening;

struct PageSize {
    double w = 0, h = 0;  // points
};

PageSize SizeOf(PopplerDocument* doc, int index) {
    Ref<PopplerPage> page{poppler_document_get_page(doc, index)};
    if (!page.p) throw VxCodecFailure("PDF: page ", std::to_string(index + 1).append(" cannot be read").c_str());
    PageSize s;
    poppler_page_get_size(page.p, &s.w, &s.h);
    return s;
}

// The largest object number the file names, in an object's header ("12 0 obj")
// or a trailer's /Size: poppler sizes its cross-reference table by it, also
// when it rebuilds a broken one, whatever the file holds.
uint64_t LargestObjectNumber(std::string_view b) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    // The number ending just before `end`, after any white space; `end` moves to its start.
    const auto numberBefore = [&](size_t& end) -> int64_t {
        while (end > 0 && isSpace(b[end - 1])) --end;
        size_t from = end;
        while (from > 0 && end - from < 12 && isDigit(b[from - 1])) --from;
        if (from == end) return -1;
        const uint64_t v = std::stoull(std::string(b.substr(from, end - from)));
        end = from;
        return int64_t(std::min<uint64_t>(v, INT64_MAX));
    };
    uint64_t most = 0;
    for (size_t at = b.find("obj"); at != std::string_view::npos; at = b.find("obj", at + 3)) {
        size_t end = at;
        if (end == 0 || !isSpace(b[end - 1]) || numberBefore(end) < 0) continue;  // the generation
        const int64_t number = numberBefore(end);
        if (number > 0) most = std::max(most, uint64_t(number));
    }
    for (size_t at = b.find("/Size"); at != std::string_view::npos; at = b.find("/Size", at + 5)) {
        size_t from = at + 5;
        while (from < b.size() && isSpace(b[from])) ++from;
        size_t to = from;
        while (to < b.size() && to - from < 12 && isDigit(b[to])) ++to;
        if (to > from) most = std::max<uint64_t>(most, std::stoull(std::string(b.substr(from, to - from))));
    }
    return most;
}

}  // namespace

bool VxPdfCodec::Decode(VxFile* file) {
    if (!file) return false;
    const int64_t start = file->Tell64();
    const bool done = vx::RunCodec(*this, kNoMemory, [&] {
        std::vector<uint8_t> bytes;
        vx::ReadUpTo(file, bytes, kClaimsReach);
        if (!Claims(bytes.data(), bytes.size())) throw VxCodecFailure("Not a PDF");
        vx::ReadUpTo(file, bytes, kMaxFile + 1 - bytes.size());
        if (bytes.size() > kMaxFile) throw VxCodecFailure("PDF: the file is larger than 1 GiB");
        if (Cancelled()) throw VxCodecFailure("Cancelled");
        // poppler's table takes about 24 bytes an entry, twice while it grows.
        // Even packed in compressed streams an object takes more than 1/64 of
        // a byte, so a larger number is no numbering a file could hold.
        const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const uint64_t objects = LargestObjectNumber(all);
        if (objects > 64 * uint64_t(bytes.size()) + 65536)
            throw VxCodecFailure("PDF: an object number beyond what the file could hold");
        VxRequireBuffer(*this, objects * 48, 16);

        vx::QuietStderr quiet;
        GError* error = nullptr;
        Ref<PopplerDocument> doc;
        {
            GBytes* data = g_bytes_new_static(bytes.data(), bytes.size());
            const std::lock_guard<std::mutex> lock(gOpening);
            doc.p = poppler_document_new_from_bytes(data, nullptr, &error);
            g_bytes_unref(data);
        }
        if (!doc.p) {
            const bool locked = error && error->domain == POPPLER_ERROR && error->code == POPPLER_ERROR_ENCRYPTED;
            const std::string why = error && error->message ? error->message : "cannot be read";
            if (error) g_error_free(error);
            if (locked) throw VxCodecFailure("PDF: the file is encrypted");
            throw VxCodecFailure("PDF: ", why.c_str());
        }
        const int pages = poppler_document_get_n_pages(doc.p);
        Info.NumFrames = std::max(pages, 0);
        if (pages <= 0) throw VxCodecFailure("PDF: the file has no pages");
        if (Info.Frame < 0 || Info.Frame >= pages)
            throw VxCodecFailure("PDF: page not present: the file has ",
                                 (std::to_string(pages) + (pages == 1 ? " page" : " pages")).c_str());
        const uint32_t dpi = GetCodecOption(VX_FORMAT_PDF) ? GetCodecOption(VX_FORMAT_PDF) : kDefaultDpi;
        const double scale = dpi / 72.0;
        const auto pixels = [&](const PageSize& s, uint64_t& w, uint64_t& h) {
            w = vx::vector::PixelSide(s.w, scale);
            h = vx::vector::PixelSide(s.h, scale);
        };
        const bool allPages = WantsPages() && pages > 1 && pages <= kVxMaxPagesKept;
        uint64_t total = 0;
        if (allPages) {
            // Pages keep their own sizes, so the limit bounds their pixels together.
            for (int p = 0; p < pages; ++p) {
                if (Cancelled()) throw VxCodecFailure("Cancelled");
                uint64_t w = 0, h = 0;
                pixels(SizeOf(doc.p, p), w, h);
                vx::vector::RequireCanvas(*this, "PDF", w, h);
                total += w * h;
                if (GetMaxPixels() && total > GetMaxPixels())
                    throw VxCodecFailure("PDF: the file's pages pass the picture limit of ",
                                         (std::to_string(GetMaxPixels()) +
                                          " pixels together; --frame N converts one page")
                                             .c_str());
            }
        }
        const PageSize chosen = SizeOf(doc.p, Info.Frame);
        uint64_t width = 0, height = 0;
        pixels(chosen, width, height);
        if (DimensionsOnly()) {
            if (width == 0 || height == 0) throw VxCodecFailure("PDF: the page has no size");
            SetXDPI(int32_t(dpi));
            SetYDPI(int32_t(dpi));
            AnswerDimensions(VX_FORMAT_PDF, width, height, 32);
            Info.PagesPixels = total;
            return true;
        }
        // Kept pages are each resized from their own size later.
        if (!allPages) vx::vector::RenderSize(*this, width, height);

        const auto render = [&](VxImage& into, int index, uint64_t w, uint64_t h, const PageSize& size) {
            vx::vector::RequireCanvas(into, "PDF", w, h);
            if (CancelledBetweenPieces()) throw VxCodecFailure("PDF: cancelled");
            Ref<PopplerPage> page{poppler_document_get_page(doc.p, index)};
            if (!page.p) throw VxCodecFailure("PDF: a page cannot be read");
            // A cleared surface and no paper fill: what the page leaves
            // unpainted stays transparent.
            vx::vector::SurfaceGuard surface{vx::vector::NewSurface(uint32_t(w), uint32_t(h))};
            cairo_t* cr = cairo_create(surface.s);
            cairo_scale(cr, double(w) / size.w, double(h) / size.h);
            poppler_page_render(page.p, cr);
            const cairo_status_t status = cairo_status(cr);
            cairo_destroy(cr);
            if (status != CAIRO_STATUS_SUCCESS)
                throw VxCodecFailure("PDF: the page cannot be drawn: ", cairo_status_to_string(status));
            vx::vector::StoreSurface(into, surface.s, VX_FORMAT_PDF);
            into.SetXDPI(int32_t(dpi));
            into.SetYDPI(int32_t(dpi));
        };
        const bool natural = width == vx::vector::PixelSide(chosen.w, scale) &&
                             height == vx::vector::PixelSide(chosen.h, scale);
        // At its own size a page is scaled by the resolution alone, as the
        // reference renderers scale it; a render size stretches it to fit.
        const PageSize drawn = natural ? PageSize{width / scale, height / scale} : chosen;
        render(*this, Info.Frame, width, height, drawn);
        if (allPages) {
            auto kept = std::make_shared<VxFrames>();
            kept->plays = 1;
            kept->frames.reserve(size_t(pages));
            for (int p = 0; p < pages; ++p) {
                if (p == Info.Frame) {
                    kept->frames.push_back({std::make_shared<VxImage>(*this), 0});
                } else {
                    auto page = std::make_shared<VxImage>(0);
                    page->SetMaxPixels(GetMaxPixels());
                    const PageSize s = SizeOf(doc.p, p);
                    uint64_t w = 0, h = 0;
                    pixels(s, w, h);
                    render(*page, p, w, h, PageSize{w / scale, h / scale});
                    kept->frames.push_back({std::move(page), 0});
                }
                if (!kept->frames.back().picture->IsValid()) throw std::bad_alloc();
            }
            SetAnimation(std::move(kept));
        }
        file->Seek64(start + int64_t(bytes.size()), SEEK_SET);
        return true;
    });
    // A page drawn before a later one failed is no answer.
    if (!done) Destroy();
    return done;
}

bool VxPdfCodec::Encode(VxFile*) {
    SetLastError("PDF files can only be read");
    return false;
}
