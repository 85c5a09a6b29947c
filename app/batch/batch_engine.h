// One conversion row, shared by the run driver and the tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/decode_steering.h"
#include "app/batch/fit_depth.h"
#include "app/batch/picture_steps.h"
#include "core/vx_messages.h"
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

// NotWritten: converted, but its file would have replaced a source that a row
// which never got its own file still needed.
// Skipped: left alone as --if-exists says (its reason in `error`).
enum class RowOutcome { Done, DecodeFailed, EncodeFailed, NotWritten, Skipped };

struct RowResult {
    RowOutcome outcome = RowOutcome::Done;
    std::string error;  // the image's last error text on failure

    // What the row read and wrote, for reports: filled as far as it got.
    std::string output;           // the file written (empty when none)
    ImageFormat sourceFormat = 0;  // as decoded
    uint32_t width = 0, height = 0;  // the decoded picture
    uint64_t sourceBytes = 0, outputBytes = 0;
    double seconds = 0;           // the row's own work, decode to encode
    double psnr = -1;             // --verify on a lossy file: the figure; infinity when exact
    int encodes = 0;              // encodes the row needed (--target-size searches)
    int quality = 0;              // the quality written with, for lossy targets
    // How the file was made when not from the pixels ("coefficients,
    // reversible"), or why a direct way was not taken; empty: from the pixels.
    std::string method;
    // What the output could not keep of the source, one English line each
    // ("kept frame 1 of 4: BMP stores one picture"), and the same notes by id
    // for a front end in another language.
    std::vector<std::string> notes;
    std::vector<VxNoteParts> noteParts;
};

// A row's reason as one line, without a leading "error:" of its own (the
// message around it says that already).
std::string ReasonLine(std::string_view text);

// Why a failed row failed, as one line; a stock text when nothing said why.
std::string RowReason(const RowResult& result);

// Frees the picture's pixels and planes; the object and its settings (frame,
// quality, texts) stay for the next row.
void ReleasePicture(ImageHandle* handle);

// Decode `source` (format from its extension), fit, encode to the path that
// `outputPath` gives once the decode has succeeded; the picture is released
// afterwards.
RowResult ConvertRow(ImageHandle* handle, const std::string& source, ImageFormat target,
                     const std::function<std::string()>& outputPath);

// The size a picture is stored at, when its decoder read it smaller (a JPEG's
// DCT scaling); 0 x 0 when it was read as stored.
struct StoredSize {
    uint32_t width = 0, height = 0;
};

// The decoding half of a row: `source` decoded into the handle, read smaller
// where every size of `sizes` allows it. False with `result` filled.
bool DecodeSource(ImageHandle* handle, const std::string& source, RowResult& result,
                  const std::string& openPath, const std::vector<vx::ResizeRequest>& sizes,
                  StoredSize& stored, const DecodeSteering& steering = {});

// The picture steps and depth fitting for one target; false with `result`
// filled. What the target could not keep goes to `result.notes`.
bool FitPicture(ImageHandle* handle, ImageFormat target, const PictureSteps& steps,
                const StoredSize& stored, RowResult& result);

// The decode and depth-fitting half of a row, with the picture steps between
// them; false (with `result` filled) on failure. `source` names the file (its
// extension picks the decoder); it is read from `openPath` when that is given
// (a descriptor the run kept open).
bool DecodeAndFit(ImageHandle* handle, const std::string& source, ImageFormat target,
                  RowResult& result, const std::string& openPath = {},
                  const PictureSteps& steps = {});

}  // namespace vellumar::batch
