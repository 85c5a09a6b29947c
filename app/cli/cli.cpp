#include "app/cli/cli.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/program_dir.h"
#include "app/format_table/format_table.h"

namespace vellumar::cli {

namespace {

const char kUsage[] =
    "usage: vellumar-convert --to FORMAT [--out-dir DIR] [--prefix TEXT] [--keep-going]\n"
    "                        [--quality N] [--frame N] [--jobs N] [--quiet] FILE...\n"
    "       vellumar-convert --info [--frame N] FILE...\n"
    "FORMAT: PNG ICO TGA JPG BMP GIF TIF PCX WBMP WMF JP2 JPC PGX PNM RAS WEBP HEIC AVIF JXL\n";

struct Options {
    const char* item = nullptr;
    bool info = false;
    std::string outDir;
    std::string prefix = "main";
    bool keepGoing = false;
    bool quiet = false;
    int quality = 90;
    int frame = 0;
    int jobs = 0;  // 0: one per core
    std::vector<std::string> files;
};

bool ParseInt(const std::string& text, int lo, int hi, int& value) {
    int v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || v < lo || v > hi) return false;
    value = v;
    return true;
}

// mkdir -p; true when the folder exists afterwards.
bool MakeDirectories(const std::string& dir) {
    std::string partial;
    size_t pos = 0;
    while (pos <= dir.size()) {
        const size_t slash = dir.find('/', pos);
        partial = dir.substr(0, slash == std::string::npos ? dir.size() : slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

int RunInfo(const Options& o, std::ostream& out) {
    int status = 0;
    for (const std::string& file : o.files) {
        ImageHandle handle = nullptr;
        ImageFacade::SetFrame(&handle, o.frame);
        const bool ok =
            ImageFacade::DecodeFromFile(&handle, file.c_str(), int32_t(FormatFromExtension(file)));
        if (ok) {
            out << file << ": " << VxFormatName(uint32_t(ImageFacade::GetType(&handle))) << ' '
                << ImageFacade::GetWidth(&handle) << 'x' << ImageFacade::GetHeight(&handle) << ' '
                << ImageFacade::GetBpp(&handle) << " bpp, " << ImageFacade::GetNumFrames(&handle)
                << " frames, " << ImageFacade::GetXDPI(&handle) << 'x'
                << ImageFacade::GetYDPI(&handle) << " dpi\n";
        } else {
            const char* why = ImageFacade::GetLastError(&handle);
            out << file << ": error: " << (*why ? why : "cannot open the file") << '\n';
            status = 1;
        }
        ImageFacade::Free(&handle);
    }
    return status;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool progressToTerminal) {
    Options o;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        out << kUsage;
        return 0;
    }
    const std::string problem = Parse(argc, argv, o);
    if (!problem.empty()) {
        err << "vellumar-convert: " << problem << '\n' << kUsage;
        return 2;
    }
    if (o.info) return RunInfo(o, out);

    if (o.outDir.empty()) o.outDir = ProgramDirectory() + "/DATA";
    if (!MakeDirectories(o.outDir)) {
        err << "vellumar-convert: cannot create the output folder " << o.outDir << '\n';
        return 1;
    }

    const batch::Target target = batch::TargetFromItem(o.item);
    const int total = int(o.files.size());
    const bool progress = progressToTerminal && !o.quiet;
    ImageHandle handle = nullptr;
    batch::RunOptions options;
    options.keepGoing = o.keepGoing;
    options.quality = o.quality;
    options.frame = o.frame;
    options.jobs = o.jobs > 0 ? o.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    batch::RunCallbacks callbacks;
    callbacks.outputPath = [&](int row) {
        return batch::OutputPath(o.outDir, o.prefix, row, target.extension);
    };
    callbacks.onRowStart = [&](int row) {
        if (progress)
            err << "\r\033[K[" << row << '/' << total << "] " << o.files[size_t(row - 1)]
                << std::flush;
    };
    callbacks.onRowDone = [&](int row, const batch::RowResult& r) {
        if (r.outcome == batch::RowOutcome::Done) return;
        if (progress) err << "\r\033[K";
        err << "row " << row << ": " << o.files[size_t(row - 1)] << ": "
            << (r.outcome == batch::RowOutcome::DecodeFailed ? "decoding failed" : "encoding failed")
            << ": "
            << (!r.error.empty() ? r.error
                : r.outcome == batch::RowOutcome::DecodeFailed ? "cannot open the file"
                                                                : "cannot write the output file")
            << '\n';
    };
    const batch::RunSummary summary =
        options.jobs > 1 ? batch::RunParallel(o.files, target.format, options, callbacks)
                         : batch::Run(&handle, o.files, target.format, options, callbacks);
    ImageFacade::Free(&handle);
    if (progress) err << "\r\033[K" << std::flush;
    if (!o.quiet) {
        out << "Converted " << summary.converted << " of " << total << " file"
            << (total == 1 ? "" : "s") << " to " << (o.item + 2) << " in " << o.outDir << '\n';
        if (summary.stoppedEarly)
            out << "Stopped at the first failure; use --keep-going to try every file.\n";
    }
    return summary.failed ? 1 : 0;
}

}  // namespace vellumar::cli
