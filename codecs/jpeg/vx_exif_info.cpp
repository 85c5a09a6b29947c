#include "codecs/jpeg/vx_exif_info.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codecs/jpeg/vx_jpeg_app_segments.h"

namespace {

constexpr int kBytesPerFormat[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

enum : int {
    kFmtByte = 1,
    kFmtUShort = 3,
    kFmtULong = 4,
    kFmtURational = 5,
    kFmtSByte = 6,
    kFmtSShort = 8,
    kFmtSLong = 9,
    kFmtSRational = 10,
    kFmtSingle = 11,
    kFmtDouble = 12,
};

enum : int {
    kMarkerSOI = 0xD8,
    kMarkerEOI = 0xD9,
    kMarkerSOS = 0xDA,
    kMarkerAPP0 = 0xE0,
    kMarkerAPP1 = 0xE1,
    kMarkerCOM = 0xFE,
};

constexpr uint8_t kJfifBlock[18] = {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00,
                                    0x01, 0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};

// Values come from the file: a double outside a float's or an int's range must
// not reach a conversion whose result is undefined.
float ToFloat(double v) {
    if (std::isnan(v)) return 0.0f;
    if (v > FLT_MAX) return FLT_MAX;
    if (v < -FLT_MAX) return -FLT_MAX;
    return float(v);
}

int32_t ToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int32_t(v);
}

float UnitFactor(int code, float current) {
    switch (code) {
        case 1:
        case 2: return 1.0f;
        case 3: return 0.3937007874f;
        case 4: return 0.03937007874f;
        case 5: return 0.00003937007874f;
        default: return current;
    }
}

// Bounded string copy: at most `limit` bytes, never past `available`, stops at NUL.
void CopyField(char* dst, size_t limit, const uint8_t* src, uint64_t available) {
    size_t n = 0;
    while (n < limit && n < available && src[n] != 0) {
        dst[n] = char(src[n]);
        ++n;
    }
    dst[n] = '\0';
}

bool IsSof(int marker) {
    return (marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 &&
           marker != 0xCC;
}

}  // namespace

VxExifInfo::VxExifInfo(tag_ExifInfo* info) {
    if (info) {
        m_exifinfo = info;
        freeinfo = false;
    } else {
        m_exifinfo = static_cast<tag_ExifInfo*>(std::calloc(1, sizeof(tag_ExifInfo)));
        freeinfo = m_exifinfo != nullptr;
    }
    m_szLastError[0] = '\0';
    ExifImageWidth = 0;
    MotorolaOrder = false;
    SectionsRead = 0;
    std::memset(Sections, 0, sizeof(Sections));
    std::memset(m_visited, 0, sizeof(m_visited));
}

VxExifInfo::~VxExifInfo() {
    for (ExifSection& s : Sections) std::free(s.data);
    if (freeinfo) std::free(m_exifinfo);
}

void VxExifInfo::SetError(const char* text) {
    std::strncpy(m_szLastError, text, sizeof(m_szLastError) - 1);
    m_szLastError[sizeof(m_szLastError) - 1] = '\0';
}

int VxExifInfo::Get16m(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return (b[0] << 8) | b[1];
}

int VxExifInfo::Get16u(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return MotorolaOrder ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0];
}

uint32_t VxExifInfo::Get32u(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    if (MotorolaOrder)
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    return (uint32_t(b[3]) << 24) | (uint32_t(b[2]) << 16) | (uint32_t(b[1]) << 8) | b[0];
}

int32_t VxExifInfo::Get32s(const void* p) { return int32_t(Get32u(p)); }

VxExifInfo::ExifSection* VxExifInfo::FindSection(int type) {
    for (int i = 0; i < SectionsRead - 1; ++i)
        if (Sections[i].type == type) return &Sections[i];
    return nullptr;
}

bool VxExifInfo::DecodeExif(VxFile* file, int readMode) {
    if (!file || !m_exifinfo) return false;
    if (file->GetC() != 0xFF || file->GetC() != kMarkerSOI) return false;

    bool haveCom = false;
    for (;;) {
        if (SectionsRead >= kMaxSections) {
            SetError("Too many sections in jpg file");
            return false;
        }
        int marker = 0;
        for (int pads = 0;;) {
            marker = file->GetC();
            if (marker != 0xFF) break;
            if (++pads >= 7) {
                // The diagnostic line goes nowhere: the engine never prints.
                SetError("too many padding bytes");
                return false;
            }
        }
        if (marker < 0) {
            SetError("Premature end of file?");
            return false;
        }
        const int lh = file->GetC();
        const int ll = file->GetC();
        if (lh < 0 || ll < 0) {
            SetError("Premature end of file?");
            return false;
        }
        const int itemlen = (lh << 8) | ll;
        if (itemlen < 2) {
            SetError("invalid marker");
            return false;
        }
        uint8_t* data = static_cast<uint8_t*>(std::malloc(size_t(itemlen)));
        if (!data) {
            SetError("Could not allocate memory");
            return false;
        }
        data[0] = uint8_t(lh);
        data[1] = uint8_t(ll);
        if (file->Read(data + 2, 1, size_t(itemlen - 2)) != size_t(itemlen - 2)) {
            std::free(data);
            SetError("Premature end of file?");
            return false;
        }
        ExifSection& entry = Sections[SectionsRead];
        entry.data = data;
        entry.type = marker;
        entry.size = itemlen;
        ++SectionsRead;

        auto drop = [&] {
            --SectionsRead;
            std::free(Sections[SectionsRead].data);
            Sections[SectionsRead] = ExifSection{nullptr, 0, 0};
        };

        if (IsSof(marker)) {
            process_SOFn(data, marker);
            continue;
        }
        switch (marker) {
            case kMarkerEOI:
                drop();
                SetError("No image in jpeg!");
                return false;
            case kMarkerSOS:
                if (readMode & ReadModeImage) {
                    const int64_t here = file->Tell64();
                    if (here < 0 || !file->Seek64(0, SEEK_END)) {
                        SetError("could not read the rest of the image");
                        return false;
                    }
                    const int64_t end = file->Tell64();
                    file->Seek64(here, SEEK_SET);
                    // A section's length is 32-bit: a longer rest is refused, not cut.
                    if (end < here || end - here > INT32_MAX) {
                        SetError("could not read the rest of the image");
                        return false;
                    }
                    if (SectionsRead >= kMaxSections) {
                        SetError("Too many sections in jpg file");
                        return false;
                    }
                    const int32_t size = int32_t(end - here);
                    uint8_t* image = static_cast<uint8_t*>(std::malloc(size_t(size) + 1));
                    if (!image) {
                        SetError("could not allocate data for entire image");
                        return false;
                    }
                    if (file->Read(image, 1, size_t(size)) != size_t(size)) {
                        std::free(image);
                        SetError("could not read the rest of the image");
                        return false;
                    }
                    Sections[SectionsRead] = ExifSection{image, PseudoImageMarker, size};
                    ++SectionsRead;
                }
                return true;
            case kMarkerAPP0:
                drop();
                break;
            case kMarkerAPP1:
                if ((readMode & ReadModeExif) && itemlen >= 6 && std::memcmp(data + 2, "Exif", 4) == 0)
                    m_exifinfo->isExif = process_EXIF(data + 2, unsigned(itemlen));
                else if (!(readMode & ReadModeExif) && itemlen >= 2 &&
                         !vx::jpeg::XmpOfSegment({data + 2, size_t(itemlen) - 2}).empty())
                    break;  // the new picture's own XMP segment, kept on write-back
                else
                    drop();
                break;
            case kMarkerCOM:
                if (haveCom || !(readMode & ReadModeExif)) {
                    drop();
                } else {
                    process_COM(data, itemlen);
                    haveCom = true;
                }
                break;
            default:
                break;
        }
    }
}

void VxExifInfo::process_SOFn(const uint8_t* data, int marker) {
    // Callers hand in whole stored sections; a short one gives no frame data.
    const int length = Get16m(data);
    if (length < 8) return;
    m_exifinfo->height = Get16m(data + 3);
    m_exifinfo->width = Get16m(data + 5);
    m_exifinfo->isColor = data[7] == 3 ? 1 : 0;
    m_exifinfo->process = marker;
}

void VxExifInfo::process_COM(const uint8_t* data, int length) {
    char comment[1000];
    int nch = 0;
    const int limit = length > 1000 ? 1000 : length;
    for (int a = 2; a < limit; ++a) {
        const uint8_t ch = data[a];
        if (ch == '\r' && a + 1 < length && data[a + 1] == '\n') continue;
        if ((ch >= 0x20 && ch < 0x7F) || ch == '\n' || ch == '\t')
            comment[nch++] = char(ch);
        else
            comment[nch++] = '?';
    }
    comment[nch] = '\0';
    std::memcpy(m_exifinfo->comments, comment, size_t(nch) + 1);
}

bool VxExifInfo::process_EXIF(uint8_t* data, unsigned length) {
    m_exifinfo->flashUsed = 0;
    m_exifinfo->comments[0] = '\0';
    ExifImageWidth = 0;

    // Bytes after the two length bytes: "Exif\0\0" then the TIFF header.
    if (length < 2 + 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0) {
        SetError("Incorrect Exif header");
        return false;
    }
    if (std::memcmp(data + 6, "II", 2) == 0) {
        MotorolaOrder = false;
    } else if (std::memcmp(data + 6, "MM", 2) == 0) {
        MotorolaOrder = true;
    } else {
        SetError("Invalid Exif alignment marker.");
        return false;
    }
    if (Get16u(data + 8) != 0x2A) {
        SetError("Invalid Exif start (1)");
        return false;
    }
    uint8_t* base = data + 6;
    const unsigned exifLength = length - 2 - 6;
    const uint32_t firstOffset = Get32u(base + 4);
    // The first directory lives where the header says, not at a fixed place.
    if (firstOffset < 8 || firstOffset >= exifLength) {
        SetError("Illegal subdirectory link");
        return false;
    }
    m_visitedCount = 0;
    uint8_t* lastReferenced = data;
    if (!ProcessExifDir(base + firstOffset, base, exifLength, m_exifinfo, &lastReferenced))
        return false;

    if (m_exifinfo->focalPlaneXRes != 0.0f)
        m_exifinfo->ccdWidth = ToFloat(double(ExifImageWidth) * m_exifinfo->focalPlaneUnits /
                                       m_exifinfo->focalPlaneXRes);
    return true;
}

bool VxExifInfo::ProcessExifDir(uint8_t* dirStart, uint8_t* offsetBase, unsigned exifLength,
                                tag_ExifInfo* info, uint8_t** lastReferenced) {
    (void)lastReferenced;
    return WalkDir(dirStart, offsetBase, exifLength, info, 0);
}

bool VxExifInfo::WalkDir(uint8_t* dirStart, uint8_t* base, unsigned length, tag_ExifInfo* info,
                         int depth) {
    const uint64_t dirOffset = uint64_t(dirStart - base);
    if (dirOffset + 2 > length) {
        SetError("Illegally sized directory");
        return false;
    }
    const unsigned count = unsigned(Get16u(dirStart));
    if (dirOffset + 2 + 12ull * count > length) {
        SetError("Illegally sized directory");
        return false;
    }
    if (m_visitedCount < kMaxDirs) m_visited[m_visitedCount++] = unsigned(dirOffset);

    // Links are followed only to directories not read before in this block, so
    // a cycle or a shared directory ends instead of repeating.
    auto followLink = [&](uint32_t offset) -> bool {
        if (offset > length) {
            SetError("Illegal subdirectory link");
            return false;
        }
        for (int i = 0; i < m_visitedCount; ++i)
            if (m_visited[i] == offset) return true;
        if (m_visitedCount >= kMaxDirs || depth + 1 >= kMaxDirs) return true;
        // A damaged subdirectory does not cost the values already read.
        WalkDir(base + offset, base, length, info, depth + 1);
        return true;
    };

    uint32_t thumbOffset = 0;
    uint32_t thumbLength = 0;
    bool haveThumbLength = false;

    for (unsigned de = 0; de < count; ++de) {
        uint8_t* entry = dirStart + 2 + 12 * de;
        const int tag = Get16u(entry);
        const int format = Get16u(entry + 2);
        const uint32_t components = Get32u(entry + 4);
        if (format > 12) {
            SetError("Illegal format code in EXIF dir");
            return false;
        }
        const uint64_t byteCount = uint64_t(components) * uint64_t(kBytesPerFormat[format]);
        uint8_t* value;
        if (byteCount > 4) {
            const uint32_t valueOffset = Get32u(entry + 8);
            if (uint64_t(valueOffset) + byteCount > length) {
                SetError("Illegal pointer offset value in EXIF.");
                return false;
            }
            value = base + valueOffset;
        } else {
            value = entry + 8;
        }
        // An entry with no bytes carries no value; only the links below read
        // their 4 in-entry bytes regardless.
        const bool hasValue = byteCount > 0;
        auto number = [&]() { return hasValue ? ConvertAnyFormat(value, format) : 0.0; };

        switch (tag) {
            case 0x010F: CopyField(info->make, 31, value, byteCount); break;
            case 0x0110: CopyField(info->model, 39, value, byteCount); break;
            case 0x9003: CopyField(info->dateTime, 19, value, byteCount); break;
            case 0x9000: {
                const uint64_t n = byteCount < 4 ? byteCount : 4;
                std::memset(info->version, 0, sizeof(info->version));
                std::memcpy(info->version, value, size_t(n));
                break;
            }
            case 0x0112: {
                const int32_t o = ToInt(number());
                if (o < 1 || o > 8) {
                    SetError("Undefined rotation value");
                    info->orientation = 0;
                } else {
                    info->orientation = o;
                }
                break;
            }
            // Resolution belongs to the main picture: the thumbnail directory's
            // own (usually 72 DPI) must not replace it.
            case 0x011A:
                if (depth == 0) info->xResolution = ToFloat(number());
                break;
            case 0x011B:
                if (depth == 0) info->yResolution = ToFloat(number());
                break;
            case 0x0128:
                if (depth == 0)
                    info->resolutionUnit = UnitFactor(ToInt(number()), info->resolutionUnit);
                break;
            case 0x0201: thumbOffset = uint32_t(ToInt(number())); break;
            case 0x0202:
                thumbLength = uint32_t(ToInt(number()));
                haveThumbLength = true;
                break;
            case 0x829A: info->exposureTime = ToFloat(number()); break;
            case 0x829D: info->apertureFNumber = ToFloat(number()); break;
            case 0x8822: info->exposureProgram = ToInt(number()); break;
            case 0x8827: {
                int32_t iso = ToInt(number());
                if (iso < 50 && iso > -10000000) iso *= 200;
                info->isoEquivalent = iso;
                break;
            }
            case 0x9102: info->compressionLevel = ToInt(number()); break;
            case 0x9201:
                if (info->exposureTime == 0.0f)
                    info->exposureTime = ToFloat(std::exp(number() * std::log(0.5)));
                break;
            case 0x9202:
                if (info->apertureFNumber == 0.0f)
                    info->apertureFNumber = ToFloat(std::exp(number() * std::log(2.0) * 0.5));
                break;
            case 0x9203: info->brightness = ToFloat(number()); break;
            case 0x9204: info->exposureBias = ToFloat(number()); break;
            case 0x9206: info->distance = ToFloat(number()); break;
            case 0x9207: info->meteringMode = ToInt(number()); break;
            case 0x9208: info->whiteBalance = ToInt(number()); break;
            case 0x9209: info->flashUsed = (ToInt(number()) & 7) ? 1 : 0; break;
            case 0x920A: info->focalLength = ToFloat(number()); break;
            case 0x9286: {
                // Worked on a copy: the stored section is written back unchanged.
                uint64_t n = byteCount;
                while (n > 0 && value[n - 1] == ' ') --n;
                uint64_t start = 0;
                bool text = true;
                if (n >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
                    text = false;
                    for (uint64_t a = 5; a < 10 && a < n; ++a) {
                        if (value[a] != 0 && value[a] != ' ') {
                            start = a;
                            text = true;
                            break;
                        }
                    }
                }
                if (text)
                    CopyField(info->comments, 199, value + start, n - start);
                else
                    info->comments[0] = '\0';
                break;
            }
            case 0xA002:
            case 0xA003: {
                const int32_t w = ToInt(number());
                if (w > ExifImageWidth) ExifImageWidth = w;
                break;
            }
            case 0xA20E: info->focalPlaneXRes = ToFloat(number()); break;
            case 0xA20F: info->focalPlaneYRes = ToFloat(number()); break;
            case 0xA210:
                info->focalPlaneUnits = UnitFactor(ToInt(number()), info->focalPlaneUnits);
                break;
            case 0x8769:
            case 0xA005: {
                const uint32_t sub = Get32u(value);
                if (sub > 8 && !followLink(sub)) return false;
                break;
            }
            default: break;
        }
    }

    // The next-directory link follows the entries; a directory that ends flush
    // with the block has none.
    const uint64_t linkAt = dirOffset + 2 + 12ull * count;
    if (linkAt + 4 <= length) {
        const uint32_t next = Get32u(base + linkAt);
        if (next != 0 && !followLink(next)) return false;
    }

    if (haveThumbLength && thumbOffset != 0 && uint64_t(thumbOffset) + thumbLength <= length) {
        info->thumbnail = base + thumbOffset;
        info->thumbnailSize = thumbLength;
    }
    return true;
}

double VxExifInfo::ConvertAnyFormat(const void* value, int format) {
    const uint8_t* p = static_cast<const uint8_t*>(value);
    switch (format) {
        case kFmtSByte: return double(int8_t(p[0]));
        case kFmtByte: return double(p[0]);
        case kFmtUShort: return double(Get16u(p));
        case kFmtULong: return double(Get32u(p));
        case kFmtURational:
        case kFmtSRational: {
            const int32_t num = Get32s(p);
            const int32_t den = Get32s(p + 4);
            return den == 0 ? 0.0 : double(num) / double(den);
        }
        case kFmtSShort: return double(int16_t(uint16_t(Get16u(p))));
        case kFmtSLong: return double(Get32s(p));
        case kFmtSingle: {
            const uint32_t bits = Get32u(p);
            float f;
            std::memcpy(&f, &bits, sizeof(f));
            return double(f);
        }
        case kFmtDouble: {
            const uint64_t hi = Get32u(MotorolaOrder ? p : p + 4);
            const uint64_t lo = Get32u(MotorolaOrder ? p + 4 : p);
            const uint64_t bits = (hi << 32) | lo;
            double d;
            std::memcpy(&d, &bits, sizeof(d));
            return d;
        }
        default: return 0.0;
    }
}

void VxExifInfo::DiscardAllButExif() {
    ExifSection app1{nullptr, 0, 0};
    ExifSection com{nullptr, 0, 0};
    for (int i = 0; i < SectionsRead; ++i) {
        ExifSection& s = Sections[i];
        if (s.type == kMarkerAPP1 && !app1.data) {
            app1 = s;
        } else if (s.type == kMarkerCOM && !com.data) {
            com = s;
        } else {
            std::free(s.data);
        }
        s = ExifSection{nullptr, 0, 0};
    }
    SectionsRead = 0;
    if (app1.data) Sections[SectionsRead++] = app1;
    if (com.data) Sections[SectionsRead++] = com;
    // The thumbnail pointer must not outlive the section it points into.
    uint8_t* t = m_exifinfo ? m_exifinfo->thumbnail : nullptr;
    if (t && !(app1.data && t >= app1.data && t < app1.data + app1.size)) {
        m_exifinfo->thumbnail = nullptr;
        m_exifinfo->thumbnailSize = 0;
    }
}

bool VxExifInfo::WriteAll(VxFile* file, const void* data, size_t size) {
    if (size == 0 || file->Write(data, 1, size) == size) return true;
    m_writeFailed = true;
    SetError("Can't write exif : write failed");
    return false;
}

bool VxExifInfo::EncodeExif(VxFile* file) {
    if (!file) return false;
    if (!FindSection(kMarkerSOS)) {
        SetError("Can't write exif : didn't read all");
        return false;
    }
    const uint8_t soi[2] = {0xFF, kMarkerSOI};
    if (!WriteAll(file, soi, 2)) return false;
    if (Sections[0].type != kMarkerAPP0 && Sections[0].type != kMarkerAPP1)
        if (!WriteAll(file, kJfifBlock, sizeof(kJfifBlock))) return false;
    for (int i = 0; i < SectionsRead - 1; ++i) {
        const uint8_t head[2] = {0xFF, uint8_t(Sections[i].type)};
        if (!WriteAll(file, head, 2) || !WriteAll(file, Sections[i].data, size_t(Sections[i].size)))
            return false;
    }
    const ExifSection& last = Sections[SectionsRead - 1];
    return WriteAll(file, last.data, size_t(last.size));
}
