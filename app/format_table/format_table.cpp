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
    {"bmp", 1},  {"gif", 2},  {"jpg", 3},  {"jpeg", 3}, {"png", 4},  {"ico", 5},
    {"cur", 5},  {"tif", 6},  {"tiff", 6}, {"tga", 7},  {"pcx", 8},  {"wbmp", 9},
    {"wmf", 10}, {"emf", 10}, {"j2k", 11}, {"jp2", 11}, {"j2c", 12}, {"jpc", 12},
    {"pgx", 13}, {"ras", 15}, {"pnm", 14}, {"pgm", 14}, {"ppm", 14},
    {"webp", 16}, {"heic", 17}, {"heif", 17}, {"hif", 17}, {"avif", 18}, {"jxl", 19},
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
    return 1;
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
