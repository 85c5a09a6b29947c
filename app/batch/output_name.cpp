#include "app/batch/output_name.h"

#include <cctype>

namespace vellumar::batch {

namespace {

enum class Field { Prefix, Row, Name, Ext, EXT, Dir, Date, Size, Unknown };

// "row:04": the row number padded with zeros to that many digits (1 to 9).
int RowWidth(std::string_view key) {
    if (key.size() < 6 || key.substr(0, 5) != "row:0") return 0;
    int width = 0;
    for (const char c : key.substr(5)) {
        if (c < '0' || c > '9') return 0;
        width = width * 10 + (c - '0');
        if (width > 9) return 0;
    }
    return width;
}

Field FieldOf(std::string_view key) {
    if (key == "prefix") return Field::Prefix;
    if (key == "row" || RowWidth(key)) return Field::Row;
    if (key == "date") return Field::Date;
    if (key == "size") return Field::Size;
    if (key == "name") return Field::Name;
    if (key == "ext") return Field::Ext;
    if (key == "EXT") return Field::EXT;
    if (key == "dir") return Field::Dir;
    return Field::Unknown;
}

// Calls `literal(text)` and `field(Field, key)` in order; false with `why` on a
// brace that does not pair or an unknown field.
template <typename Literal, typename OnField>
bool Walk(std::string_view pattern, std::string& why, Literal literal, OnField field) {
    size_t at = 0;
    while (at < pattern.size()) {
        const size_t open = pattern.find_first_of("{}", at);
        literal(pattern.substr(at, open == std::string_view::npos ? std::string_view::npos : open - at));
        if (open == std::string_view::npos) break;
        const size_t close = pattern.find('}', open);
        if (pattern[open] == '}' || close == std::string_view::npos) {
            why = "a brace without its pair in the name template";
            return false;
        }
        const std::string_view key = pattern.substr(open + 1, close - open - 1);
        const Field f = FieldOf(key);
        if (f == Field::Unknown) {
            why = "unknown field {" + std::string(key) + "} in the name template";
            return false;
        }
        field(f, key);
        at = close + 1;
    }
    return true;
}

// Empty components go; "." and ".." are refused, so the path stays inside
// the output folder and names one file only one way.
bool Tidy(const std::string& raw, std::string& out) {
    out.clear();
    size_t at = 0;
    while (at <= raw.size()) {
        size_t slash = raw.find('/', at);
        if (slash == std::string::npos) slash = raw.size();
        const std::string_view part(raw.data() + at, slash - at);
        if (part == "." || part == "..") return false;
        if (!part.empty()) {
            if (!out.empty()) out += '/';
            out += part;
        }
        at = slash + 1;
    }
    return !out.empty() && raw.back() != '/';
}

}  // namespace

std::string CheckNameTemplate(std::string_view pattern) {
    std::string why;
    bool fields = false;
    if (!Walk(pattern, why, [](std::string_view) {}, [&](Field, std::string_view) { fields = true; }))
        return why;
    if (!fields) return "the name template has no field, so every row would write one file";
    if (!pattern.empty() && pattern.front() == '/')
        return "the name template must not start with '/'";
    return {};
}

bool TemplateUses(std::string_view pattern, std::string_view field) {
    std::string why;
    bool found = false;
    Walk(pattern, why, [](std::string_view) {}, [&](Field f, std::string_view) {
        found = found || (f == Field::Date && field == "date") || (f == Field::Size && field == "size");
    });
    return found;
}

std::string SourceStem(std::string_view source) {
    const size_t slash = source.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? source : source.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

std::string ExpandName(std::string_view pattern, const NameParts& parts, std::string& why) {
    std::string raw;
    const bool ok = Walk(
        pattern, why, [&](std::string_view text) { raw += text; },
        [&](Field f, std::string_view key) {
            switch (f) {
                case Field::Prefix: raw += parts.prefix; break;
                case Field::Row: {
                    const std::string digits = std::to_string(parts.row);
                    const size_t width = size_t(RowWidth(key));
                    if (digits.size() < width) raw.append(width - digits.size(), '0');
                    raw += digits;
                    break;
                }
                case Field::Date: raw += parts.date; break;
                case Field::Size: raw += parts.size; break;
                case Field::Name: raw += SourceStem(parts.source); break;
                case Field::Ext: {
                    std::string_view e = parts.extension;
                    if (!e.empty() && e.front() == '.') e.remove_prefix(1);
                    for (char c : e) raw += char(std::tolower(static_cast<unsigned char>(c)));
                    break;
                }
                case Field::EXT: raw += parts.extension; break;
                case Field::Dir: raw += parts.dir; break;
                case Field::Unknown: break;
            }
        });
    if (!ok) return {};
    std::string path;
    if (!Tidy(raw, path)) {
        why = "the name template gives no usable file name here: " + raw;
        return {};
    }
    return path;
}

}  // namespace vellumar::batch
