// Output file names from a template: {prefix} {row} {name} {ext} {EXT} {dir}
// {date} {size}.
//
// {row:04} pads the row number with zeros to four digits. {date} is the
// picture's EXIF date ("2024-05-01"), or its file's modification date.
// {size} is the width a --resize size asks for ("1600" for "1600x"), the
// request itself when it names no width ("x800", "50%"), empty without one.
// {name} is the source's file name without its last extension: the text
// after the last dot goes, the dots before it stay ("scan.2024.tif" gives
// "scan.2024"); a name whose only dot leads it (".hidden") keeps it whole.
// {ext} is the target's extension in lower case without the dot ("png"),
// {EXT} as the format list spells it, dot included (".PNG"). {dir} is the
// source's folder relative to the folder the run was given ("" for files
// named one by one); a '/' after an empty {dir} disappears.
#pragma once

#include <string>
#include <string_view>

namespace vellumar::batch {

inline constexpr char kDefaultNameTemplate[] = "{prefix}{row}{EXT}";
// Each output named after its source: IMG_0001.jpg gives IMG_0001.PNG.
inline constexpr char kSourceNameTemplate[] = "{name}{EXT}";

// Empty when the template can be used, else what is wrong with it.
std::string CheckNameTemplate(std::string_view pattern);

struct NameParts {
    std::string_view prefix;
    int row = 0;
    std::string_view source;     // the source's path; its file name gives {name}
    std::string_view dir;        // {dir}
    std::string_view extension;  // {EXT}, e.g. ".PNG"
    std::string_view date;       // {date}
    std::string_view size;       // {size}
};

// Whether the template names the field ("date", "size"): its value then has
// to be found before the name can be made.
bool TemplateUses(std::string_view pattern, std::string_view field);

// The source's file name without its last extension, as {name} gives it.
std::string SourceStem(std::string_view source);

// The output path relative to the output folder, '/'-separated; empty with
// the reason in `why` when the name would be empty or leave that folder.
std::string ExpandName(std::string_view pattern, const NameParts& parts, std::string& why);

}  // namespace vellumar::batch
