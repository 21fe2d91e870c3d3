// The block loops of the coding written one cell at a time through the reference arithmetic
// (cell_coding_one_by_one.cpp): the portable loops of processors without vector code, and the vector
// code's own fallback for scales and no-data values it does not take. Private to the coding's files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/conversion/cell_coding.h"

namespace kavrimo {

void ScanCellsOneByOne(const float* cells, std::size_t count, CellNoData nodata, CellRange& range);
void CodeCellsOneByOne(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale,
                       std::uint8_t* out);
void CodeCellsClampedOneByOne(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                              std::uint8_t* out, OutsideCounts& counts);

}  // namespace kavrimo
