// The block loops of the two passes for processors without the x86-64 vector code of
// cell_coding_fast.cpp: one cell at a time through the reference arithmetic itself, so every byte is
// the reference's by construction. CMake chooses this file where the target is not x86-64.
#include "app/conversion/cell_coding.h"
#include "app/conversion/cell_coding_one_by_one.h"

namespace kavrimo {

void ScanCells(const float* cells, std::size_t count, CellNoData nodata, CellRange& range, CellPath) {
  ScanCellsOneByOne(cells, count, nodata, range);
}

void CodeCells(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale, std::uint8_t* out,
               CellPath) {
  CodeCellsOneByOne(cells, count, nodata, scale, out);
}

void CodeCellsClamped(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                      std::uint8_t* out, OutsideCounts& counts, CellPath) {
  CodeCellsClampedOneByOne(cells, count, nodata, fixed, out, counts);
}

}  // namespace kavrimo
