// The two yardsticks the engine is measured against: the floor (the file reads and writes alone) and
// the plain reference conversion (one cell at a time in extended precision).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavrimo::bench {

// Reads the cells x 4 bytes of data twice in blocks of read_bytes and writes 512 + cells bytes to out in
// blocks of write_bytes: what any two-pass conversion must at least do.
void ReadTwiceWriteQuarter(const std::string& data, std::int64_t cells, const std::string& out, std::size_t read_bytes,
                           std::size_t write_bytes);

// The same for a mosaic of float grids (names without extension): the header of each of headers read
// whole once, then the cells of grids read twice, grid after grid, and 512 + out_cells bytes written:
// what a mosaic must at least do.
void ReadGridsTwiceWriteQuarter(const std::vector<std::string>& headers, const std::vector<std::string>& grids,
                                std::int64_t out_cells, const std::string& out);

// The plain conversion's two passes: 1 MiB reads, the range cell by cell, each byte by
// CodeCellReference, 1 MiB writes; out receives 512 zero bytes and then the coded cells.
void PlainConversion(const std::string& data, std::int64_t cells, std::int32_t nodata, const std::string& out);

// Whether the two files hold the same bytes from byte 512 on (and are as long).
bool SameCodedBytes(const std::string& a, const std::string& b);

}  // namespace kavrimo::bench
