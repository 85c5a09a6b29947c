#include "app/format_table/format_table.h"

#include <algorithm>
#include <span>

#include "core/vx_codec.h"

namespace vellumar {

namespace {

std::span<const VxCodecEntry> Registry() {
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    return {entries, count};
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// Whether `word` is one of the space-separated words of `list`.
bool ListHolds(std::string_view list, std::string_view word) {
    while (!list.empty()) {
        const size_t space = list.find(' ');
        if (list.substr(0, space) == word) return true;
        if (space == std::string_view::npos) break;
        list.remove_prefix(space + 1);
    }
    return false;
}

// The registry's targets in list order.
const std::vector<const VxCodecEntry*>& Targets() {
    static const std::vector<const VxCodecEntry*> targets = [] {
        std::vector<const VxCodecEntry*> out;
        for (const VxCodecEntry& e : Registry())
            if (e.caps.listed) out.push_back(&e);
        std::sort(out.begin(), out.end(), [](const VxCodecEntry* a, const VxCodecEntry* b) {
            return a->caps.listed < b->caps.listed;
        });
        return out;
    }();
    return targets;
}

struct Items {
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};

const Items& TargetItemTexts() {
    static const Items items = [] {
        Items out;
        for (const VxCodecEntry* e : Targets()) out.texts.push_back(std::string("*.") + e->name);
        for (const std::string& t : out.texts) out.pointers.push_back(t.c_str());
        return out;
    }();
    return items;
}

}  // namespace

const std::vector<const char*>& TargetItems() { return TargetItemTexts().pointers; }

std::string TargetNames(std::string_view separator) {
    std::string out;
    for (const VxCodecEntry* e : Targets()) {
        if (!out.empty()) out += separator;
        out += e->name;
    }
    return out;
}

std::string FormatNames(std::string_view separator) {
    std::string out;
    for (ImageFormat code = 1; code < kVxFormatCount; ++code) {
        const char* name = VxFormatName(code);
        if (!*name) continue;
        if (!out.empty()) out += separator;
        out += name;
    }
    return out;
}

ImageFormat FormatFromExtension(std::string_view text) {
    // UTF-8 continuation bytes are never '.', so the last '.' byte is a real dot.
    const size_t dot = text.rfind('.');
    const std::string ext = AsciiLower(dot == std::string_view::npos ? text : text.substr(dot + 1));
    if (!ext.empty())
        for (const VxCodecEntry& e : Registry())
            if (ListHolds(e.extensions, ext)) return e.code;
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
    const std::vector<const char*>& items = TargetItems();
    for (const char* item : items)
        if (upper == item + 2) return item;
    return nullptr;
}

}  // namespace vellumar
