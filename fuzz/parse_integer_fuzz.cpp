// Fuzz target: ParseInteger on arbitrary text, checked against a plain second reading of the integer
// rules (decimal or "$"/"x"/"0x" hexadecimal after spaces, 32 bits) and for its exact failure message.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace {

int DigitValue(char c, int base) {
  int value = 99;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

std::optional<std::int32_t> Reference(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  int base = 10;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return std::nullopt;
    if (value > (base == 10 ? 214748364 : 0x0FFFFFFF)) return std::nullopt;
    value = value * base + digit;
  }
  if (base == 16) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::int32_t> expected = Reference(text);
  try {
    const std::int32_t value = ParseInteger(text);
    fuzz::Check(expected.has_value(), "ParseInteger accepted a text the rules reject:", text);
    fuzz::Check(value == *expected, "ParseInteger gave the wrong value for", text);
  } catch (const EConvertError& e) {
    fuzz::Check(!expected.has_value(), "ParseInteger rejected a valid integer:", text);
    fuzz::Check(e.Message() == fuzz::AsMessage("'" + text + "' is not a valid integer value"),
                "wrong message:", e.Message());
  } catch (const std::exception& e) {
    fuzz::Finding("ParseInteger raised something other than EConvertError:", e.what());
  }
  return 0;
}
