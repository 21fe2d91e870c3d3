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

// Adds n cells of one fine row, fine columns col.. of the blocks sums[c] and counts[c] hold (block c:
// fine columns [c * k, c * k + k)), to their blocks' sums and counts of valid cells: the rows of a block
// added one after another in row order give CoarsenRows's sums. A cell nodata matches is missing (it
// adds +0, as a NaN of CoarsenRows does). Returns true when a cell is a NaN that nodata does not match.
bool AccumulateCoarse(const float* cells, std::int64_t n, std::int64_t col, std::int64_t k, CellNoData nodata,
                      double* sums, std::int64_t* counts, CellPath path = CellPath::Best);

// The means of cols blocks' sums and counts into coarse, NaN for a block without a valid cell.
void CoarseMeans(const double* sums, const std::int64_t* counts, std::int64_t cols, float* coarse,
                 CellPath path = CellPath::Best);

}  // namespace kavrimo
