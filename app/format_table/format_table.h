// File-name extensions and target items -> format codes.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/vx_format.h"

namespace vellumar {

// The target items, in list order: the window's original fifteen, then the
// newer formats.
inline constexpr std::array<const char*, 19> kTargetItems = {
    "*.PNG", "*.ICO", "*.TGA", "*.JPG",  "*.BMP",  "*.GIF",  "*.TIF",
    "*.PCX", "*.WBMP", "*.WMF", "*.JP2", "*.JPC", "*.PGX", "*.PNM",
    "*.RAS", "*.WEBP", "*.HEIC", "*.AVIF", "*.JXL"};

// Code of the text after the last dot (ASCII letters folded); 1 when nothing matches.
ImageFormat FormatFromExtension(std::string_view text);

// The item's text split at every '*': the second part (".PNG"), or "" if none.
std::string TargetExtension(std::string_view itemText);

// "PNG" or "png" -> "*.PNG"; nullptr when the name is not a target item.
const char* FindTargetItem(std::string_view name);

}  // namespace vellumar
