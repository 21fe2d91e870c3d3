// The passes over an ESRI ASCII grid's text. The text is parsed once: pass 1 parses every value, finds
// the range as a float grid's pass 1 does and keeps the cells in a scratch file laid out as a float
// grid's data; pass 2 codes that file with the float grid's own pass 2, so an ASCII grid and its float
// twin give the same bytes. With a fixed range there is no pass 1, and the text is parsed and coded in
// one pass.
//
// Pieces of text are parsed side by side on the pass's threads. A piece's cells go to their place in
// the file as soon as the pieces before it have been parsed (their cells counted), so each thread holds
// one piece at a time and memory does not depend on the grid's size.
#pragma once

#include "app/conversion/cell_coding.h"
#include "app/conversion/passes.h"
#include "app/grid/ascii_grid.h"
#include "image/image_pixels.h"
#include "runtime/file.h"

namespace kavrimo {

// Pass 1: parses every value, writes the cells to scratch from byte scratch_base (host order, as a
// little-endian float grid's data) and returns the range of the valid ones (no-data:
// header.nodata_single). Raises the first bad token's error in file order, then AsciiValues::CheckCount's,
// and the system's read and write errors. Progress as for a float grid's pass 1.
CellRange ScanAsciiValues(const AsciiValues& values, const GridHeader& header, BinaryFile& scratch,
                          const ProgressSink& progress, const PassOptions& options = {}, std::int64_t scratch_base = 0);

// The one pass over a fixed range: parses and codes every value (CodeCellsClamped) into output's pixels
// and returns the valid cells outside the range. Raises as ScanAsciiValues does.
OutsideCounts CodeAsciiValues(const AsciiValues& values, const GridHeader& header, const FixedScale& fixed,
                              ImagePixels& output, const ProgressSink& progress, const PassOptions& options = {});

}  // namespace kavrimo
