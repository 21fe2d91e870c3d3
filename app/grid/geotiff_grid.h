// GeoTIFF grids (*.tif, *.tiff): the first image of a TIFF file, one sample per cell, placed in latitude
// and longitude by its GeoTIFF tags, read with libtiff and libgeotiff.
//
// A reader holds one libtiff handle and is used by one thread at a time; threads that decode the same
// file side by side each open a reader of their own. The file is mapped whole, read-only, and libtiff
// decodes straight from the mapping; the mapping's resident pages are given back every few MiB decoded,
// so memory stays that of a block whatever the grid's size. (A file whose bits are in reverse order,
// FillOrder 2, is read instead of mapped: libtiff would copy its blocks out of the mapping.) A file that
// shrinks while it is read raises an error instead of ending the process: the reader holds a
// BusErrorGuard while libtiff runs, so its caller must not hold one of its own on the same thread then
// (runtime/mapped_file.h).
//
// Cells come out as singles: integers of up to 16 bits exactly, 32-bit integers and 64-bit reals to the
// nearest single, ties to even (a 64-bit real beyond the single range becomes an infinity of its sign,
// as the processor rounds it), NaN as NaN.
//
// Every failure raises EGeoTiffError with a message that names the file and says what is wrong, except
// the system's read errors on opening (EInOutError naming the path) and sizes outside 1 to 32767
// (CheckConvertibleSize's ECommandError). libtiff and libgeotiff never print: their warnings are
// dropped and their first error becomes the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/grid/grid_header.h"
#include "runtime/errors.h"

namespace kavrimo {

// True for a name that ends in ".tif" or ".tiff", in any letter case.
bool IsGeoTiffName(const std::string& name);

// A GeoTIFF that cannot be read or converted; the message names the file.
class EGeoTiffError : public Error {
 public:
  using Error::Error;
};

// The kinds of sample a grid's cells may have.
enum class GeoTiffSample { kUnsigned8, kSigned8, kUnsigned16, kSigned16, kUnsigned32, kSigned32, kReal32, kReal64 };

// A block larger than this many cells (a strip of a grid written as one strip, say) is never decoded
// whole: its rows come in runs of at most this many cells.
inline constexpr std::int64_t kGeoTiffMaxBlockCells = std::int64_t{1} << 20;
// Tiles that take more than this many bytes decoded are refused: a tile is always decoded whole, and a
// reader holds one at a time (8192 x 8192 cells of 8, 16 or 32 bits, 8192 x 4096 of 64 bits).
inline constexpr std::int64_t kGeoTiffMaxTileBytes = std::int64_t{256} << 20;

// How the cells are cut into blocks. Blocks are numbered across, then down; block (x, y) covers the
// columns x * block_width ... and the rows y * block_height ..., clipped to the grid.
struct GeoTiffLayout {
  std::int64_t ncols = 0;
  std::int64_t nrows = 0;
  bool tiled = false;             // tiles; else strips, each ncols wide (blocks_across is 1)
  std::int64_t block_width = 0;   // a tile's width, or ncols
  std::int64_t block_height = 0;  // a tile's height, the rows of a strip, or the rows of a run
  std::int64_t blocks_across = 0;
  std::int64_t blocks_down = 0;
  // The strips are too large to decode whole (more than kGeoTiffMaxBlockCells cells): the blocks are
  // runs of rows, which one reader must decode in increasing order (top to bottom). Decoding a run above
  // the last one decoded starts the strip again from its first row: correct, but slow.
  bool rows_in_order = false;
  // The cells may be read straight from the file instead of being decoded: uncompressed, no predictor,
  // 32-bit IEEE reals in little-endian order (the host's), normal fill order, and every block's bytes
  // inside the file. Block b's cell (row r, column c) is the four bytes at
  // block_offsets[b] + 4 * (r * block_width + c), r and c counted inside the block. Empty otherwise.
  bool in_place = false;
  std::vector<std::uint64_t> block_offsets;  // when in_place, the offset of each block's first cell
  std::uint64_t largest_stored_block = 0;    // the most bytes any block takes in the file

  std::int64_t Blocks() const { return blocks_across * blocks_down; }
  // The columns of the blocks in column block_x and the rows of those in row block_y, clipped.
  std::int64_t WidthOf(std::int64_t block_x) const;
  std::int64_t HeightOf(std::int64_t block_y) const;
};

struct GeoTiffInfo {
  // What a float grid's header would give: ncols, nrows, xllcorner, yllcorner, cellsize (the column
  // spacing), cell_height (the row spacing, set only when it differs from the column spacing), and
  // nodata_single (set when the file has a no-data tag; NaN when the tag says "nan"; without the tag
  // no_nodata, as no cell is missing). NODATA_value 0 and big_endian false: cells come in host order.
  GridHeader header;
  // The no-data tag says "nan": NaN cells are no-data (NaN never equals nodata_single).
  bool nan_is_nodata = false;
  GeoTiffSample sample = GeoTiffSample::kReal32;
  GeoTiffLayout layout;

  // The bytes of one sample as stored.
  std::int64_t SampleBytes() const;
  // The bytes of a reader's buffer for one block: space for its samples as stored and for its cells as
  // singles (a run's cells, for runs of rows, whose samples are read a row at a time beside it).
  std::int64_t BlockBufferBytes() const;
  // The memory a reader holds to decode one block: its buffer, a row's samples for runs of rows, and the
  // block's stored bytes, which libtiff reads whole.
  std::int64_t DecodingBytes() const;
};

class GeoTiffReader {
 public:
  // Opens the GeoTIFF at path (read only), reads its first image's tags and checks that it is a grid
  // that can be converted; name is the file's name in messages. Raises EInOutError when the file
  // cannot be opened or read, CheckConvertibleSize's error, and EGeoTiffError:
  //   "<name> is not a TIFF file", "<name> is damaged: <what libtiff or this reader found>",
  //   "<name> is truncated: its directory reaches byte <n> of a file of <size> bytes" (also for the values
  //   of its tags) and "... its data reaches byte <n> ..." (a block's bytes),
  //   "<name> has <n> bands; only single-band grids can be converted",
  //   "<name> holds <what> samples, which cannot be converted" (what: "1-bit unsigned integer",
  //   "16-bit floating-point", "32-bit complex floating-point", ...),
  //   "<name> is compressed by method <n>, which this system cannot decode",
  //   "<name> has tiles of <w> x <h> cells, too large to decode (more than <kGeoTiffMaxTileBytes> bytes
  //   each); write it again in smaller tiles (512 x 512 cells, say) or in strips",
  //   "<name> stores its bits in reverse order (FillOrder 2) in blocks of up to <n> bytes, which are read
  //   whole: more than <kGeoTiffMaxTileBytes>; write it again in the usual fill order or in smaller strips",
  //   "<name> has no georeference", "<name> is rotated; only north-up grids can be converted",
  //   "<name> is placed by <n> tie points; only one tie point with a cell size can be converted",
  //   "<name> has a georeference that cannot be used (<why>)" (also for a spacing that is 0 in single
  //   precision, and a spacing or corner beyond the single range),
  //   "<name> is not in latitude and longitude (<the coordinate system, unit or prime meridian, with its
  //   code>)" (a prime meridian other than Greenwich is refused as a unit other than the degree is),
  //   "<name> names no coordinate system and its corners are not degrees (<its edges>)": without GeoKeys
  //   naming a model or a coordinate system, the grid must lie within latitude -90 to 90 and longitude
  //   -180 to 360,
  //   "<name> has a no-data tag that is not a number ('<text>')".
  explicit GeoTiffReader(const std::string& path);
  GeoTiffReader(const std::string& path, const std::string& name);
  // The same over a TIFF file's bytes in memory, which must outlive the reader.
  GeoTiffReader(std::span<const std::uint8_t> bytes, const std::string& name);
  ~GeoTiffReader();
  GeoTiffReader(const GeoTiffReader&) = delete;
  GeoTiffReader& operator=(const GeoTiffReader&) = delete;

  const GeoTiffInfo& Info() const;

  // Decodes block (block_x, block_y) of Info().layout and returns its WidthOf(block_x) x HeightOf(block_y)
  // singles: its rows, clipped to the grid, one after another, held by the reader until its next
  // decoding (one block's buffer, whatever the grid's size). For rows_in_order
  // layouts the block is a run of rows, read with libtiff's scanline reading: fastest top to bottom, a run
  // above the last one read starts its strip again. Raises EGeoTiffError "<name> is damaged: ..." for
  // data libtiff cannot decode, EFileChanged "<name> changed while it was read" when the file shrank under
  // the mapping; std::out_of_range for a block outside the layout.
  const float* DecodeBlock(std::int64_t block_x, std::int64_t block_y);

  // Gives back the buffers decoding holds; the next decoding takes them again.
  void FreeBuffers();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kavrimo
