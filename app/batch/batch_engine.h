// One conversion row, shared by the run driver and the tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// Brings a decoded picture into a form the target's encoder takes: 8 bits for
// GIF, 24 bits for colour palettes going to JPEG and the JPEG-2000 family,
// 8 bits for TGA, grey for PGX, 1 bit for WBMP. Pictures the encoder takes as
// they are stay unchanged.
void FitDepth(ImageHandle* handle, ImageFormat target);

// Frees the picture's pixels and planes; the object and its settings (frame,
// quality, texts) stay for the next row.
void ReleasePicture(ImageHandle* handle);

// Decode `source` (format from its extension), fit, encode to the path that
// `outputPath` gives once the decode has succeeded; the picture is released
// afterwards.
RowResult ConvertRow(ImageHandle* handle, const std::string& source, ImageFormat target,
                     const std::function<std::string()>& outputPath);

// The decode and depth-fitting half of a row; false (with `result` filled) on
// failure. `source` names the file (its extension picks the decoder); it is
// read from `openPath` when that is given (a descriptor the run kept open).
bool DecodeAndFit(ImageHandle* handle, const std::string& source, ImageFormat target,
                  RowResult& result, const std::string& openPath = {});

}  // namespace vellumar::batch
