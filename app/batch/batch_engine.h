// One conversion row and the run over many rows, shared by the window and the
// command line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/fit_depth.h"
#include "facade/image_facade.h"

namespace vellumar::batch {

struct Target {
    ImageFormat format = 0;
    std::string extension;  // as the item spells it: ".PNG"
};

// "*.PNG" -> {4, ".PNG"}.
Target TargetFromItem(std::string_view itemText);

// dir + "/" + prefix + row + extension; nothing is trimmed or created.
std::string OutputPath(std::string_view dir, std::string_view prefix, int row,
                       std::string_view extension);

enum class RowOutcome { Done, DecodeFailed, EncodeFailed };

struct RowResult {
    RowOutcome outcome = RowOutcome::Done;
    std::string error;  // the image's last error text on failure
};

// Frees the picture's pixels and planes; the object and its settings (frame,
// quality, texts) stay for the next row.
void ReleasePicture(ImageHandle* handle);

// Decode `source` (format from its extension), fit, encode to the path that
// `outputPath` gives once the decode has succeeded; the picture is released
// afterwards.
RowResult ConvertRow(ImageHandle* handle, const std::string& source, ImageFormat target,
                     const std::function<std::string()>& outputPath);

struct RunOptions {
    bool keepGoing = false;
    int quality = 90;
    int frame = 0;
    // Workers converting rows at once. Rows are handed out in order; files are
    // committed and reported in row order, and with stop-at-first-failure no
    // file of a later row is written. With more than one job, `outputPath` is
    // called from the workers.
    int jobs = 1;
};

struct RunCallbacks {
    // Output path of 1-based row `row`; asked after the decode, just before the encode.
    std::function<std::string(int row)> outputPath;
    // Called before a row starts (for progress) and after it ends.
    std::function<void(int row)> onRowStart;
    std::function<void(int row, const RowResult&)> onRowDone;
};

struct RunSummary {
    int converted = 0;
    int failed = 0;
    bool stoppedEarly = false;
};

RunSummary Run(ImageHandle* handle, const std::vector<std::string>& sources, ImageFormat target,
               const RunOptions& options, const RunCallbacks& callbacks);

// Run with options.jobs workers, each with its own image object.
RunSummary RunParallel(const std::vector<std::string>& sources, ImageFormat target,
                       const RunOptions& options, const RunCallbacks& callbacks);

// The decode and depth-fitting half of a row; false (with `result` filled) on failure.
bool DecodeAndFit(ImageHandle* handle, const std::string& source, ImageFormat target,
                  RowResult& result);

}  // namespace vellumar::batch
