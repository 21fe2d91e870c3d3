// The text header (*.hdr) of an ArcGIS float grid: read by key lookup over its lines, written for an
// export, and the size check every grid shares.
#include "app/grid/grid_header.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "runtime/ascii_case.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"
#include "runtime/path.h"

namespace kavrimo {
namespace {

constexpr std::size_t kMaxValueText = 100;

// The whole file as 8-bit text, up to its first NUL. Raises EFOpenError when it cannot be opened or
// is not a regular file (missing, no access, a folder, a FIFO or a device: none is waited on or read)
// and EInOutError when a read fails.
std::string ReadHeaderText(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, text) != WholeFile::kRead) throw EFOpenError(path);
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

// From the line's first blank on (the blank included), or the whole line when it has none; at most
// 100 characters.
std::string_view ValueText(std::string_view line) {
  const std::size_t blank = line.find(' ');
  return line.substr(blank == std::string_view::npos ? 0 : blank, kMaxValueText);
}

// Drops every character of code 32 or less from both ends.
std::string_view TrimControls(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

constexpr bool IsBreak(char c) { return c == '\r' || c == '\n'; }

float ParseSingle(std::string_view value_text) { return fp::ToSingle(ParseReal(TrimControls(value_text))); }

// The header's lines, split at CR LF, a lone CR or a lone LF (a text that ends with a break has no
// empty last line). Holds the text and one upper-cased copy of it, nothing per line, so a header of
// any length costs twice its size.
class HeaderLines {
 public:
  explicit HeaderLines(std::string text) : text_(std::move(text)), upper_(AsciiUpper(text_)) {}

  // Hands the value text of every line holding key (any letter case, anywhere in the line) to store,
  // first line to last. Returns whether any line matched.
  template <typename Store>
  bool ForEachValue(std::string_view key, Store store) const {
    const std::string upper_key = AsciiUpper(key);
    const std::string_view text = text_, upper = upper_;
    bool matched = false;
    // Each place the key is found lies on one line, bounded by the breaks around it (a key holds no
    // break); the line's later places are passed over.
    for (std::size_t at = upper.find(upper_key); at != std::string_view::npos; at = upper.find(upper_key, at)) {
      std::size_t start = at;
      while (start > 0 && !IsBreak(text[start - 1])) --start;
      std::size_t end = at + upper_key.size();
      while (end < text.size() && !IsBreak(text[end])) ++end;
      store(ValueText(text.substr(start, end - start)));
      matched = true;
      at = end;
    }
    return matched;
  }

 private:
  std::string text_;
  std::string upper_;
};

}  // namespace

std::string GridHeaderText(const GridHeaderValues& values) {
  const auto line = [](const std::string& key, const std::string& value) {
    return key + std::string(std::max<std::size_t>(1, 14 - key.size()), ' ') + value + "\n";
  };
  return line("ncols", std::to_string(values.ncols)) + line("nrows", std::to_string(values.nrows)) +
         line("xllcorner", ShortestText(values.xllcorner)) + line("yllcorner", ShortestText(values.yllcorner)) +
         line("cellsize", ShortestText(values.cellsize)) + line("NODATA_value", std::to_string(values.nodata)) +
         line("byteorder", "LSBFIRST");
}

void CheckConvertibleSize(std::int64_t ncols, std::int64_t nrows) {
  constexpr std::int64_t kMaxImageSide = 32767;
  if (ncols >= 1 && ncols <= kMaxImageSide && nrows >= 1 && nrows <= kMaxImageSide) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "Grid of %lld columns and %lld rows cannot be converted: a Miradel image holds 1 to 32767 of each",
                static_cast<long long>(ncols), static_cast<long long>(nrows));
  throw ECommandError(text);
}

GridHeader ReadGridHeader(const std::string& InputName) {
  const HeaderLines lines(ReadHeaderText(ReplaceExtension(InputName, ".hdr")));
  GridHeader header;

  const auto integer_into = [](std::int32_t& field) {
    return [&field](std::string_view value_text) { field = ParseInteger(value_text); };
  };
  const auto real_into = [](float& field) {
    return [&field](std::string_view value_text) { field = ParseSingle(value_text); };
  };

  lines.ForEachValue("ncols", integer_into(header.ncols));
  lines.ForEachValue("nrows", integer_into(header.nrows));
  const bool has_xllcorner = lines.ForEachValue("xllcorner", real_into(header.xllcorner));
  const bool has_yllcorner = lines.ForEachValue("yllcorner", real_into(header.yllcorner));
  lines.ForEachValue("cellsize", real_into(header.cellsize));
  lines.ForEachValue("NODATA_value", integer_into(header.NODATA_value));
  lines.ForEachValue("byteorder", [&header](std::string_view value_text) {
    const std::string order = AsciiUpper(TrimControls(value_text));
    header.big_endian = order == "MSBFIRST" || order == "M";
  });

  // A grid placed by the centre of its lower-left cell instead of its corner.
  const long double half_cell = static_cast<long double>(header.cellsize) / 2.0L;
  float centre = 0;
  if (!has_xllcorner && lines.ForEachValue("xllcenter", real_into(centre))) {
    header.xllcorner = fp::ToSingle(static_cast<long double>(centre) - half_cell);
  }
  if (!has_yllcorner && lines.ForEachValue("yllcenter", real_into(centre))) {
    header.yllcorner = fp::ToSingle(static_cast<long double>(centre) - half_cell);
  }
  return header;
}

}  // namespace kavrimo
