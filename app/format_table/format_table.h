// File-name extensions and target names -> format codes, as the registry
// (codecs/registry.cpp) lists them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/vx_format.h"

namespace vellumar {

// The target items ("*.PNG"), in list order: the window's original fifteen,
// then the newer formats.
const std::vector<const char*>& TargetItems();

// The targets' names in list order ("PNG ICO ..." with " "), as --to takes them.
std::string TargetNames(std::string_view separator);

// Every format's name in the order of the format codes ("BMP,GIF,..." with
// ","): the formats that can be read.
std::string FormatNames(std::string_view separator);

// Code of the text after the last dot (ASCII letters folded); 1 when nothing matches.
ImageFormat FormatFromExtension(std::string_view text);

// The item's text split at every '*': the second part (".PNG"), or "" if none.
std::string TargetExtension(std::string_view itemText);

// "PNG" or "png" -> "*.PNG"; nullptr when the name is not a target item.
const char* FindTargetItem(std::string_view name);

}  // namespace vellumar
