// The text of info --json: one JSON object, its keys in byte order, four blanks of indentation a level,
// as readers of the command's output have always received it.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kavrimo::cli {

// A number as the object writes it: "null" when it is not finite; a whole number of at most 2^53 in
// magnitude as an integer ("-0" as "0"); any other as its shortest round-trip digits, in decimal or
// exponent form (at least two exponent digits, "1e-05") whichever is shorter, decimal on a tie.
std::string JsonNumberText(double value);

// A member's value: a text (its bytes taken as Latin-1 characters) or a number.
using JsonValue = std::variant<std::string, double>;

// The object of the members given, sorted by key, ending in a line break.
std::string JsonObjectText(std::vector<std::pair<std::string, JsonValue>> members);

}  // namespace kavrimo::cli
