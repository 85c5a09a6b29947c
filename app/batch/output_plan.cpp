// Naming a run's outputs before any is written: the template, the clash rule
// between rows and what to do with a file that is already there.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "app/batch/name_key.h"
#include "app/batch/run_options.h"
#include "app/format_table/format_table.h"
#include "core/vx_codec.h"
#include "core/vx_exif_edit.h"
#include "core/vx_image.h"

namespace vellumar::batch {

namespace {

constexpr struct {
    IfExists value;
    const char* name;
} kIfExists[] = {{IfExists::Replace, "replace"},
                 {IfExists::Skip, "skip"},
                 {IfExists::Newer, "newer"},
                 {IfExists::Rename, "rename"}};

// "2024:05:01 13:45:00" -> "2024-05-01"; "" for anything else.
std::string ExifDay(std::span<const uint8_t> value) {
    if (value.size() < 10) return {};
    std::string day(reinterpret_cast<const char*>(value.data()), 10);
    for (size_t i = 0; i < 10; ++i) {
        const bool sep = i == 4 || i == 7;
        if (sep ? day[i] != ':' : (day[i] < '0' || day[i] > '9')) return {};
        if (sep) day[i] = '-';
    }
    return day == "0000-00-00" ? std::string() : day;
}

std::string ExifDate(std::span<const uint8_t> exif) {
    std::string original, modified;
    vx::ForEachExifEntry(exif, [&](vx::ExifDir dir, const vx::ExifEntry& e) {
        if (dir == vx::ExifDir::Exif && e.tag == 0x9003) original = ExifDay(e.value);
        if (dir == vx::ExifDir::Main && e.tag == 0x0132) modified = ExifDay(e.value);
    });
    return original.empty() ? modified : original;
}

std::string NameFor(const RunOptions& options, int row, const RowPlan& plan,
                    const std::string& source, std::string_view date, std::string& why) {
    const size_t at = size_t(row - 1);
    if (row >= 1 && at < options.outputs.size()) return options.outputs[at];
    const size_t from = size_t(plan.source);
    const std::string dir =
        from < options.sourceDirs.size() ? options.sourceDirs[from] : std::string();
    const std::string size = SizeName(plan.resize);
    const std::string name = ExpandName(
        options.nameTemplate, {options.prefix, row, source, dir, plan.extension, date, size}, why);
    return name.empty() ? name : options.outDir + '/' + name;
}

bool Exists(const std::string& path, struct stat* st = nullptr) {
    struct stat s {};
    const bool there = lstat(path.c_str(), &s) == 0;
    if (st) *st = s;
    return there;
}

// "a.png" -> "a (2).png": the first number whose name is free on the disk and
// among the run's own names.
std::string FreeName(const std::string& path,
                     const std::unordered_map<NameKey, int, NameKeyHash>& planned) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : std::string();
    for (int n = 2; n < 100000; ++n) {
        const std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!Exists(candidate) && !planned.count(KeyOfName(candidate))) return candidate;
    }
    return {};
}

}  // namespace

bool ParseIfExists(std::string_view text, IfExists& out) {
    for (const auto& e : kIfExists)
        if (text == e.name) {
            out = e.value;
            return true;
        }
    return false;
}

const char* IfExistsName(IfExists value) {
    for (const auto& e : kIfExists)
        if (e.value == value) return e.name;
    return "replace";
}

std::string SizeName(const vx::ResizeRequest& r) {
    using Kind = vx::ResizeRequest::Kind;
    if (r.kind == Kind::Percent) return std::to_string(r.percent) + "%";
    if (r.kind != Kind::Fit) return {};
    if (r.width) return std::to_string(r.width);
    return "x" + std::to_string(r.height);
}

std::string SourceDate(const std::string& path) {
    const ImageFormat named = FormatFromExtension(path);
    VxImage probe(0);
    probe.SetEscape(-1);
    std::string date;
    if (probe.Load(path.c_str(), named)) {
        date = ExifDate(probe.GetExif());
        // Where the header pass did not bring the EXIF block a format can
        // hold, the whole file is read for it.
        const VxFormatCaps* caps = VxFindFormatCaps(probe.GetType());
        if (date.empty() && probe.GetExif().empty() && caps && (caps->metadata & kVxExif)) {
            VxImage full(0);
            if (full.Load(path.c_str(), probe.GetType())) date = ExifDate(full.GetExif());
        }
    }
    struct stat st {};
    if (date.empty() && stat(path.c_str(), &st) == 0) {
        // UTC: a name must not depend on the machine's time zone.
        std::tm day {};
        gmtime_r(&st.st_mtime, &day);
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.tm_year + 1900, day.tm_mon + 1,
                      day.tm_mday);
        date = text;
    }
    return date;
}

std::vector<RowPlan> ExpandRows(size_t sourceCount, const RunOptions& options) {
    std::vector<vx::ResizeRequest> sizes = {options.steps.resize};
    sizes.insert(sizes.end(), options.alsoSizes.begin(), options.alsoSizes.end());
    std::vector<std::pair<ImageFormat, std::string>> targets = {{options.target, options.extension}};
    targets.insert(targets.end(), options.alsoTo.begin(), options.alsoTo.end());
    std::vector<RowPlan> rows;
    rows.reserve(sourceCount * sizes.size() * targets.size());
    for (size_t s = 0; s < sourceCount; ++s)
        for (size_t z = 0; z < sizes.size(); ++z)
            for (size_t t = 0; t < targets.size(); ++t)
                rows.push_back({int(s), targets[t].first, targets[t].second, sizes[z],
                                z == 0 && t == 0});
    return rows;
}

std::string OutputPathOf(const RunOptions& options, int row, const std::string& source,
                         std::string& why) {
    const bool dated = TemplateUses(options.nameTemplate, "date");
    const RowPlan plan{0, options.target, options.extension, options.steps.resize, true};
    return NameFor(options, row, plan, source, dated ? SourceDate(source) : std::string(), why);
}

std::vector<PlannedOutput> PlanOutputs(const RunOptions& options,
                                       const std::vector<std::string>& sources) {
    const std::vector<RowPlan> rows = ExpandRows(sources.size(), options);
    std::vector<PlannedOutput> plan(rows.size());
    const bool dated = options.outputs.empty() && TemplateUses(options.nameTemplate, "date");
    std::vector<std::string> dates(dated ? sources.size() : 0);
    for (size_t i = 0; i < dates.size(); ++i) dates[i] = SourceDate(sources[i]);
    // Two spellings of one name ("out/a", "out/./a", a link to the folder) are one file.
    std::unordered_map<NameKey, int, NameKeyHash> firstRow;
    for (int row = 1; row <= int(rows.size()); ++row) {
        PlannedOutput& out = plan[size_t(row - 1)];
        const RowPlan& r = rows[size_t(row - 1)];
        const std::string& source = sources[size_t(r.source)];
        out.path = NameFor(options, row, r, source, dated ? dates[size_t(r.source)] : std::string(),
                           out.why);
        if (out.path.empty()) continue;
        struct stat there {};
        if (options.ifExists != IfExists::Replace && Exists(out.path, &there)) {
            struct stat src {};
            switch (options.ifExists) {
                case IfExists::Skip:
                    out.skip = out.path + " is already there";
                    break;
                case IfExists::Newer:
                    if (stat(source.c_str(), &src) == 0 &&
                        (src.st_mtim.tv_sec < there.st_mtim.tv_sec ||
                         (src.st_mtim.tv_sec == there.st_mtim.tv_sec &&
                          src.st_mtim.tv_nsec <= there.st_mtim.tv_nsec)))
                        out.skip = out.path + " is not older than its source";
                    break;
                case IfExists::Rename: {
                    const std::string free = FreeName(out.path, firstRow);
                    if (free.empty()) out.why = "no free name beside " + out.path;
                    else out.path = free;
                    break;
                }
                case IfExists::Replace: break;
            }
        }
        const auto [it, fresh] = firstRow.emplace(KeyOfName(out.path), row);
        if (!fresh)
            out.why = "row " + std::to_string(row) + " would write row " +
                      std::to_string(it->second) + "'s output file " + out.path;
    }
    return plan;
}

}  // namespace vellumar::batch
