// ESRI ASCII grids (*.asc): one text file holding a short header of keys and values, then every cell as
// a decimal number, row after row from the top.
//
// The header gives ncols and nrows, the lower-left corner (xllcorner and yllcorner, or the centre of
// that cell as xllcenter and yllcenter), the cell size (cellsize, or dx and dy for cells that are not
// square) and, optionally, nodata_value (default -9999). Keys may be in any letter case.
//
// The values are read in pieces of text cut at white space, so that threads can parse them side by
// side and memory does not depend on the grid's size. Each number becomes the nearest single, ties to
// even, as std::from_chars gives it; most take a shorter exact path first (ascii_grid.cpp says why it is
// exact). Text errors name the line they are on, counted from 1: "Line <n> of <file>: <what is wrong>".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/grid/grid_header.h"
#include "app/grid/grid_stream.h"
#include "runtime/file.h"

namespace kavrimo {

// True for a name that ends in ".asc", in any letter case.
bool IsAsciiGridName(const std::string& name);

struct AsciiGridHeader {
  // ncols, nrows, xllcorner, yllcorner, cellsize (dx), cell_height (dy, when given) and nodata_single
  // (the rounded no-data value, always set); big_endian false and NODATA_value 0, unused.
  GridHeader grid;
  std::int64_t values_offset = 0;  // the byte where the values begin: the start of the first value line
  std::int64_t values_line = 0;    // that line's number
};

// Reads the header at the top of file, named name in messages. Header lines are those whose first
// character that is not a blank or a tab is a letter, each one key and one value separated by blanks
// or tabs; lines end in LF, CR LF or CR. Raises EConvertError "Line <n> of <name>: ..." for an unknown
// key, a key given twice (or with its alternative), a line that is not one key and one value, a value
// that does not convert and a missing required key; CheckConvertibleSize's error for a size outside
// 1 to 32767; and the system's read errors.
AsciiGridHeader ReadAsciiGridHeader(const BinaryFile& file, const std::string& name);

// How a number text becomes a cell: the nearest single, ties to even. The text is one token, without
// white space. Forms: an optional sign, digits with an optional decimal point (the full stop) and at
// least one digit, an optional exponent "e" or "E" with an optional sign and digits.
enum class NumberText { kNumber, kNotANumber, kTooLarge };
NumberText ParseCellText(std::string_view token, float& value);

inline constexpr std::size_t kAsciiPieceBytes = std::size_t{4} << 20;  // text per piece
// A token longer than this is no number: the pieces overlap by this much to finish their last number.
inline constexpr std::size_t kMaxNumberBytes = 4096;

// The values of an ASCII grid, cut into pieces of about piece_bytes of text. A piece holds the tokens
// that begin in it; it may hold none. Pieces can be parsed in any order, on any thread.
class AsciiValues {
 public:
  AsciiValues(const BinaryFile& file, std::string name, const AsciiGridHeader& header,
              std::size_t piece_bytes = kAsciiPieceBytes);

  std::int64_t Pieces() const { return pieces_; }
  // The most cells a piece can hold: every other byte of it a number.
  std::size_t MaxCellsPerPiece() const { return piece_bytes_ / 2 + 1; }

  // A worker's buffers: one piece of text and the cells parsed from it.
  class Buffers {
   public:
    explicit Buffers(const AsciiValues& values);
    const float* Cells() const { return cells_.data(); }
    // After Parse raised for a bad token: how many numbers of the piece came before it.
    std::size_t ParsedBeforeFailure() const { return parsed_before_failure_; }

   private:
    friend class AsciiValues;
    BlockBuffer<char> text_;  // a piece, the overlap, and one blank after them
    BlockBuffer<float> cells_;
    std::size_t parsed_before_failure_ = 0;
  };

  // Parses the numbers of piece into buffers' cells and returns how many there are. Raises
  // EConvertError "Line <n> of <name>: '<token>' is not a number" (the token cut to 40 characters) or
  // "... is too large for a single" for the first bad token of the piece, and the system's read errors.
  std::size_t Parse(std::int64_t piece, Buffers& buffers) const;

  // Raises EConvertError "<name> holds <count> values; its header promises <ncols x nrows>" unless
  // count is that product.
  void CheckCount(std::int64_t count) const;

 private:
  [[noreturn]] void RaiseBadToken(std::int64_t offset, std::string_view token, NumberText why) const;

  const BinaryFile& file_;
  std::string name_;
  std::int64_t begin_;  // the first byte of the values
  std::int64_t end_;    // the file's size when the values were opened
  std::int64_t first_line_;
  std::int64_t promised_;
  std::size_t piece_bytes_;
  std::int64_t pieces_;
};

}  // namespace kavrimo
