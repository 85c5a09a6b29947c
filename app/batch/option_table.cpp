#include "app/batch/option_table.h"

#include <cctype>
#include <charconv>
#include <iterator>
#include <vector>

namespace vellumar::batch {

namespace {

std::string OnOff(bool on) { return on ? "true" : "false"; }

// "200K", "1.5M", "3000": a size in bytes, powers of 1024, rounded down.
bool ParseFileSize(std::string_view text, uint64_t& bytes) {
    uint64_t whole = 0, fraction = 0, scale = 1;
    size_t at = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && whole < (1ull << 50))
        whole = whole * 10 + uint64_t(text[at++] - '0');
    if (at == 0) return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && scale < 1000000)
            fraction = fraction * 10 + uint64_t(text[at++] - '0'), scale *= 10;
    }
    int shift = 0;
    if (at < text.size()) {
        const char unit = char(std::toupper(static_cast<unsigned char>(text[at++])));
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : -1;
    }
    if (shift < 0 || at != text.size()) return false;
    const uint64_t value = (whole << shift) + ((fraction << shift) / scale);
    if (value == 0) return false;
    bytes = value;
    return true;
}

// "-1.5", "+2", "0.25": stops of exposure in hundredths, from -20 to +20.
bool ParseStops(std::string_view text, int32_t& hundredths) {
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++at;
    int32_t whole = 0, fraction = 0, digits = 0, places = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && whole <= 20)
        whole = whole * 10 + (text[at++] - '0'), ++digits;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && places < 2)
            fraction = fraction * 10 + (text[at++] - '0'), ++places, ++digits;
        if (places == 1) fraction *= 10;
    }
    if (digits == 0 || at != text.size()) return false;
    const int32_t value = whole * 100 + fraction;
    if (value > 2000) return false;
    hundredths = negative ? -value : value;
    return true;
}

template <class Choice>
bool SetChoice(bool (*parse)(std::string_view, Choice&), Choice& into, std::string_view text) {
    Choice parsed{};
    if (!parse(text, parsed)) return false;
    into = parsed;
    return true;
}

const RunOption kOptions[] = {
    {.name = "prefix",
     .kind = OptionKind::Text,
     .value = "TEXT",
     .needs = "needs a name without '/'",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         // A name, not a path: it must not lead out of the output folder.
         if (v.find('/') != std::string_view::npos) return false;
         o.prefix = v;
         return true;
     },
     .get = [](const RunOptions& o) { return o.prefix; }},
    {.name = "name",
     .kind = OptionKind::Text,
     .value = "TEMPLATE",
     .needs = "needs a template",
     .setText = [](RunOptions& o, std::string_view v, std::string& detail) {
         detail = CheckNameTemplate(v);
         if (!detail.empty()) return false;
         o.nameTemplate = v;
         return true;
     },
     .get = [](const RunOptions& o) { return o.nameTemplate; }},
    {.name = "keep-going",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.keepGoing = on; },
     .get = [](const RunOptions& o) { return OnOff(o.keepGoing); }},
    {.name = "quality",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs a number from 1 to 100",
     .lo = 1,
     .hi = 100,
     .setNumber =
         [](RunOptions& o, uint64_t v) {
             o.quality = int(v);
             o.qualityGiven = true;
         },
     .get = [](const RunOptions& o) { return std::to_string(o.quality); }},
    {.name = "frame",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs a number from 0",
     .lo = 0,
     .hi = uint64_t(1) << 30,
     .setNumber =
         [](RunOptions& o, uint64_t v) {
             o.frame = int(v);
             o.frameGiven = true;
         },
     .get = [](const RunOptions& o) { return std::to_string(o.frame); }},
    {.name = "jobs",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs a number from 1 to 256",
     .lo = 1,
     .hi = 256,
     .setNumber = [](RunOptions& o, uint64_t v) { o.jobs = int(v); },
     .get = [](const RunOptions& o) { return std::to_string(o.jobs); }},
    {.name = "threads",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs a number from 1 to 256",
     .lo = 1,
     .hi = 256,
     .setNumber = [](RunOptions& o, uint64_t v) { o.threads = int(v); },
     .get = [](const RunOptions& o) { return std::to_string(o.threads); }},
    {.name = "max-memory",
     .kind = OptionKind::Number,
     .value = "BYTES",
     .needs = "needs a byte count above 0 (K, M or G may follow)",
     .lo = 1,
     .hi = UINT64_MAX,
     .units = true,
     .setNumber = [](RunOptions& o, uint64_t v) { o.maxMemory = v; },
     .get = [](const RunOptions& o) { return std::to_string(o.maxMemory); }},
    {.name = "resize",
     .kind = OptionKind::Text,
     .value = "SIZE",
     .needs = "needs WxH, WxH+, Wx, xH or N%, or several of them with commas",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         // "1600x,800x,400x": one output of each size from one decode.
         std::vector<vx::ResizeRequest> sizes;
         for (size_t at = 0; at <= v.size();) {
             size_t end = v.find(',', at);
             if (end == std::string_view::npos) end = v.size();
             vx::ResizeRequest r;
             if (!vx::ParseResizeRequest(v.substr(at, end - at), r)) return false;
             sizes.push_back(r);
             at = end + 1;
         }
         o.steps.resize = sizes.front();
         o.alsoSizes.assign(sizes.begin() + 1, sizes.end());
         return true;
     }},
    {.name = "keep-orientation",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.steps.keepOrientation = on; },
     .get = [](const RunOptions& o) { return OnOff(o.steps.keepOrientation); }},
    {.name = "strip",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.steps.strip = on; },
     .get = [](const RunOptions& o) { return OnOff(o.steps.strip); }},
    {.name = "lossless-trim",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.losslessTrim = on; },
     .get = [](const RunOptions& o) { return OnOff(o.losslessTrim); }},
    {.name = "lossless",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.steps.lossless = on; },
     .get = [](const RunOptions& o) { return OnOff(o.steps.lossless); }},
    {.name = "palette",
     .kind = OptionKind::Text,
     .value = "STYLE",
     .needs = "needs standard or adaptive",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         return SetChoice(vx::ParsePaletteChoice, o.steps.colours.palette, v);
     },
     .get = [](const RunOptions& o) {
         return std::string(o.steps.colours.palette == vx::PaletteChoice::Adaptive ? "adaptive"
                                                                                  : "standard");
     }},
    {.name = "dither",
     .kind = OptionKind::Text,
     .value = "STYLE",
     .needs = "needs none or floyd-steinberg",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         return SetChoice(vx::ParseDitherChoice, o.steps.colours.dither, v);
     },
     .get = [](const RunOptions& o) {
         return std::string(o.steps.colours.dither == vx::DitherChoice::None ? "none"
                                                                            : "floyd-steinberg");
     }},
    {.name = "depth",
     .kind = OptionKind::Number,
     .value = "BITS",
     .needs = "needs 8 or 16",
     .lo = 8,
     .hi = 16,
     .step = 8,
     .setNumber = [](RunOptions& o, uint64_t v) { o.steps.depth = uint8_t(v); },
     .get = [](const RunOptions& o) { return o.steps.depth ? std::to_string(o.steps.depth) : std::string(); }},
    {.name = "max-pixels",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs a number of pixels (0: no limit)",
     .lo = 0,
     .hi = UINT64_MAX,
     .setNumber = [](RunOptions& o, uint64_t v) { o.maxPixels = v; },
     .get = [](const RunOptions& o) { return std::to_string(o.maxPixels); }},
    {.name = "allow-truncated",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.allowTruncated = on; },
     .get = [](const RunOptions& o) { return OnOff(o.allowTruncated); }},
    {.name = "exposure",
     .kind = OptionKind::Text,
     .value = "EV",
     .needs = "needs stops from -20 to 20, at most two decimals",
     .decimal = true,
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         return ParseStops(v, o.decode.exposure);
     },
     .get = [](const RunOptions& o) {
         const int32_t e = o.decode.exposure, a = e < 0 ? -e : e;
         std::string s = std::string(e < 0 ? "-" : "") + std::to_string(a / 100);
         if (a % 100) s += (a % 10 ? "." + std::to_string(100 + a % 100).substr(1)
                                   : "." + std::to_string(a % 100 / 10));
         return s;
     }},
    {.name = "dpi",
     .kind = OptionKind::Number,
     .value = "N",
     .needs = "needs dots per inch from 1 to 9600",
     .lo = 1,
     .hi = 9600,
     .setNumber = [](RunOptions& o, uint64_t v) { o.decode.dpi = uint32_t(v); },
     .get = [](const RunOptions& o) { return std::to_string(o.decode.dpi); }},
    {.name = "raw-preview",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.decode.rawPreview = on; },
     .get = [](const RunOptions& o) { return OnOff(o.decode.rawPreview); }},
    {.name = "if-exists",
     .kind = OptionKind::Text,
     .value = "MODE",
     .needs = "needs replace, skip, newer or rename",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         return ParseIfExists(v, o.ifExists);
     },
     .get = [](const RunOptions& o) { return std::string(IfExistsName(o.ifExists)); }},
    {.name = "verify",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.verify = on; },
     .get = [](const RunOptions& o) { return OnOff(o.verify); }},
    {.name = "strict",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.strict = on; },
     .get = [](const RunOptions& o) { return OnOff(o.strict); }},
    {.name = "keep-dates",
     .kind = OptionKind::Flag,
     .value = "",
     .needs = "needs True or False",
     .setFlag = [](RunOptions& o, bool on) { o.keepDates = on; },
     .get = [](const RunOptions& o) { return OnOff(o.keepDates); }},
    {.name = "target-size",
     .kind = OptionKind::Text,
     .value = "BYTES",
     .needs = "needs a file size above 0 (200K, 1.5M)",
     .setText = [](RunOptions& o, std::string_view v, std::string&) {
         return ParseFileSize(v, o.targetSize);
     },
     .get = [](const RunOptions& o) { return std::to_string(o.targetSize); }},
};

// Digits, then a unit where the option takes one.
bool ParseNumber(const RunOption& option, std::string_view text, uint64_t& value) {
    const char* end = text.data() + text.size();
    uint64_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || text.empty()) return false;
    int shift = 0;
    if (ptr != end && option.units) {
        const char unit = char(std::toupper(static_cast<unsigned char>(*ptr++)));
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : -1;
    }
    if (shift < 0 || ptr != end || v > (UINT64_MAX >> shift)) return false;
    value = v << shift;
    return true;
}

}  // namespace

std::span<const RunOption> RunOptionTable() { return kOptions; }

const RunOption* FindRunOption(std::string_view name) {
    for (const RunOption& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

bool SetFromText(RunOptions& options, const RunOption& option, std::string_view text,
                 std::string& detail) {
    detail.clear();
    switch (option.kind) {
        case OptionKind::Text:
            // A name the system would cut at its first NUL is not the name given.
            if (text.find('\0') != std::string_view::npos) {
                detail = "a NUL byte cannot stand in a name";
                return false;
            }
            return option.setText(options, text, detail);
        case OptionKind::Number: {
            uint64_t v = 0;
            return ParseNumber(option, text, v) && SetNumber(options, option, v);
        }
        case OptionKind::Flag: break;
    }
    return false;
}

bool SetNumber(RunOptions& options, const RunOption& option, uint64_t value) {
    if (option.kind != OptionKind::Number || value < option.lo || value > option.hi ||
        (value - option.lo) % option.step != 0)
        return false;
    option.setNumber(options, value);
    return true;
}

void SetFlag(RunOptions& options, const RunOption& option, bool on) {
    if (option.kind == OptionKind::Flag) option.setFlag(options, on);
}

std::string OptionError(std::string_view shownName, const RunOption& option,
                        std::string_view detail) {
    std::string text(shownName);
    if (detail.empty()) {
        text += ' ';
        text += option.needs;
    } else {
        text += ": ";
        text += detail;
    }
    return text;
}

std::string DefaultOf(const RunOption& option) {
    return option.get ? option.get(RunOptions{}) : std::string();
}

}  // namespace vellumar::batch
