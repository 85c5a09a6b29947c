// Everything a run is told: what to write and where, how to treat each
// picture, and how the run goes. Both front ends fill one of these and hand it
// to the run driver.
//
// Adding an option: a field here with its default (the default keeps today's
// output), its use in the row (Run::Convert in run_driver.cpp, DecodeAndFit
// in batch_engine.cpp) or in the naming (output_name.h), and its line in
// option_table.cpp (its name, value, range and the words of its error): the
// command line and the Python package take it from there. Where the window
// offers it, an item in app/gui/options_menu.cpp names it (saved with the
// other settings there).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/batch/decode_steering.h"
#include "app/batch/folder_lock.h"
#include "app/batch/output_name.h"
#include "app/batch/picture_steps.h"
#include "core/vx_image.h"

namespace vellumar::batch {

// What a run does with an output file that is already there.
enum class IfExists {
    Replace,  // write over it (the default)
    Skip,     // leave it, the row is skipped: a later run resumes an interrupted one
    Newer,    // convert only when the source is newer than it
    Rename,   // write "name (2).ext", "name (3).ext", ... beside it
};
bool ParseIfExists(std::string_view text, IfExists& out);
const char* IfExistsName(IfExists value);

struct RunOptions {
    // What is written and where: outDir/<the name template filled in>; sub-folders
    // the template names are made. Two rows naming one file: the later fails.
    ImageFormat target = 0;
    std::string extension;  // as the format list spells it: ".PNG"
    std::string outDir;
    std::string prefix = "main";
    std::string nameTemplate = kDefaultNameTemplate;
    // {dir} of row r is sourceDirs[r - 1] (source_list.h); "" beyond its end.
    std::vector<std::string> sourceDirs;
    // When not empty, one file per row that the caller named itself (a share
    // of a larger list converted elsewhere, or a file the caller chose).
    std::vector<std::string> outputs;
    // Letters and digits put into the names of the run's temporary files, so
    // that a run that lost a process can remove what it left.
    std::string temporaryTag;

    // Each picture.
    int quality = 90;  // the lossy writers' quality, 1 to 100
    int frame = 0;     // frame or page read from files that hold several
    // A frame was picked: animated targets get that one frame, not them all.
    bool frameGiven = false;
    // Decoders refuse pictures of more pixels than this; 0: no limit.
    uint64_t maxPixels = kVxDefaultMaxPixels;
    // A JPEG cut short converts with what it holds (the missing rows grey)
    // instead of failing.
    bool allowTruncated = false;
    // Exposure, dots per inch, RAW preview: for the formats that use them.
    DecodeSteering decode;
    // Upright, size, palette, profile and EXIF.
    PictureSteps steps;
    // Further outputs of every source from the same decode: each size (after
    // steps.resize) in each format (after target), one row each.
    std::vector<vx::ResizeRequest> alsoSizes;
    std::vector<std::pair<ImageFormat, std::string>> alsoTo;  // format, extension

    // The run.
    bool keepGoing = false;  // try every row instead of stopping at the first failure
    int jobs = 0;            // rows converted at once; 0: one per core
    // Threads the run uses in all, 0: one per core. Fewer rows in flight than
    // threads: each row's codecs share the spare ones (without a byte of
    // difference in what they write).
    int threads = 0;
    // Peak memory the run's pictures may take together; 0: half the machine's memory.
    uint64_t maxMemory = 0;
    // A run holds its folders alone; callers writing single files share them.
    FolderLocking folderLocking = FolderLocking::Exclusive;

    IfExists ifExists = IfExists::Replace;
    // Each written file is read back and compared with the picture encoded.
    bool verify = false;
    // Set when the caller chose `quality`: the pixel path then, not a direct
    // way from the source's file.
    bool qualityGiven = false;
    // A JPEG turned upright by its coefficients whose size is not a whole
    // number of blocks loses its partial edge blocks instead of going
    // through the pixels.
    bool losslessTrim = false;
    // A row whose output would lose what the source had (its notes) fails
    // instead of being written.
    bool strict = false;
    // Each output gets its source's access and modification times.
    bool keepDates = false;
    // Not 0: the lossy writers' highest quality whose file takes at most this
    // many bytes (found by search) instead of `quality`.
    uint64_t targetSize = 0;
    // For tests: called on each encoded temporary file before it is checked
    // and put in place.
    std::function<void(const std::string&)> afterEncode;
};

// One row of a run: one output of one source. Without further sizes or
// formats a source is one row; with them its rows follow each other, size by
// size, each size in every format.
struct RowPlan {
    int source = 0;  // 0-based index into the sources
    ImageFormat target = 0;
    std::string extension;
    vx::ResizeRequest resize;
    bool firstOfSource = true;
};
std::vector<RowPlan> ExpandRows(size_t sourceCount, const RunOptions& options);

// Output file of 1-based row `row` reading `source`; empty with `why` when the
// template gives no usable name for it. (--if-exists is PlanOutputs' business.)
std::string OutputPathOf(const RunOptions& options, int row, const std::string& source,
                         std::string& why);

// What {size} gives for a resize request ("1600" for "1600x"); empty for none.
std::string SizeName(const vx::ResizeRequest& request);

// The picture's date for {date}: its EXIF date (the original's, else the
// file's), or the file's modification date (UTC); "" when neither is found.
std::string SourceDate(const std::string& path);

struct PlannedOutput {
    std::string path;  // empty when the template gives no name
    std::string why;   // not empty: the row fails with this (no name, or an earlier row's file)
    std::string skip;  // not empty: the row is skipped for this (--if-exists)
};

// Every row's output, before any is written: a row naming the file of an
// earlier row fails instead of overwriting it, whatever the timing; an output
// already there is skipped or renamed as --if-exists says. Row r's is element
// r - 1.
std::vector<PlannedOutput> PlanOutputs(const RunOptions& options,
                                       const std::vector<std::string>& sources);

}  // namespace vellumar::batch
