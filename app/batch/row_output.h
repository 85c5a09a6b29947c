// The encoding half of a row: the picture into a temporary file beside its
// output, at the quality asked or at the highest whose file fits a size
// (--target-size), read back and compared when asked (--verify).
#pragma once

#include <string>

#include "app/batch/batch_engine.h"
#include "app/batch/run_options.h"
#include "core/vx_codec.h"
#include "core/vx_resize.h"

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

// The way from the source's file straight to the target's (JPEG coefficients
// into JPEG XL, the original JPEG out of it) when the row asks for nothing
// that needs the pixels: no resize, no strip, no quality or size of its own.
// Null: the row goes through the pixels.
const VxTranscoder* TranscoderFor(ImageFormat source, ImageFormat target,
                                  const vx::ResizeRequest& resize, const RunOptions& options);

// The failure text of a --lossless row that `target` would change: "cannot
// be written losslessly: GIF " + `what`.
std::string LosslessRefusal(ImageFormat target, const std::string& what);

enum class Transcoded { Done, NotThisWay, Failed };
// Writes the row's file by `way` from the source's bytes at `readPath`.
// NotThisWay (nothing written, `result.method` says why) when this file
// cannot take it: the row goes through the pixels instead (under --lossless
// it fails when its target is lossy). --verify checks
// that the written file gives the source back.
Transcoded TranscodeRow(const VxTranscoder& way, const std::string& readPath,
                        const RunOptions& options, const std::string& output, bool durable,
                        std::string& temporary, RowResult& result);

}  // namespace vellumar::batch
