// The per-cell arithmetic of the two passes: the range scan and the byte coding.
//
// Grid cells are single-precision values; the scale is held in single precision and every intermediate
// result is extended precision (long double), rounded to single where a single is stored, exactly as the
// converter has always coded its images. Valid cells code to 0..253, no-data cells to 255.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavrimo {

inline constexpr std::uint8_t kNoDataByte = 255;

// Which code ScanCells and CodeCells run: Best picks vector instructions when the processor has them
// (chosen at run time); Portable runs the same arithmetic one cell at a time on any x86-64. Both give
// the same results; tests use Portable to check the path other machines take.
enum class CellPath { Best, Portable };
inline constexpr int kTopByte = 253;  // valid cells take the bytes 0 to 253

// The running range of the valid cells; both ends start at 0, so the range always includes 0.
struct CellRange {
  float maximum = 0;
  float minimum = 0;
};

// Widens range by the valid cells of cells[0..count): a cell greater than the maximum replaces it, then
// a cell less than the minimum replaces it. A cell equal to nodata (the integer compared exactly with
// the single value) is skipped. A NaN cell raises EInvalidOp (its no-data comparison); range is then
// left unspecified. range must include 0 (maximum >= 0 >= minimum), as the running range always does.
void ScanCells(const float* cells, std::size_t count, std::int32_t nodata, CellRange& range,
               CellPath path = CellPath::Best);

// Slope and intercept of the linear coding: slope = (max - min) / 253, intercept = max - (max - min),
// each worked out in extended precision and rounded to single. An infinite maximum raises EInvalidOp
// (inf - inf in the intercept); an infinite minimum gives an infinite slope.
struct CellScale {
  float slope = 0;
  float intercept = 0;
};
CellScale ScaleFor(const CellRange& range);

// The byte of one cell: 255 for no-data; otherwise the low 8 bits of RoundHalfEven of
// q = (v - intercept) / slope, worked out in extended precision and rounded to single. A slope of 0
// codes every valid cell as 0. The reference that every faster coding must equal.
std::uint8_t CodeCellReference(float value, std::int32_t nodata, const CellScale& scale);

// Codes cells[0..count) into out[0..count); byte for byte equal to CodeCellReference, raising what it
// raises for the first cell in order that makes it raise (bytes from that cell on are unspecified).
void CodeCells(const float* cells, std::size_t count, std::int32_t nodata, const CellScale& scale,
               std::uint8_t* out, CellPath path = CellPath::Best);

}  // namespace kavrimo
