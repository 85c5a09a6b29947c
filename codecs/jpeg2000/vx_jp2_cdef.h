// Whether a JP2 file's channel definitions name an opacity channel, read from
// the file's boxes: the library can drop that mark when it reorders channels.
#pragma once

class VxFile;

namespace vxj2k {

// Scans the boxes from the current position (which is restored); false when
// the file has no channel definition with opacity or cannot be read.
bool DeclaresOpacity(VxFile* file);

}  // namespace vxj2k
