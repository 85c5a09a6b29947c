// One codec for the JPEG-2000 family and its companions: JP2 (11), JPC (12),
// PGX (13), PNM (14) and Sun raster (15). The format code passed to Decode is
// only a hint: the content decides, and the picture's type names what was read.
#pragma once

#include "core/vx_image.h"

namespace vxj2k {
struct Plane;
struct Planes;
}

class VxJpeg2000Codec : public VxImage {
public:
    VxJpeg2000Codec() : VxImage(0) {}
    bool Decode(VxFile* file, uint32_t type);
    bool Encode(VxFile* file, uint32_t type);

private:
    void FromPlanes(const vxj2k::Planes& planes, uint32_t format);
    // A 24-bit picture on component 0's grid, with `alpha` as its alpha plane.
    void CreateColour(const vxj2k::Plane& p0, const vxj2k::Plane* alpha, uint32_t format);
    void FillAlpha(const vxj2k::Plane& alpha);
    // Components of 9 to 16 bits on one grid as the picture's deep samples.
    void KeepDeep(const vxj2k::Plane* const* comps, size_t count, uint32_t format);
    // The deep samples at the precision the source had.
    void WriteDeep(VxFile* file, uint32_t type, const VxDeepPlane& deep);

    bool declaredOpacity_ = false;  // the JP2 boxes name an opacity channel
};
