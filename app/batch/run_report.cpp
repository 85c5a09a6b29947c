#include "app/batch/run_report.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/format_table/format_table.h"

namespace vellumar::batch {

namespace {

const char* const kColumns[] = {"row",          "source",       "output",  "status",
                                "stage",        "reason",       "source_format", "output_format",
                                "width",        "height",       "source_bytes",  "output_bytes",
                                "seconds",      "quality",      "encodes", "psnr",
                                "method",       "dropped"};

// File names are bytes; a report is text: bytes that are not UTF-8 become
// U+FFFD (the report says which row, the row's own name is in the file system).
std::string Utf8(std::string_view in) {
    std::string out;
    for (size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = n > 0 && i + n <= in.size();
        for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(in[i + k]) >> 6) == 2;
        if (ok) {
            out.append(in.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (const char ch : Utf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Csv(std::string_view text) {
    const std::string t = Utf8(text);
    if (t.find_first_of(",\"\r\n") == std::string::npos) return t;
    std::string out = "\"";
    for (const char ch : t) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out + "\"";
}

std::string Number(double v, const char* format) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

}  // namespace

const char* StatusName(const RowResult& r) {
    return r.outcome == RowOutcome::Done      ? "converted"
           : r.outcome == RowOutcome::Skipped ? "skipped"
                                               : "failed";
}

const char* StageName(const RowResult& r) {
    switch (r.outcome) {
        case RowOutcome::DecodeFailed: return "decode";
        case RowOutcome::EncodeFailed: return "encode";
        case RowOutcome::NotWritten: return "write";
        default: return "";
    }
}

std::unique_ptr<RunReport> RunReport::Open(const std::string& path, std::string& why) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        why = "cannot write the report " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const bool csv = path.size() >= 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
    std::unique_ptr<RunReport> report(new RunReport(file, csv));
    if (csv) {
        std::string header;
        for (const char* c : kColumns) header += std::string(header.empty() ? "" : ",") + c;
        std::fputs((header + "\n").c_str(), file);
        std::fflush(file);
    }
    return report;
}

RunReport::~RunReport() {
    if (file_) std::fclose(file_);
}

void RunReport::Row(int row, const std::string& source, ImageFormat target, const RowResult& r) {
    const bool done = r.outcome == RowOutcome::Done;
    // PSNR: only where --verify measured it; an exact file has none to give.
    const std::string psnr = r.psnr < 0 ? "" : std::isinf(r.psnr) ? "exact" : Number(r.psnr, "%.2f");
    const std::vector<std::pair<std::string, bool>> values = {
        {std::to_string(row), false},
        {source, true},
        {r.output, true},
        {StatusName(r), true},
        {StageName(r), true},
        {done ? std::string() : ReasonLine(r.error), true},
        {r.sourceFormat ? VxFormatName(r.sourceFormat) : "", true},
        {target ? VxFormatName(target) : "", true},
        {std::to_string(r.width), false},
        {std::to_string(r.height), false},
        {std::to_string(r.sourceBytes), false},
        {std::to_string(r.outputBytes), false},
        {Number(r.seconds, "%.3f"), false},
        {std::to_string(r.quality), false},
        {std::to_string(r.encodes), false},
        {psnr, true},
        {r.method.empty() ? "pixels" : r.method, true},
    };
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
        const auto& [value, text] = values[i];
        if (csv_) {
            line += (i ? "," : "") + (text ? Csv(value) : value);
        } else {
            line += std::string(i ? ", " : "{") + "\"" + kColumns[i] + "\": " +
                    (text && !(i == 15 && value.empty()) ? Json(value) : value.empty() ? "null" : value);
        }
    }
    // What the output could not keep: a list in JSON, "; " between notes in CSV.
    std::string dropped;
    for (size_t i = 0; i < r.notes.size(); ++i)
        dropped += (i ? (csv_ ? "; " : ", ") : "") + (csv_ ? r.notes[i] : Json(r.notes[i]));
    line += csv_ ? "," + Csv(dropped) + "\n" : ", \"dropped\": [" + dropped + "]}\n";
    if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) failed_ = true;
}

}  // namespace vellumar::batch
