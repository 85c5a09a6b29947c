// Everything a run is told: what to write and where, how to treat each
// picture, and how the run goes. Both front ends fill one of these and hand it
// to the run driver.
//
// Adding an option: a field here with its default (the default keeps today's
// output), its use in the row (Run::Convert in run_driver.cpp, DecodeAndFit
// in batch_engine.cpp) or in the naming
// (OutputPathOf), a command-line flag in app/cli/cli.cpp, and, where the
// window offers it, an item in app/gui/options_menu.cpp (saved with the other
// settings there).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vx_image.h"

namespace vellumar::batch {

struct RunOptions {
    // What is written and where: outDir/<prefix><row><extension>.
    ImageFormat target = 0;
    std::string extension;  // as the format list spells it: ".PNG"
    std::string outDir;
    std::string prefix = "main";
    // When not empty, one file per row that the caller named itself (a share
    // of a larger list converted elsewhere, or a file the caller chose).
    std::vector<std::string> outputs;
    // Letters and digits put into the names of the run's temporary files, so
    // that a run that lost a process can remove what it left.
    std::string temporaryTag;

    // Each picture.
    int quality = 90;  // JPEG, TIFF's JPEG compression, JPEG-2000
    int frame = 0;     // frame or page read from GIF, ICO and TIFF files
    // Decoders refuse pictures of more pixels than this; 0: no limit.
    uint64_t maxPixels = kVxDefaultMaxPixels;

    // The run.
    bool keepGoing = false;  // try every row instead of stopping at the first failure
    int jobs = 1;            // rows converted at once; 0: one per core
    // Peak memory the run's pictures may take together; 0: half the machine's memory.
    uint64_t maxMemory = 0;
};

// Output file of 1-based row `row`.
std::string OutputPathOf(const RunOptions& options, int row);

}  // namespace vellumar::batch
