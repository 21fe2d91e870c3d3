// Keys and texts are escaped by nlohmann-json; the numbers are written here, since that library's
// floating-point text is not always the shortest (0.00615812 comes out as 0.0061581199999999996) and
// never writes a large whole number in decimal form, as this object always has.
#include "app/cli/json_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace kavrimo::cli {
namespace {

constexpr double kLargestExactWhole = 9007199254740992.0;  // 2^53

// Latin-1 bytes as UTF-8, the encoding JSON texts are in.
std::string Utf8FromLatin1(const std::string& bytes) {
  std::string text;
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x80) {
      text += byte;
    } else {
      text += static_cast<char>(0xc0 | (code >> 6));
      text += static_cast<char>(0x80 | (code & 0x3f));
    }
  }
  return text;
}

}  // namespace

std::string JsonNumberText(double value) {
  if (!std::isfinite(value)) return "null";
  if (value == std::trunc(value) && std::fabs(value) <= kLargestExactWhole) {
    return std::to_string(static_cast<long long>(value));
  }
  // The shortest digits, from "d.ddde+XX": digits holds d ddd, point the place of the decimal point
  // counted from the first digit.
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = scientific.find('e');
  std::string digits(scientific.substr(0, e));
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  const int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());
  const int point = exponent + 1;
  const int count = static_cast<int>(digits.size());
  // The exponent form adds "e+XX" and, with more than one digit, a point.
  const int exponent_cost = 4 + (count > 1 ? 1 : 0);

  std::string text = value < 0 ? "-" : "";
  if (point <= 0 && 2 - point <= exponent_cost) {
    text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point > 0 && point < count) {
    text += digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
  } else if (point >= count && point - count <= exponent_cost) {
    text += digits + std::string(static_cast<std::size_t>(point - count), '0');
  } else {
    text += digits.substr(0, 1);
    if (count > 1) text += "." + digits.substr(1);
    const std::string magnitude = std::to_string(std::abs(exponent));
    text += std::string(exponent < 0 ? "e-" : "e+") + (magnitude.size() < 2 ? "0" : "") + magnitude;
  }
  return text;
}

std::string JsonObjectText(std::vector<std::pair<std::string, JsonValue>> members) {
  std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string text = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto& [key, value] = members[i];
    text += "    " + nlohmann::json(Utf8FromLatin1(key)).dump() + ": ";
    if (const auto* string = std::get_if<std::string>(&value)) {
      text += nlohmann::json(Utf8FromLatin1(*string)).dump();
    } else {
      text += JsonNumberText(std::get<double>(value));
    }
    text += i + 1 < members.size() ? ",\n" : "\n";
  }
  return text + "}\n";
}

}  // namespace kavrimo::cli
