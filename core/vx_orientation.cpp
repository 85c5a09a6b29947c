#include "core/vx_orientation.h"

#include "core/vx_image.h"

namespace vx {

bool ApplyOrientation(VxImage& img, int32_t orientation) {
    if (!img.IsValid()) return false;
    bool ok = true;
    switch (orientation) {
        case 2: ok = img.Mirror(); break;
        case 3: ok = img.Mirror() && img.Flip(); break;
        case 4: ok = img.Flip(); break;
        case 5: ok = img.RotateRight() && img.Mirror(); break;  // transpose
        case 6: ok = img.RotateRight(); break;
        case 7: ok = img.RotateLeft() && img.Mirror(); break;   // transverse
        case 8: ok = img.RotateLeft(); break;
        default: return true;
    }
    if (ok) img.SetOrientation(1);
    return ok;
}

}  // namespace vx
