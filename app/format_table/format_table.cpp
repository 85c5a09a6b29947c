#include "app/format_table/format_table.h"

#include <cctype>

namespace vellumar {

namespace {

struct ExtensionCode {
    const char* ext;
    ImageFormat code;
};

// Order matters only for documentation: every extension appears once.
constexpr ExtensionCode kExtensions[] = {
    {"bmp", VX_FORMAT_BMP},  {"gif", VX_FORMAT_GIF},  {"jpg", VX_FORMAT_JPG},
    {"jpeg", VX_FORMAT_JPG}, {"png", VX_FORMAT_PNG},  {"ico", VX_FORMAT_ICO},
    {"cur", VX_FORMAT_ICO},  {"tif", VX_FORMAT_TIF},  {"tiff", VX_FORMAT_TIF},
    {"tga", VX_FORMAT_TGA},  {"pcx", VX_FORMAT_PCX},  {"wbmp", VX_FORMAT_WBMP},
    {"wmf", VX_FORMAT_WMF},  {"emf", VX_FORMAT_WMF},  {"j2k", VX_FORMAT_JP2},
    {"jp2", VX_FORMAT_JP2},  {"j2c", VX_FORMAT_JPC},  {"jpc", VX_FORMAT_JPC},
    {"pgx", VX_FORMAT_PGX},  {"ras", VX_FORMAT_RAS},  {"pnm", VX_FORMAT_PNM},
    {"pgm", VX_FORMAT_PNM},  {"ppm", VX_FORMAT_PNM},
    {"webp", VX_FORMAT_WEBP}, {"heic", VX_FORMAT_HEIF}, {"heif", VX_FORMAT_HEIF},
    {"hif", VX_FORMAT_HEIF},  {"avif", VX_FORMAT_AVIF}, {"jxl", VX_FORMAT_JXL},
};

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

}  // namespace

ImageFormat FormatFromExtension(std::string_view text) {
    // UTF-8 continuation bytes are never '.', so the last '.' byte is a real dot.
    const size_t dot = text.rfind('.');
    const std::string ext = AsciiLower(dot == std::string_view::npos ? text : text.substr(dot + 1));
    for (const auto& e : kExtensions)
        if (ext == e.ext) return e.code;
    return VX_FORMAT_BMP;
}

std::string TargetExtension(std::string_view itemText) {
    const size_t star = itemText.find('*');
    if (star == std::string_view::npos) return {};
    std::string_view rest = itemText.substr(star + 1);
    const size_t next = rest.find('*');
    return std::string(next == std::string_view::npos ? rest : rest.substr(0, next));
}

const char* FindTargetItem(std::string_view name) {
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    for (const char* item : kTargetItems)
        if (upper == item + 2) return item;
    return nullptr;
}

}  // namespace vellumar
