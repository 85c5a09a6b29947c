// libheif 1.15 decodes the inputs of a derived picture (an 'iden', 'grid' or
// 'iovl' item) by looking each one up among the pictures it registered, and
// for 'iden' and 'iovl' it asserts that the look-up succeeds: one input that
// is no picture (a metadata item, an item of a codec it does not know, an
// item without a type, or no item at all) aborts the whole process. This
// check runs before the library decodes anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxheif {

// False when a derived item of the file names, as an input ('dimg'), an item
// that is not an HEVC, AV1, grid, identity or overlay picture.
bool DerivedInputsArePictures(const uint8_t* file, size_t size);

}  // namespace vxheif
