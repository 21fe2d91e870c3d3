// Reading ESRI ASCII grids: the header's keys, the number texts, and the values piece by piece.
#include "app/grid/ascii_grid.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "runtime/ascii_case.h"
#include "runtime/errors.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"
#include "runtime/path.h"
#include "runtime/system.h"

namespace kavrimo {
namespace {

constexpr std::size_t kHeaderBytes = std::size_t{64} * 1024;  // space for every header line there can be
constexpr std::size_t kShownToken = 40;
constexpr float kDefaultNoData = -9999;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool IsLetter(char c) { return static_cast<unsigned char>((c | 0x20) - 'a') < 26; }

// A text from the file as a message shows it: at most 40 characters, control characters as "?".
std::string Shown(std::string_view text) {
  std::string shown(text.substr(0, kShownToken));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  }
  return shown;
}

[[noreturn]] void RaiseAtLine(std::int64_t line, const std::string& name, const std::string& what) {
  throw EConvertError("Line " + std::to_string(line) + " of " + name + ": " + what);
}

// ---- Number texts --------------------------------------------------------------------------------
//
// The exact short path. A number of at most 19 digits, m, with a decimal exponent e (the exponent less
// the digits after the point) is m x 10^e. When m <= 2^53 and |e| <= 22, both m and 10^|e| are doubles
// exactly, so one double multiplication or division gives d, the double nearest to x = m x 10^e. The
// single nearest to x is then single(d), unless d lies exactly on a midpoint between two singles: no
// midpoint M lies strictly between x and d (M is a double, and it would lie nearer to x than d), so x
// and d round alike, except when d == M itself, where x may lie on either side. Those d (low 29
// significand bits 1 followed by 28 zeros) take the long path, as does every other form. |x| lies between
// 10^-22 and 9.1e37, in the single's normal range, so neither overflow nor underflow can occur.

constexpr std::array<double, 23> kPowersOfTen = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Parses a number at p whose text is followed by a byte that is no digit, point, sign or letter (a
// blank does). Returns the end of the number, or nullptr when the short path cannot decide the value
// or the text is no number of the short form.
const char* ShortNumber(const char* p, float& value) {
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  const char* const digits = p;
  while (IsDigit(*p)) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
  std::int64_t count = p - digits;
  std::int64_t exponent = 0;
  if (*p == '.') {
    const char* const fraction = ++p;
    while (IsDigit(*p)) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
    exponent = -(p - fraction);
    count += p - fraction;
  }
  if (count == 0 || count > 19) return nullptr;  // 19 digits cannot overflow 64 bits
  if (*p == 'e' || *p == 'E') {
    ++p;
    bool negative_exponent = false;
    if (*p == '-' || *p == '+') negative_exponent = *p++ == '-';
    const char* const exponent_digits = p;
    std::int64_t power = 0;
    while (IsDigit(*p) && p - exponent_digits < 4) power = power * 10 + (*p++ - '0');
    if (p == exponent_digits || IsDigit(*p)) return nullptr;
    exponent += negative_exponent ? -power : power;
  }
  if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) return nullptr;
  const auto m = static_cast<double>(mantissa);
  const double d = exponent < 0 ? m / kPowersOfTen[static_cast<std::size_t>(-exponent)]
                                : m * kPowersOfTen[static_cast<std::size_t>(exponent)];
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  if ((bits & ((std::uint64_t{1} << 29) - 1)) == (std::uint64_t{1} << 28)) return nullptr;
  const auto single = static_cast<float>(d);
  value = negative ? -single : single;
  return p;
}

// The long path: std::from_chars on the token, after the checks that make its forms those of strtod
// less hexadecimal, infinities and NaNs, which from_chars would accept or reject differently.
NumberText LongNumber(std::string_view token, float& value) {
  if (token.empty() || token.size() > kMaxNumberBytes) return NumberText::kNotANumber;
  std::size_t sign = token[0] == '+' || token[0] == '-' ? 1 : 0;
  if (sign == token.size() || !(IsDigit(token[sign]) || token[sign] == '.')) return NumberText::kNotANumber;
  if (token[0] == '+') token.remove_prefix(1);  // from_chars takes no plus sign
  const char* const end = token.data() + token.size();
  float parsed = 0;
  const auto [stop, error] = std::from_chars(token.data(), end, parsed, std::chars_format::general);
  if (stop != end || error == std::errc::invalid_argument) return NumberText::kNotANumber;
  if (error == std::errc::result_out_of_range) {
    // Beyond the single range, or so small that the nearest single is a zero: strtof in the C locale
    // tells which (HUGE_VALF or a zero of the right sign).
    const std::string text(token);
    parsed = StrtofInCLocale(text.c_str());
    if (std::isinf(parsed)) return NumberText::kTooLarge;
  }
  value = parsed;
  return NumberText::kNumber;
}

const char* Reason(NumberText why) {
  return why == NumberText::kTooLarge ? " is too large for a single" : " is not a number";
}

// ---- The header -----------------------------------------------------------------------------------

enum class Key { kNcols, kNrows, kXllcorner, kXllcenter, kYllcorner, kYllcenter, kCellsize, kDx, kDy, kNodata };

struct KeyName {
  Key key;
  const char* name;
};
constexpr std::array<KeyName, 10> kKeys = {{{Key::kNcols, "ncols"},
                                            {Key::kNrows, "nrows"},
                                            {Key::kXllcorner, "xllcorner"},
                                            {Key::kXllcenter, "xllcenter"},
                                            {Key::kYllcorner, "yllcorner"},
                                            {Key::kYllcenter, "yllcenter"},
                                            {Key::kCellsize, "cellsize"},
                                            {Key::kDx, "dx"},
                                            {Key::kDy, "dy"},
                                            {Key::kNodata, "nodata_value"}}};

const char* NameOf(Key key) { return kKeys[static_cast<std::size_t>(key)].name; }

// Keys that say the same thing: a key conflicts with its own kind given before.
int Kind(Key key) {
  switch (key) {
    case Key::kXllcorner:
    case Key::kXllcenter: return 2;
    case Key::kYllcorner:
    case Key::kYllcenter: return 3;
    default: return static_cast<int>(key) + 10;
  }
}

// The header's lines as they are met, each key's value, and where each was given.
class HeaderReader {
 public:
  explicit HeaderReader(const std::string& name) : name_(name) {}

  void Line(std::int64_t line, std::string_view text) {
    const auto blank = [](char c) { return IsBlank(c); };
    const auto key_end = std::find_if(text.begin(), text.end(), blank);
    const auto value_begin = std::find_if_not(key_end, text.end(), blank);
    const auto value_end = std::find_if(value_begin, text.end(), blank);
    const std::string_view key_text(text.begin(), key_end), value(value_begin, value_end);
    if (value.empty() || std::find_if_not(value_end, text.end(), blank) != text.end()) {
      RaiseAtLine(line, name_, "a header line holds one key and one value, not '" + Shown(text) + "'");
    }
    const std::string lower = AsciiLower(key_text);
    const auto known = std::find_if(kKeys.begin(), kKeys.end(), [&](const KeyName& k) { return lower == k.name; });
    if (known == kKeys.end()) RaiseAtLine(line, name_, "unknown key '" + Shown(key_text) + "'");
    const Key key = known->key;
    for (const Given& earlier : given_) {
      const bool cell_sizes =
          (key == Key::kCellsize) != (earlier.key == Key::kCellsize) &&
          (key == Key::kDx || key == Key::kDy || earlier.key == Key::kDx || earlier.key == Key::kDy);
      if (earlier.key == key) {
        RaiseAtLine(line, name_,
                    std::string(NameOf(key)) + " given twice (first on line " + std::to_string(earlier.line) + ")");
      }
      if (Kind(earlier.key) == Kind(key) || cell_sizes) {
        RaiseAtLine(line, name_,
                    std::string(NameOf(key)) + " conflicts with " + NameOf(earlier.key) + " on line " +
                        std::to_string(earlier.line));
      }
    }
    given_.push_back({key, line});
    Store(line, key, value);
  }

  // Checks the keys once the header has ended before line and works out the grid's header.
  AsciiGridHeader Finish(std::int64_t line, bool at_blank_line) const {
    const auto missing = [&](const std::string& what) {
      RaiseAtLine(
          line, name_,
          at_blank_line ? "the header ends at this blank line and has no " + what : "the header has no " + what);
    };
    if (!Has(Key::kNcols)) missing("ncols");
    if (!Has(Key::kNrows)) missing("nrows");
    if (!Has(Key::kXllcorner) && !Has(Key::kXllcenter)) missing("xllcorner or xllcenter");
    if (!Has(Key::kYllcorner) && !Has(Key::kYllcenter)) missing("yllcorner or yllcenter");
    if (!Has(Key::kCellsize) && !Has(Key::kDx) && !Has(Key::kDy)) missing("cellsize (or dx and dy)");
    if (Has(Key::kDx) != Has(Key::kDy)) missing(Has(Key::kDx) ? "dy beside dx" : "dx beside dy");
    CheckConvertibleSize(ncols_, nrows_);

    AsciiGridHeader header;
    GridHeader& grid = header.grid;
    grid.ncols = static_cast<std::int32_t>(ncols_);
    grid.nrows = static_cast<std::int32_t>(nrows_);
    grid.cellsize = Has(Key::kDx) ? Real(Key::kDx) : Real(Key::kCellsize);
    if (Has(Key::kDy)) grid.cell_height = Real(Key::kDy);
    // A grid placed by the centre of its lower-left cell: the corner lies half a cell off, as for float grids.
    grid.xllcorner = Has(Key::kXllcorner) ? Real(Key::kXllcorner)
                                          : fp::ToSingle(static_cast<long double>(Real(Key::kXllcenter)) -
                                                         static_cast<long double>(grid.cellsize) / 2.0L);
    grid.yllcorner = Has(Key::kYllcorner) ? Real(Key::kYllcorner)
                                          : fp::ToSingle(static_cast<long double>(Real(Key::kYllcenter)) -
                                                         static_cast<long double>(grid.RowSpacing()) / 2.0L);
    grid.nodata_single = nodata_;
    header.values_line = line;
    return header;
  }

 private:
  struct Given {
    Key key;
    std::int64_t line;
  };

  void Store(std::int64_t line, Key key, std::string_view value) {
    const auto fail = [&](const char* what) {
      RaiseAtLine(line, name_, std::string(NameOf(key)) + " '" + Shown(value) + "'" + what);
    };
    if (key == Key::kNcols || key == Key::kNrows) {
      std::string_view digits = value;
      if (digits[0] == '+') digits.remove_prefix(1);
      std::int64_t whole = 0;
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
      if (end != digits.data() + digits.size() || error == std::errc::invalid_argument ||
          (digits[0] == '-' && value[0] == '+')) {
        fail(" is not a whole number");
      }
      if (error == std::errc::result_out_of_range) fail(" is out of range");
      (key == Key::kNcols ? ncols_ : nrows_) = whole;
    } else if (key == Key::kNodata) {
      const NumberText result = ParseCellText(value, nodata_);
      if (result != NumberText::kNumber) fail(Reason(result));
    } else {
      // Read as a float grid's header reads its reals, so that twins place the image alike.
      try {
        reals_[static_cast<std::size_t>(key)] = fp::ToSingle(ParseReal(value));
      } catch (const EConvertError&) {
        fail(" is not a number");
      } catch (const EOverflow&) {
        fail(" is too large for a single");
      }
    }
  }

  bool Has(Key key) const {
    return std::any_of(given_.begin(), given_.end(), [key](const Given& g) { return g.key == key; });
  }
  float Real(Key key) const { return reals_[static_cast<std::size_t>(key)]; }

  const std::string& name_;
  std::vector<Given> given_;
  std::int64_t ncols_ = 0;
  std::int64_t nrows_ = 0;
  std::array<float, kKeys.size()> reals_{};
  float nodata_ = kDefaultNoData;
};

}  // namespace

bool IsAsciiGridName(const std::string& name) { return HasExtension(name, ".asc"); }

NumberText ParseCellText(std::string_view token, float& value) {
  if (token.size() <= 64) {
    // The short path needs a byte after the number that ends it.
    char text[66];
    std::memcpy(text, token.data(), token.size());
    text[token.size()] = ' ';
    const char* const end = ShortNumber(text, value);
    if (end == text + token.size()) return NumberText::kNumber;
  }
  return LongNumber(token, value);
}

AsciiGridHeader ReadAsciiGridHeader(const BinaryFile& file, const std::string& name) {
  std::string text(kHeaderBytes, '\0');
  text.resize(file.ReadAt(0, text.data(), text.size()));
  const bool whole_file = text.size() < kHeaderBytes;
  HeaderReader reader(name);
  // A UTF-8 byte order mark, which some editors put first, is no part of the first key.
  std::size_t at = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  std::int64_t line = 1;
  bool at_blank_line = false;
  for (;; ++line) {
    const std::size_t first = text.find_first_not_of(" \t", at);
    const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    if (first == std::string::npos && whole_file) break;  // the file ends with blanks, or at a line's end
    if (first < end && !IsLetter(text[first])) break;     // a value line
    if (first >= end && end < text.size()) {              // a blank line: the values begin
      at_blank_line = true;
      break;
    }
    if (end == text.size() && !whole_file) RaiseAtLine(line, name, "the header is longer than 64 KiB");
    reader.Line(line, std::string_view(text).substr(first, end - first));
    at = end + (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    if (at >= text.size() && whole_file) {
      at = text.size();
      ++line;
      break;
    }
  }
  AsciiGridHeader header = reader.Finish(line, at_blank_line);
  header.values_offset = static_cast<std::int64_t>(std::min(at, text.size()));
  return header;
}

AsciiValues::Buffers::Buffers(const AsciiValues& values)
    : text_(values.piece_bytes_ + kMaxNumberBytes + 3), cells_(values.MaxCellsPerPiece()) {}

AsciiValues::AsciiValues(const BinaryFile& file, std::string name, const AsciiGridHeader& header,
                         std::size_t piece_bytes)
    : file_(file),
      name_(std::move(name)),
      begin_(header.values_offset),
      end_(std::max(file.Size(), header.values_offset)),
      first_line_(header.values_line),
      promised_(std::int64_t{header.grid.ncols} * header.grid.nrows),
      piece_bytes_(std::max<std::size_t>(piece_bytes, 2)),
      pieces_((end_ - begin_ + static_cast<std::int64_t>(piece_bytes_) - 1) / static_cast<std::int64_t>(piece_bytes_)) {
}

std::size_t AsciiValues::Parse(std::int64_t piece, Buffers& buffers) const {
  const auto piece_size = static_cast<std::int64_t>(piece_bytes_);
  const std::int64_t start = begin_ + piece * piece_size;
  std::int64_t stop = std::min(start + piece_size, end_);
  // From the byte before the piece (is its first token a continuation?) to the longest number past it.
  const std::int64_t from = piece > 0 ? start - 1 : start;
  const std::int64_t to = std::min(stop + static_cast<std::int64_t>(kMaxNumberBytes) + 1, end_);
  char* const text = buffers.text_.data();
  const std::size_t got = file_.ReadAt(from, text, static_cast<std::size_t>(to - from));
  // A file that shrank since it was opened ends where the read ended.
  const bool at_end = to == end_ || got < static_cast<std::size_t>(to - from);
  stop = std::min(stop, from + static_cast<std::int64_t>(got));
  const char* const text_end = text + got;
  text[got] = '\n';  // every loop below stops at this blank

  const char* p = text;
  if (piece > 0) {
    ++p;
    if (!IsSpace(text[0])) {
      while (!IsSpace(*p)) ++p;  // the rest of a token that an earlier piece holds
    }
  }
  const char* const last_start = text + (stop - from);  // tokens that begin before it are this piece's
  float* const cells = buffers.cells_.data();
  std::size_t count = 0;
  for (;;) {
    while (p < last_start && IsSpace(*p)) ++p;
    if (p >= last_start) break;
    // A short number cannot reach text_end unless the file ends there: the overlap is longer.
    const char* const next = ShortNumber(p, cells[count]);
    if (next != nullptr && IsSpace(*next)) {
      ++count;
      p = next;
      continue;
    }
    const char* end = p;
    while (!IsSpace(*end)) ++end;
    const std::string_view token(p, static_cast<std::size_t>(end - p));
    const NumberText result = end == text_end && !at_end ? NumberText::kNotANumber : LongNumber(token, cells[count]);
    if (result != NumberText::kNumber) {
      buffers.parsed_before_failure_ = count;
      RaiseBadToken(from + (p - text), token, result);
    }
    ++count;
    p = end;
  }
  return count;
}

void AsciiValues::CheckCount(std::int64_t count) const {
  if (count == promised_) return;
  throw EConvertError(name_ + " holds " + std::to_string(count) + " values; its header promises " +
                      std::to_string(promised_));
}

void AsciiValues::RaiseBadToken(std::int64_t offset, std::string_view token, NumberText why) const {
  // Lines end in LF, CR LF or CR: every CR and every LF that does not follow a CR ends one.
  std::int64_t line = first_line_;
  bool after_cr = false;
  std::array<char, 65536> block;
  for (std::int64_t at = begin_; at < offset;) {
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(offset - at, block.size()));
    const std::size_t got = file_.ReadAt(at, block.data(), wanted);
    if (got == 0) break;
    for (std::size_t i = 0; i < got; ++i) {
      if (block[i] == '\r' || (block[i] == '\n' && !after_cr)) ++line;
      after_cr = block[i] == '\r';
    }
    at += static_cast<std::int64_t>(got);
  }
  RaiseAtLine(line, name_, "'" + Shown(token) + "'" + Reason(why));
}

}  // namespace kavrimo
