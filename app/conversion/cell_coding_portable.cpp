// The block loops of the two passes for processors without the x86-64 vector code of
// cell_coding_fast.cpp: one cell at a time through the reference arithmetic itself, so every byte is
// the reference's by construction. CMake chooses this file where the target is not x86-64.
#include <cmath>

#include "app/conversion/cell_coding.h"
#include "runtime/fp.h"

namespace kavrimo {

void ScanCells(const float* cells, std::size_t count, CellNoData nodata, CellRange& range, CellPath) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = cells[i];
    if (nodata.Matches(v)) continue;
    if (std::isnan(v)) fp::RaiseInvalidOp();
    if (v > range.maximum) range.maximum = v;
    if (v < range.minimum) range.minimum = v;
  }
}

void CodeCells(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale, std::uint8_t* out,
               CellPath) {
  for (std::size_t i = 0; i < count; ++i) out[i] = CodeCellReference(cells[i], nodata, scale);
}

void CodeCellsClamped(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                      std::uint8_t* out, OutsideCounts& counts, CellPath) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = cells[i];
    out[i] = CodeCellClampedReference(v, nodata, fixed);
    if (out[i] == kNoDataByte) continue;
    counts.above += v > fixed.range.maximum;
    counts.below += v < fixed.range.minimum;
  }
}

}  // namespace kavrimo
