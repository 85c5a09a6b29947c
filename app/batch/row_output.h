// The encoding half of a row: the picture into a temporary file beside its
// output, at the quality asked or at the highest whose file fits a size
// (--target-size), read back and compared when asked (--verify).
#pragma once

#include <string>

#include "app/batch/batch_engine.h"
#include "app/batch/run_options.h"

namespace vellumar::batch {

// PSNR below which a lossy file read back is taken for a damaged one.
inline constexpr double kVerifyFloorDb = 20.0;

// Encodes `picture` for `output`; the temporary file's name goes into
// `temporary`. False with `result` failed (stage, reason) when it could not
// be written, does not fit the size asked, or does not read back as written.
bool EncodeRow(VxImage& picture, const RunOptions& options, const std::string& output,
               bool durable, std::string& temporary, RowResult& result);

// Reads `file` back as `format` and compares it with `picture`: exact, or
// for a writer that may change pixels (its registry line says so) a PSNR of
// at least kVerifyFloorDb. `psnr` gets the figure (infinity when exact).
bool VerifyWritten(const VxImage& picture, const std::string& file, ImageFormat format,
                   double& psnr, std::string& why);

}  // namespace vellumar::batch
