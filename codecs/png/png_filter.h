// The five PNG row filters and the adaptive choice among them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx::png {

enum Filter : uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth };

// The filter whose output has the smallest sum when each byte is read as a
// signed value and its magnitude taken (libpng's default choice); among
// equal sums the first in the order above. `prior` is the row above, zeros
// for the first row of a picture or pass; `bpp` is bytes per pixel (at least 1).
Filter ChooseFilter(const uint8_t* row, const uint8_t* prior, size_t rowBytes, unsigned bpp);

// out[0] = the filter type, out[1 .. rowBytes] = the filtered row.
void ApplyFilter(Filter filter, const uint8_t* row, const uint8_t* prior, size_t rowBytes,
                 unsigned bpp, uint8_t* out);

}  // namespace vx::png
