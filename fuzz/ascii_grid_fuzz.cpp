// Fuzz target: the ESRI ASCII grid reader, header and values. Input: one byte of options (bit 0: two
// threads; bits 1 to 3: the size of the text pieces, from 2 bytes up), then the file's bytes.
//
// Checks: a header either reads, with a size of 1 to 32767 each way and a no-data value, or fails with
// a "Line <n> of <file>: " message or the grid size message. For a header that reads and promises at
// most 4096 cells, pass 1 over the values gives exactly what a plain reading gives: each token as
// strtof reads it in the C locale (only digits, signs, points and exponents; all of the token), the
// first bad token's message with its line, or the count message; and its progress runs up in 1..100.
#include <locale.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/conversion/ascii_passes.h"
#include "app/grid/ascii_grid.h"
#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace {

constexpr std::int64_t kMaxCells = 4096;
constexpr std::size_t kPieceSizes[] = {2, 3, 5, 8, 17, 64, 1000, kavrimo::kAsciiPieceBytes};

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// What pass 1 must give, worked out plainly from the value text: the cells, or the message.
struct Expected {
  std::vector<float> cells;
  std::string message;
};

std::string Shown(std::string token) {
  token = token.substr(0, 40);
  for (char& c : token) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  }
  return token;
}

Expected PlainReading(const std::string& text, std::size_t values_offset, std::int64_t first_line,
                      std::int64_t promised, const std::string& name) {
  static const locale_t c_locale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  Expected expected;
  std::int64_t line = first_line;
  for (std::size_t i = values_offset; i < text.size();) {
    if (IsSpace(text[i])) {
      if (text[i] == '\r' || (text[i] == '\n' && (i == values_offset || text[i - 1] != '\r'))) ++line;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    const std::string token = text.substr(i, end - i);
    char* stop = nullptr;
    const float value = ::strtof_l(token.c_str(), &stop, c_locale);
    const bool number = token.find_first_not_of("0123456789+-.eE") == std::string::npos &&
                        stop == token.c_str() + token.size() && token.size() <= kavrimo::kMaxNumberBytes;
    if (!number || std::isinf(value)) {
      expected.message = "Line " + std::to_string(line) + " of " + name + ": '" + Shown(token) + "'" +
                         (number ? " is too large for a single" : " is not a number");
      return expected;
    }
    expected.cells.push_back(value);
    i = end;
  }
  if (static_cast<std::int64_t>(expected.cells.size()) != promised) {
    expected.message = name + " holds " + std::to_string(expected.cells.size()) + " values; its header promises " +
                       std::to_string(promised);
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  if (size < 1) return 0;
  static const std::string path = fuzz::ScratchFile("grid.asc");
  const int threads = 1 + (data[0] & 1);
  const std::size_t piece = kPieceSizes[(data[0] >> 1) & 7];
  fuzz::WriteFile(path, data + 1, size - 1);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const BinaryFile file = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  AsciiGridHeader header;
  try {
    header = ReadAsciiGridHeader(file, "grid.asc");
  } catch (const Error& e) {
    const std::string message = e.Message();
    const bool line = StartsWith(message, "Line ") && message.find(" of grid.asc: ") != std::string::npos;
    fuzz::Check(line || StartsWith(message, "Grid of "), "a header message of the wrong form:", message);
    return 0;
  } catch (const std::exception& e) {
    fuzz::Finding("the header reader raised something else:", e.what());
  }
  const GridHeader& grid = header.grid;
  fuzz::Check(grid.ncols >= 1 && grid.ncols <= 32767 && grid.nrows >= 1 && grid.nrows <= 32767,
              "a header of a size that cannot be converted");
  fuzz::Check(grid.nodata_single.has_value() && !std::isnan(*grid.nodata_single), "no no-data value");
  const auto values_at = static_cast<std::size_t>(header.values_offset);
  fuzz::Check(
      header.values_offset >= 0 && values_at <= text.size() &&
          (values_at == 0 || values_at == text.size() || text[values_at - 1] == '\n' || text[values_at - 1] == '\r'),
      "the values do not begin at the start of a line or at the end of the file");
  const std::int64_t promised = std::int64_t{grid.ncols} * grid.nrows;
  if (promised > kMaxCells) return 0;

  const Expected expected =
      PlainReading(text, static_cast<std::size_t>(header.values_offset), header.values_line, promised, "grid.asc");
  const AsciiValues values(file, "grid.asc", header, piece);
  BinaryFile::Create(fuzz::ScratchFile("scratch")).Close();  // empty, then open to read back as well
  BinaryFile scratch = BinaryFile::OpenExisting(fuzz::ScratchFile("scratch"), OpenMode::ReadWrite);
  int shown = 0;
  const auto progress = [&shown](int position) {
    fuzz::Check(position > shown && position <= 100, "progress that does not run up in 1..100");
    shown = position;
  };
  std::string message;
  try {
    ScanAsciiValues(values, grid, scratch, progress, {threads});
  } catch (const Error& e) {
    message = e.Message();
  } catch (const std::exception& e) {
    fuzz::Finding("pass 1 raised something else:", e.what());
  }
  fuzz::Check(message == expected.message, "pass 1 said '" + message + "', the plain reading", expected.message);
  if (!message.empty()) return 0;
  std::vector<float> stored(expected.cells.size());
  fuzz::Check(scratch.ReadAt(0, stored.data(), stored.size() * sizeof(float)) == stored.size() * sizeof(float),
              "the scratch file is short");
  for (std::size_t i = 0; i < stored.size(); ++i) {
    fuzz::Check(std::bit_cast<std::uint32_t>(stored[i]) == std::bit_cast<std::uint32_t>(expected.cells[i]),
                "a cell differs from strtof's value");
  }
  return 0;
}
