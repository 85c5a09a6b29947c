#include "app/cli/cli.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/file_places.h"
#include "app/batch/output_name.h"
#include "app/batch/picture_facts.h"
#include "app/batch/program_dir.h"
#include "app/batch/run_driver.h"
#include "app/batch/source_list.h"
#include "app/format_table/format_table.h"
#include "vellumar_version.h"

namespace vellumar::cli {

namespace {

const char kUsage[] =
    "usage: vellumar-convert --to FORMAT [--out-dir DIR] [--prefix TEXT] [--name TEMPLATE]\n"
    "                        [--recursive] [--keep-going]\n"
    "                        [--quality N] [--frame N] [--jobs N] [--max-memory BYTES]\n"
    "                        [--resize SIZE] [--keep-orientation] [--strip]\n"
    "                        [--palette STYLE] [--dither STYLE]\n"
    "                        [--max-pixels N] [--quiet] FILE...\n"
    "       vellumar-convert --info [--frame N] [--max-pixels N] FILE...\n"
    "       vellumar-convert --help | --version\n"
    "FORMAT: PNG ICO TGA JPG BMP GIF TIF PCX WBMP WMF JP2 JPC PGX PNM RAS WEBP HEIC AVIF JXL\n";

struct Options {
    const char* item = nullptr;
    bool info = false;
    std::string outDir;
    std::string prefix = "main";
    std::string nameTemplate = batch::kDefaultNameTemplate;
    bool recursive = false;
    bool keepGoing = false;
    bool quiet = false;
    int quality = 90;
    int frame = 0;
    int jobs = 0;  // 0: one per core
    uint64_t maxMemory = 0;  // 0: half the machine's memory
    batch::PictureSteps steps;
    uint64_t maxPixels = kVxDefaultMaxPixels;  // 0: no limit
    std::vector<std::string> files;
};

// A byte count, with an optional K, M or G (powers of 1024).
bool ParseBytes(const std::string& text, uint64_t& value) {
    uint64_t v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || v == 0) return false;
    int shift = 0;
    if (ptr != end) {
        const char unit = char(std::toupper(static_cast<unsigned char>(*ptr++)));
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : -1;
    }
    if (shift < 0 || ptr != end || v > (UINT64_MAX >> shift)) return false;
    value = v << shift;
    return true;
}

// A count of 0 or more, digits only.
bool ParseCount(const std::string& text, uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// Names as a terminal may show them: control characters escaped, so a file
// name cannot move the cursor or change colours.
std::string Printable(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F && u != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

bool ParseInt(const std::string& text, int lo, int hi, int& value) {
    int v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || v < lo || v > hi) return false;
    value = v;
    return true;
}

// Returns an error text, or empty on success.
std::string Parse(int argc, const char* const* argv, Options& o) {
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            o.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        std::string value;
        bool hasInline = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        auto takeValue = [&](std::string& into) -> bool {
            if (hasInline) {
                into = value;
                return true;
            }
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--to") {
            std::string name;
            if (!takeValue(name)) return "--to needs a format";
            o.item = FindTargetItem(name);
            if (!o.item) return "unknown format: " + name;
        } else if (arg == "--out-dir") {
            if (!takeValue(o.outDir) || o.outDir.empty()) return "--out-dir needs a folder";
        } else if (arg == "--prefix") {
            if (!takeValue(o.prefix)) return "--prefix needs a text";
            // A name, not a path: it must not lead out of the output folder.
            if (o.prefix.find('/') != std::string::npos) return "--prefix must not contain '/'";
        } else if (arg == "--name") {
            if (!takeValue(o.nameTemplate)) return "--name needs a template";
            const std::string why = batch::CheckNameTemplate(o.nameTemplate);
            if (!why.empty()) return "--name: " + why;
        } else if (arg == "--recursive" && !hasInline) {
            o.recursive = true;
        } else if (arg == "--quality") {
            std::string v;
            if (!takeValue(v) || !ParseInt(v, 1, 100, o.quality))
                return "--quality needs a number from 1 to 100";
        } else if (arg == "--frame") {
            std::string v;
            if (!takeValue(v) || !ParseInt(v, 0, 1 << 30, o.frame))
                return "--frame needs a number from 0";
        } else if (arg == "--jobs") {
            std::string v;
            if (!takeValue(v) || !ParseInt(v, 1, 256, o.jobs))
                return "--jobs needs a number from 1 to 256";
        } else if (arg == "--max-memory") {
            std::string v;
            if (!takeValue(v) || !ParseBytes(v, o.maxMemory))
                return "--max-memory needs a byte count above 0 (K, M or G may follow)";
        } else if (arg == "--resize") {
            std::string v;
            if (!takeValue(v) || !vx::ParseResizeRequest(v, o.steps.resize))
                return "--resize needs WxH, WxH+, Wx, xH or N%";
        } else if (arg == "--palette") {
            std::string v;
            if (!takeValue(v) || !vx::ParsePaletteChoice(v, o.steps.colours.palette))
                return "--palette needs standard or adaptive";
        } else if (arg == "--dither") {
            std::string v;
            if (!takeValue(v) || !vx::ParseDitherChoice(v, o.steps.colours.dither))
                return "--dither needs none or floyd-steinberg";
        } else if (arg == "--keep-orientation" && !hasInline) {
            o.steps.keepOrientation = true;
        } else if (arg == "--strip" && !hasInline) {
            o.steps.strip = true;
        } else if (arg == "--max-pixels") {
            std::string v;
            if (!takeValue(v) || !ParseCount(v, o.maxPixels))
                return "--max-pixels needs a number of pixels (0: no limit)";
        } else if (arg == "--keep-going" && !hasInline) {
            o.keepGoing = true;
        } else if (arg == "--quiet" && !hasInline) {
            o.quiet = true;
        } else if (arg == "--info" && !hasInline) {
            o.info = true;
        } else {
            return "unknown option: " + arg;
        }
    }
    if (o.info && o.item) return "--info and --to do not go together";
    if (!o.info && !o.item) return "missing --to FORMAT";
    if (o.files.empty()) return "no input files";
    return {};
}

int RunInfo(const Options& o, std::ostream& out, std::ostream& err) {
    int status = 0;
    for (const std::string& file : o.files) {
        const batch::PictureFacts f = batch::ReadPictureFacts(file, o.frame, o.maxPixels);
        out << Printable(file) << ": ";
        if (f.ok) {
            out << f.format << ' ' << f.width << 'x' << f.height << ' ' << f.bpp << " bpp, "
                << f.frames << (f.frames == 1 ? " frame, " : " frames, ") << f.xdpi << 'x'
                << f.ydpi << " dpi\n";
        } else {
            out << "error: " << Printable(f.error) << '\n';
            status = 1;
        }
    }
    // What it printed is the whole point: failing to print it is a failure.
    if (!out.flush()) {
        err << "vellumar-convert: cannot write the output\n";
        return 1;
    }
    return status;
}

// Whether one of `names` stands among the options (before a "--").
bool HasOption(int argc, const char* const* argv, std::initializer_list<const char*> names) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool progressToTerminal, const batch::CancelFlag* cancel) {
    Options o;
    if (HasOption(argc, argv, {"--help", "-h"})) {
        out << kUsage;
        return 0;
    }
    if (HasOption(argc, argv, {"--version"})) {
        out << "vellumar-convert " << VELLUMAR_VERSION << '\n';
        return 0;
    }
    const std::string problem = Parse(argc, argv, o);
    if (!problem.empty()) {
        err << "vellumar-convert: " << problem << '\n' << kUsage;
        return 2;
    }
    if (o.info) return RunInfo(o, out, err);

    if (o.outDir.empty()) {
        const FilePlaces places = PlacesFor(ProgramDirectory());
        // The user's own data folder is private, as a new XDG folder should be.
        if (!places.portable) MakeDirectories(places.base, 0700);
        o.outDir = places.base + "/DATA";
    }
    if (!MakeDirectories(o.outDir, 0777)) {
        err << "vellumar-convert: cannot create the output folder " << Printable(o.outDir) << '\n';
        return 1;
    }

    batch::RunOptions options;
    const std::vector<batch::SourceFile> rows = batch::ListSources(o.files, o.recursive);
    o.files.clear();
    for (const batch::SourceFile& row : rows) {
        o.files.push_back(row.path);
        options.sourceDirs.push_back(row.dir);
    }
    if (o.files.empty()) {
        err << "vellumar-convert: no files in the folders given\n";
        return 1;
    }
    const batch::Target target = batch::TargetFromItem(o.item);
    const int total = int(o.files.size());
    const bool progress = progressToTerminal && !o.quiet;
    options.target = target.format;
    options.extension = target.extension;
    options.outDir = o.outDir;
    options.prefix = o.prefix;
    options.nameTemplate = o.nameTemplate;
    options.keepGoing = o.keepGoing;
    options.quality = o.quality;
    options.frame = o.frame;
    options.jobs = o.jobs;
    options.maxMemory = o.maxMemory;
    options.steps = o.steps;
    options.maxPixels = o.maxPixels;
    batch::RunCallbacks callbacks;
    callbacks.onRowStart = [&](int row) {
        if (progress)
            err << "\r\033[K[" << row << '/' << total << "] "
                << Printable(o.files[size_t(row - 1)]) << std::flush;
    };
    callbacks.onRowDone = [&](int row, const batch::RowResult& r) {
        if (r.outcome == batch::RowOutcome::Done) return;
        if (progress) err << "\r\033[K";
        err << "row " << row << ": " << Printable(o.files[size_t(row - 1)]) << ": "
            << (r.outcome == batch::RowOutcome::DecodeFailed ? "decoding failed" : "encoding failed")
            << ": " << Printable(batch::RowReason(r)) << '\n';
    };
    const batch::RunSummary summary = batch::RunRows(o.files, options, callbacks, cancel);
    if (progress) err << "\r\033[K" << std::flush;
    if (!o.quiet) {
        out << (summary.cancelled ? "Interrupted: converted " : "Converted ") << summary.converted
            << " of " << total << " file" << (total == 1 ? "" : "s") << " to " << (o.item + 2)
            << " in " << Printable(o.outDir) << '\n';
        if (summary.stoppedEarly)
            out << "Stopped at the first failure; use --keep-going to try every file.\n";
    }
    return summary.failed || summary.cancelled ? 1 : 0;
}

}  // namespace vellumar::cli
