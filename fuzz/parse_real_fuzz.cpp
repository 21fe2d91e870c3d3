// Fuzz target: ParseReal on arbitrary text, and FormatReal on the value read and on arbitrary 80-bit
// patterns. Checks: acceptance follows a plain second reading of the real grammar; an accepted value
// is the one the C library reads, to well within the 15 digits shown; a rejected text carries its
// exact message; no floating-point flag leaks out; FormatReal's text reads back as the same value.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Spaces, sign, digits with an optional ".", an optional exponent whose digits are read while it is
// below 500, spaces, end. scale receives the exponent less the number of fraction digits.
bool Grammatical(std::string_view text, long& scale) {
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (at(i) == ' ') ++i;
  if (at(i) == '+' || at(i) == '-') ++i;
  bool mantissa = false;
  long fraction_digits = 0;
  while (IsDigit(at(i))) ++i, mantissa = true;
  if (at(i) == '.') {
    ++i;
    mantissa = true;
    while (IsDigit(at(i))) ++i, ++fraction_digits;
  }
  if (!mantissa) return false;
  long exponent = 0;
  if (at(i) == 'e' || at(i) == 'E') {
    ++i;
    const bool negative = at(i) == '-';
    if (at(i) == '+' || at(i) == '-') ++i;
    for (; IsDigit(at(i)) && exponent < 500; ++i) exponent = exponent * 10 + (at(i) - '0');
    if (negative) exponent = -exponent;
  }
  scale = exponent - fraction_digits;
  while (at(i) == ' ') ++i;
  return i == text.size() && text.find('\0') == std::string_view::npos;
}

// The C library's reading, "E" with no digits taken as exponent 0.
long double Library(std::string text) {
  const std::size_t e = text.find_first_of("eE");
  if (e != std::string::npos) {
    std::size_t k = e + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (k >= text.size() || !IsDigit(text[k])) text.insert(k, "0");
  }
  const std::size_t dot = text.find('.');
  if (dot != std::string::npos && (dot + 1 >= text.size() || !IsDigit(text[dot + 1]))) text.insert(dot + 1, "0");
  return std::strtold(text.c_str(), nullptr);
}

void CheckNoFlags(const char* what, std::string_view text) {
  kavrimo::fuzz::Check(std::fetestexcept(FE_ALL_EXCEPT) == 0, what, text);
}

void CheckFormat(long double value, bool canonical = true) {
  using namespace kavrimo;
  std::feclearexcept(FE_ALL_EXCEPT);
  const std::string text = FormatReal(value);
  fuzz::Check(!text.empty() && text.size() <= 24, "FormatReal gave an odd text:", text);
  if (text == "NAN" || text == "INF" || text == "-INF") {
    fuzz::Check(!canonical || !std::isfinite(value), "FormatReal called a finite value", text);
    return;
  }
  fuzz::Check(text.find_first_not_of("0123456789.-E") == std::string::npos, "FormatReal wrote", text);
  if (!canonical || !std::isnormal(value) || std::fabs(value) > 1e4900L) return;
  long double back = 0;
  try {
    back = ParseReal(text);
  } catch (const Error&) {
    fuzz::Finding("FormatReal's text does not read back:", text);
  }
  const long double error = std::fabs(back - value) / std::fabs(value);
  fuzz::Check(error <= 6e-15L, "FormatReal's text reads back as another value:", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  const std::string text(reinterpret_cast<const char*>(data), size);
  long scale = 0;
  const bool grammatical = Grammatical(text, scale);
  std::feclearexcept(FE_ALL_EXCEPT);
  try {
    const long double value = ParseReal(text);
    CheckNoFlags("ParseReal left a floating-point flag raised:", text);
    fuzz::Check(grammatical, "ParseReal accepted a text the grammar rejects:", text);
    fuzz::Check(std::isfinite(value), "ParseReal gave a value that is not finite:", text);
    // A division by 10 to the 5120th or more gives zero outright, whatever the digits.
    const long double expected = scale <= -5120 ? 0.0L : Library(text);
    // Each digit and each of the three scaling steps may round once, by half a unit in the last place.
    const long double tolerance = static_cast<long double>(size + 8) * 0x1p-63L;
    const long double error = std::fabs(value - expected);
    fuzz::Check(error <= tolerance * std::fabs(expected) || error < 1e-4930L, "ParseReal misread", text);
    CheckFormat(value);
  } catch (const EConvertError& e) {
    CheckNoFlags("ParseReal left a floating-point flag raised:", text);
    fuzz::Check(e.Message() == fuzz::AsMessage("'" + text + "' is not a valid floating point value"),
                "wrong message:", e.Message());
    // A grammatical text is refused only when its value lies beyond the 80-bit range.
    if (grammatical) fuzz::Check(!(std::fabs(Library(text)) < 1e4931L), "ParseReal refused a real:", text);
  } catch (const std::exception& e) {
    fuzz::Finding("ParseReal raised something other than EConvertError:", e.what());
  }
  if (size >= 10) {
    // Any 80-bit pattern; those the arithmetic never makes (the integer bit not set exactly when the
    // exponent field is nonzero) need only give a sane text.
    long double pattern = 0;
    std::memcpy(&pattern, data, 10);
    const bool integer_bit = (data[7] & 0x80) != 0;
    const bool exponent_zero = (data[9] & 0x7F) == 0 && data[8] == 0;
    const bool canonical = integer_bit != exponent_zero;
    CheckFormat(pattern, canonical);
  }
  return 0;
}
