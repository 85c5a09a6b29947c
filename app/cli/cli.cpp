#include "app/cli/cli.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <initializer_list>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/file_places.h"
#include "app/batch/option_table.h"
#include "app/batch/output_name.h"
#include "app/batch/picture_facts.h"
#include "app/batch/program_dir.h"
#include "app/batch/run_driver.h"
#include "app/batch/run_report.h"
#include "app/batch/source_list.h"
#include "app/format_table/format_table.h"
#include "core/vx_codec.h"
#include "core/vx_messages.h"
#include "core/vx_save_path.h"
#include "vellumar_version.h"

namespace vellumar::cli {

namespace {

// What the command line says beyond the run's options.
struct Command {
    const char* item = nullptr;
    std::vector<std::string> given;  // run options named on the line, for --info's warning
    bool info = false;
    bool recursive = false;
    bool quiet = false;
    std::string report;  // --report FILE
    std::vector<std::string> files;
    batch::RunOptions run;
};

// The usage text: the run's options from the option table, the formats from
// the registry.
std::string Usage() {
    const std::string lead = "usage: vellumar-convert ";
    const std::string indent(lead.size(), ' ');
    std::vector<std::string> words = {"--to FORMAT", "[--out-dir DIR]"};
    for (const batch::RunOption& o : batch::RunOptionTable())
        words.push_back(std::string("[--") + o.name + (*o.value ? std::string(" ") + o.value : "") +
                        "]");
    for (const char* w : {"[--report FILE]", "[--recursive]", "[--quiet]", "FILE..."})
        words.push_back(w);
    std::string text = lead;
    size_t column = lead.size();
    for (const std::string& w : words) {
        if (column > lead.size() && column + 1 + w.size() > 80) {
            text += "\n" + indent;
            column = indent.size();
        } else if (column > lead.size()) {
            text += ' ';
            ++column;
        }
        text += w;
        column += w.size();
    }
    return text +
           "\n"
           "       vellumar-convert --info [--frame N] [--max-pixels N] FILE...\n"
           "       vellumar-convert --help | --version\n"
           "FORMAT: " +
           TargetNames(" ") + "\n";
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

// A decoder's or the system's reason, as a terminal may show it.
std::string Reason(std::string_view text) { return Printable(batch::ReasonLine(VxEnglish(text))); }

// Returns an error text, or empty on success.
std::string Parse(int argc, const char* const* argv, Command& c) {
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            c.files.push_back(arg);
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
        const batch::RunOption* option =
            arg.rfind("--", 0) == 0 ? batch::FindRunOption(std::string_view(arg).substr(2)) : nullptr;
        if (arg == "--to") {
            std::string names;
            if (!takeValue(names) || names.empty()) return "--to needs a format";
            // "WEBP,AVIF,JPG": an output in each from one decode.
            c.item = nullptr;
            c.run.alsoTo.clear();
            for (size_t at = 0; at <= names.size();) {
                size_t end = names.find(',', at);
                if (end == std::string::npos) end = names.size();
                const std::string name = names.substr(at, end - at);
                at = end + 1;
                const char* item = FindTargetItem(name);
                if (!item) return "unknown format: " + name;
                const batch::Target t = batch::TargetFromItem(item);
                const VxFormatCaps* caps = VxFindFormatCaps(t.format);
                if (caps && !caps->writes) return "--to " + name + ": it can be read but not written";
                if (!c.item) c.item = item;
                else c.run.alsoTo.emplace_back(t.format, t.extension);
            }
        } else if (arg == "--out-dir") {
            if (!takeValue(c.run.outDir) || c.run.outDir.empty()) return "--out-dir needs a folder";
        } else if (arg == "--report") {
            if (!takeValue(c.report) || c.report.empty()) return "--report needs a file name";
        } else if (hasInline && (arg == "--recursive" || arg == "--quiet" || arg == "--info" ||
                                 (option && option->kind == batch::OptionKind::Flag))) {
            return arg + " takes no value";
        } else if (arg == "--recursive" && !hasInline) {
            c.recursive = true;
        } else if (arg == "--quiet" && !hasInline) {
            c.quiet = true;
        } else if (arg == "--info" && !hasInline) {
            c.info = true;
        } else if (option && option->kind == batch::OptionKind::Flag) {
            batch::SetFlag(c.run, *option, true);
            c.given.push_back(arg);
        } else if (option) {
            std::string v, detail;
            if (!takeValue(v) || !batch::SetFromText(c.run, *option, v, detail))
                return batch::OptionError(arg, *option, detail);
            c.given.push_back(arg);
        } else {
            return "unknown option: " + arg;
        }
    }
    if (c.info && c.item) return "--info and --to do not go together";
    if (!c.info && !c.item) return "missing --to FORMAT";
    if (c.files.empty()) return "no input files";
    return {};
}

int RunInfo(const Command& c, std::ostream& out, std::ostream& err) {
    int status = 0;
    // Only these change what --info reads: the frame, the picture limit, and
    // a page's or drawing's dots per inch or a RAW file's preview.
    for (const std::string& name : c.given)
        if (name != "--frame" && name != "--max-pixels" && name != "--dpi" &&
            name != "--raw-preview")
            err << "vellumar-convert: --info ignores " << name << '\n';
    if (!c.run.outDir.empty()) err << "vellumar-convert: --info ignores --out-dir\n";
    if (c.recursive) err << "vellumar-convert: --info ignores --recursive\n";
    for (const std::string& file : c.files) {
        const batch::PictureFacts f =
            batch::ReadPictureFacts(file, c.run.frame, c.run.maxPixels, c.run.decode);
        out << Printable(file) << ": ";
        if (f.ok) {
            out << f.format << ' ' << f.width << 'x' << f.height << ' ' << f.bpp << " bpp, ";
            if (f.sampleBits > 8) out << f.sampleBits << "-bit samples, ";
            out << f.frames << (f.frames == 1 ? " frame, " : " frames, ") << f.xdpi << 'x'
                << f.ydpi << " dpi";
            if (!f.camera.empty()) out << ", camera \"" << Printable(f.camera) << '"';
            out << '\n';
        } else {
            out << "error: " << Reason(f.error) << '\n';
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

// "41 s", "2.3 s": whole units from ten on.
std::string Seconds(double value, const char* unit) {
    char buf[48];
    std::snprintf(buf, sizeof buf, value >= 10 ? "%.0f %s" : "%.1f %s", value, unit);
    return buf;
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
    Command c;
    if (HasOption(argc, argv, {"--help", "-h"})) {
        out << Usage();
        return 0;
    }
    if (HasOption(argc, argv, {"--version"})) {
        out << "vellumar-convert " << VELLUMAR_VERSION << '\n';
        return 0;
    }
    const std::string problem = Parse(argc, argv, c);
    if (!problem.empty()) {
        err << "vellumar-convert: " << problem << '\n' << Usage();
        return 2;
    }
    if (c.info) return RunInfo(c, out, err);

    batch::RunOptions& options = c.run;
    if (options.outDir.empty()) {
        const FilePlaces places = PlacesFor(ProgramDirectory());
        // The user's own data folder is private, as a new XDG folder should be.
        if (!places.portable) MakeDirectories(places.base, 0700);
        options.outDir = places.base + "/DATA";
    }
    std::vector<std::string> files;
    for (batch::SourceFile& row : batch::ListSources(c.files, c.recursive)) {
        files.push_back(std::move(row.path));
        options.sourceDirs.push_back(std::move(row.dir));
    }
    if (files.empty()) {
        err << "vellumar-convert: no files in the folders given\n";
        return 1;
    }
    // Folders made for this run and left empty by it (every row failed) go again.
    std::vector<std::string> made;
    if (!MakeDirectories(options.outDir, 0777, &made)) {
        err << "vellumar-convert: " << Printable(VxSaveErrorText(
                   ("cannot create the output folder " + options.outDir).c_str(), errno))
            << '\n';
        return 1;
    }
    const batch::Target target = batch::TargetFromItem(c.item);
    const bool progress = progressToTerminal && !c.quiet;
    options.target = target.format;
    options.extension = target.extension;
    // Each output is a row of its own; a row's source is its plan's.
    const std::vector<batch::RowPlan> plans = batch::ExpandRows(files.size(), options);
    const int total = int(plans.size());
    const auto sourceOf = [&](int row) -> const std::string& {
        return files[size_t(plans[size_t(row - 1)].source)];
    };
    std::unique_ptr<batch::RunReport> report;
    if (!c.report.empty()) {
        std::string why;
        report = batch::RunReport::Open(c.report, why);
        if (!report) {
            err << "vellumar-convert: " << Printable(why) << '\n';
            RemoveEmptyFolders(made);
            return 1;
        }
    }
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    int finished = 0;
    batch::RunCallbacks callbacks;
    callbacks.onRowStart = [&](int row) {
        if (!progress) return;
        err << "\r\033[K[" << finished << '/' << total << ']';
        // The rate and time left, once a row has shown how fast they go.
        if (finished > 0) {
            const double rate = finished / std::max(elapsed(), 1e-3);
            err << ' ' << Seconds(rate, "files/s") << ", " << Seconds((total - finished) / rate, "s")
                << " left";
        }
        err << ' ' << Printable(sourceOf(row)) << std::flush;
    };
    callbacks.onRowDone = [&](int row, const batch::RowResult& r) {
        ++finished;
        if (report) report->Row(row, sourceOf(row), plans[size_t(row - 1)].target, r);
        if (r.outcome == batch::RowOutcome::Done) {
            if (c.quiet || r.notes.empty()) return;
            if (progress) err << "\r\033[K";
            for (const std::string& note : r.notes)
                err << "row " << row << ": " << Printable(sourceOf(row)) << ": "
                    << Printable(note) << '\n';
            return;
        }
        if (progress) err << "\r\033[K";
        if (r.outcome == batch::RowOutcome::Skipped) {
            if (!c.quiet)
                err << "row " << row << ": " << Printable(sourceOf(row)) << ": skipped: " << Printable(batch::RowReason(r)) << '\n';
            return;
        }
        if (progress) err << "\r\033[K";
        err << "row " << row << ": " << Printable(sourceOf(row)) << ": "
            << (r.outcome == batch::RowOutcome::DecodeFailed ? "decoding failed: "
                : r.outcome == batch::RowOutcome::NotWritten ? ""  // its reason says it
                                                              : "encoding failed: ")
            << Printable(batch::RowReason(r)) << '\n';
    };
    const batch::RunSummary summary = batch::RunRows(files, options, callbacks, cancel);
    if (progress) err << "\r\033[K" << std::flush;
    if (!summary.refusal.empty()) {
        err << "vellumar-convert: " << Printable(summary.refusal) << '\n';
        RemoveEmptyFolders(made);
        return 1;
    }
    if (!c.quiet) {
        out << (summary.cancelled ? "Interrupted: converted " : "Converted ") << summary.converted
            << ", skipped " << summary.skipped << ", failed " << summary.failed << " of " << total
            << " file" << (total == 1 ? "" : "s") << " in " << Seconds(elapsed(), "s") << " ("
            << (c.item + 2);
        for (const auto& [format, extension] : options.alsoTo) out << ", " << VxFormatName(format);
        out << " into " << Printable(options.outDir) << ")\n";
        if (summary.notWritten)
            out << summary.notWritten << " converted file"
                << (summary.notWritten == 1 ? " was" : "s were")
                << " not written: each would have replaced a picture that a row without a file of "
                   "its own still needed.\n";
        if (summary.stoppedEarly)
            out << "Stopped at the first failure; use --keep-going to try every file.\n";
    }
    RemoveEmptyFolders(made);
    if (report && report->Failed()) {
        err << "vellumar-convert: cannot write the report " << Printable(c.report) << '\n';
        return 1;
    }
    // What it printed is part of the run: a full disk under it is a failure.
    if (!out.flush()) {
        err << "vellumar-convert: cannot write the output\n";
        return 1;
    }
    return summary.failed || summary.cancelled ? 1 : 0;
}

}  // namespace vellumar::cli
