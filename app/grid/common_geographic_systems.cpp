// The common geographic systems, each with the name PROJ's database gives it, in degrees (pi / 180
// radians, to the last bit as PROJ gives it) from Greenwich.
#include "app/grid/common_geographic_systems.h"

#include <algorithm>
#include <array>
#include <numbers>
#include <string_view>

namespace kavrimo {
namespace {

struct Row {
  int code;
  std::string_view name;
};

constexpr std::array kRows{
    Row{4326, "WGS 84"},      Row{4269, "NAD83"},   Row{4258, "ETRS89"},      Row{4267, "NAD27"},
    Row{4283, "GDA94"},       Row{7844, "GDA2020"}, Row{4674, "SIRGAS 2000"}, Row{4617, "NAD83(CSRS)"},
    Row{6318, "NAD83(2011)"}, Row{4230, "ED50"},    Row{4322, "WGS 72"},      Row{4167, "NZGD2000"},
    Row{4612, "JGD2000"},     Row{6668, "JGD2011"},
};

constexpr std::array kCodes = [] {
  std::array<int, kRows.size()> codes{};
  std::ranges::transform(kRows, codes.begin(), &Row::code);
  return codes;
}();

}  // namespace

std::optional<GeographicSystem> CommonGeographicSystem(int code) {
  const auto row = std::ranges::find(kRows, code, &Row::code);
  if (row == kRows.end()) return std::nullopt;
  GeographicSystem system;
  system.code = code;
  system.name = row->name;
  system.unit_radians = std::numbers::pi / 180;
  system.unit_name = "degree";
  system.prime_meridian = "Greenwich";
  system.prime_meridian_radians = 0;
  return system;
}

std::span<const int> CommonGeographicCodes() { return kCodes; }

}  // namespace kavrimo
