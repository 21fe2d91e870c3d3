// The means of a mosaic's coarse cells: each the mean of the valid cells of its block of k x k fine
// cells, their sum in double precision in row order divided by their number and rounded to single.
#pragma once

#include <cstdint>

#include "app/conversion/cell_coding.h"

namespace kavrimo {

// The coarse cells of k fine rows (stride cells apart, cols coarse cells across, missing fine cells NaN)
// into coarse[0..cols), NaN for a block without a valid cell. Blocks are summed side by side, each in its
// own order (vector lanes where the processor has them and path is Best), so that all give the same sums.
void CoarsenRows(const float* fine, std::int64_t stride, std::int64_t k, std::int64_t cols, float* coarse,
                 CellPath path = CellPath::Best);

}  // namespace kavrimo
