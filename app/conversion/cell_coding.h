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

// The single value that marks a missing cell. A float grid names it by an integer, which a cell equals
// when the integer converted exactly to a real equals the cell's value (an integer that no single holds
// marks no cell); an ASCII grid names it by a real, rounded to single like its cells; a GeoTIFF may say
// that its NaN cells are the missing ones, which no comparison finds equal.
struct CellNoData {
  // A float grid's NODATA_value; implicit, so that an integer stands for its no-data value.
  CellNoData(std::int32_t integer)
      : value(static_cast<float>(integer)), possible(static_cast<double>(value) == static_cast<double>(integer)) {}
  // An ASCII grid's no-data value, rounded to single (never a NaN).
  static CellNoData Single(float single) {
    CellNoData nodata(0);
    nodata.value = single;
    return nodata;
  }
  // No cell is missing.
  static CellNoData None() {
    CellNoData nodata(0);
    nodata.possible = false;
    return nodata;
  }
  // NaN cells are missing (and no other).
  static CellNoData NotANumber() {
    CellNoData nodata(0);
    nodata.possible = false;
    nodata.nan = true;
    return nodata;
  }
  bool Matches(float v) const { return (possible && v == value) || (nan && v != v); }

  float value;
  bool possible;     // false: no single equals the integer
  bool nan = false;  // NaN cells are missing
};

// Which code ScanCells and CodeCells run: Best picks vector instructions when the processor has them
// (chosen at run time); Portable runs the same arithmetic one cell at a time on any x86-64. Both give
// the same results; tests use Portable to check the path other machines take.
enum class CellPath { Best, Portable };
inline constexpr int kTopByte = 253;  // valid cells take the bytes 0 to 253

// The running range of the valid cells; both ends start at 0, so the range always includes 0.
struct CellRange {
  float maximum = 0;
  float minimum = 0;
  // Widens the range by the range of a later part of the cells. Each part started at 0, like the whole
  // range, so the ends combine as one long scan finds them.
  void Widen(const CellRange& part) {
    if (part.maximum > maximum) maximum = part.maximum;
    if (part.minimum < minimum) minimum = part.minimum;
  }
};

// Widens range by the valid cells of cells[0..count): a cell greater than the maximum replaces it, then
// a cell less than the minimum replaces it. A cell that nodata matches is skipped. A NaN cell that is
// not missing raises EInvalidOp (its no-data comparison); range is then left unspecified. range must include 0 (maximum
// >= 0 >= minimum), as the running range always does.
void ScanCells(const float* cells, std::size_t count, CellNoData nodata, CellRange& range,
               CellPath path = CellPath::Best);

// Slope and intercept of the linear coding: slope = (max - min) / 253, intercept = max - (max - min),
// each worked out in extended precision and rounded to single, from the scanned range or from one the
// user fixed. An infinite maximum raises EInvalidOp (inf - inf in the intercept); an infinite minimum
// gives an infinite slope.
struct CellScale {
  float slope = 0;
  float intercept = 0;
};
CellScale ScaleFor(const CellRange& range);

// The byte of one cell: 255 for no-data (a NaN cell that nodata does not match raises EInvalidOp); otherwise the low 8
// bits of RoundHalfEven of q = (v - intercept) / slope, worked out in extended precision and rounded to single. A slope
// of 0 codes every valid cell as 0. The reference that every faster coding must equal.
std::uint8_t CodeCellReference(float value, CellNoData nodata, const CellScale& scale);

// Codes cells[0..count) into out[0..count); byte for byte equal to CodeCellReference, raising what it
// raises for the first cell in order that makes it raise (bytes from that cell on are unspecified).
void CodeCells(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale, std::uint8_t* out,
               CellPath path = CellPath::Best);

// ---- The coding over a fixed range -----------------------------------------------------------------
//
// Tiles of a mosaic share one scale when each is coded over the same range, given by the user instead
// of scanned: scale = ScaleFor(range). Cells outside that range would code below 0 or above 253, which
// the low 8 bits turn into unrelated bytes; here they are held at the ends instead, and counted.

// A scale over a range the user fixed; range.minimum < range.maximum, both finite.
struct FixedScale {
  CellScale scale;
  CellRange range;
};

// Valid cells that lie outside the fixed range.
struct OutsideCounts {
  std::int64_t below = 0;  // less than range.minimum: coded 0
  std::int64_t above = 0;  // greater than range.maximum: coded 253
  OutsideCounts& operator+=(const OutsideCounts& other) {
    below += other.below;
    above += other.above;
    return *this;
  }
};

// The byte of one cell over a fixed range: 255 for no-data; 0 below the range and 253 above it
// (infinities included); inside it, CodeCellReference's code held to 0..253 (a slope of 0 codes 0).
// A NaN cell raises EInvalidOp. The reference that every faster clamped coding must equal.
std::uint8_t CodeCellClampedReference(float value, CellNoData nodata, const FixedScale& fixed);

// Codes cells[0..count) into out[0..count), byte for byte equal to CodeCellClampedReference, and adds
// the valid cells outside the range to counts. Raises what the reference raises for the first cell in
// order that makes it raise (bytes and counts are then unspecified).
void CodeCellsClamped(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                      std::uint8_t* out, OutsideCounts& counts, CellPath path = CellPath::Best);

}  // namespace kavrimo
