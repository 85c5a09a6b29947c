#include "tests/support/test_profiles.h"

#include <lcms2.h>

#include <cmath>

namespace vt {

std::vector<uint8_t> MakeProfile(ProfileKind kind) {
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* straight = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {straight, straight, straight};
    cmsHPROFILE p = nullptr;
    switch (kind) {
        case ProfileKind::Srgb: p = cmsCreate_sRGBProfile(); break;
        case ProfileKind::LinearRgb: p = cmsCreateRGBProfile(&d65, &primaries, curves); break;
        case ProfileKind::LinearGrey: p = cmsCreateGrayProfile(&d65, straight); break;
        case ProfileKind::Lab: p = cmsCreateLab4Profile(nullptr); break;
    }
    cmsFreeToneCurve(straight);
    std::vector<uint8_t> bytes;
    cmsUInt32Number n = 0;
    if (p && cmsSaveProfileToMem(p, nullptr, &n)) {
        bytes.resize(n);
        if (!cmsSaveProfileToMem(p, bytes.data(), &n)) bytes.clear();
    }
    if (p) cmsCloseProfile(p);
    return bytes;
}

int SrgbOfLinear(int v) {
    const double l = v / 255.0;
    const double s = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    return int(std::lround(s * 255));
}

}  // namespace vt
