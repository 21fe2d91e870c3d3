#include "runtime/real48.h"

#include <cmath>

#include "runtime/fp.h"

namespace kavrimo {
namespace {
constexpr int kBias = 129;
constexpr int kFractionBits = 39;
}  // namespace

Real48 Real48::FromBytes(const Bytes& b) {
  if (b[0] == 0) return Real48();
  const std::uint64_t fraction = (std::uint64_t{b[5] & 0x7Fu} << 32) | (std::uint64_t{b[4]} << 24) |
                                 (std::uint64_t{b[3]} << 16) | (std::uint64_t{b[2]} << 8) | b[1];
  const double magnitude =
      std::ldexp(static_cast<double>((std::uint64_t{1} << kFractionBits) | fraction), b[0] - kBias - kFractionBits);
  return Real48((b[5] & 0x80) ? -magnitude : magnitude);
}

Real48 Real48::Round(long double value) {
  if (std::isnan(value) || std::isinf(value)) fp::RaiseOverflow();
  if (value == 0.0L) return Real48();
  int exponent = 0;
  // |value| = significand * 2^exponent, significand in [2^63, 2^64): all 64 bits of the extended type.
  const long double fraction = std::frexp(std::fabs(value), &exponent);
  const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
  // Keep the leading bit and 39 fraction bits; the first dropped bit rounds away from zero.
  std::uint64_t kept = significand >> 24;
  if ((significand >> 23) & 1u) ++kept;
  int e = exponent - 1 + kBias;
  if (kept >> (kFractionBits + 1)) {  // the fraction overflowed into a new leading bit
    kept >>= 1;
    ++e;
  }
  if (e <= 0) return Real48();
  if (e >= 256) fp::RaiseOverflow();
  const double magnitude = std::ldexp(static_cast<double>(kept), e - kBias - kFractionBits);
  return Real48(value < 0 ? -magnitude : magnitude);
}

Real48::Bytes Real48::ToBytes() const {
  Bytes b{};
  if (value_ == 0.0) return b;
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value_), &exponent);
  const auto kept = static_cast<std::uint64_t>(std::ldexp(fraction, kFractionBits + 1));  // exact
  const std::uint64_t f = kept & ((std::uint64_t{1} << kFractionBits) - 1);
  b[0] = static_cast<std::uint8_t>(exponent - 1 + kBias);
  for (int i = 1; i <= 5; ++i) b[i] = static_cast<std::uint8_t>(f >> (8 * (i - 1)));
  if (value_ < 0) b[5] |= 0x80;
  return b;
}

}  // namespace kavrimo
