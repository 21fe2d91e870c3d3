// ASCII letter case, the only case the system folds: a to z and A to Z change, every other byte (the
// letters of an 8-bit code page included) stays as it is. Keys of grid headers and of the settings
// file are matched this way.
#pragma once

#include <string>
#include <string_view>

namespace kavrimo {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

}  // namespace kavrimo
