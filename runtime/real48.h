// Real48: the six-byte real of the image header.
//
// Byte 0 is a biased exponent (bias 129, 0 meaning the value 0 whatever the other bytes hold);
// bytes 1 to 5 a 39-bit fraction, least significant byte first; bit 7 of byte 5 the sign.
// Value = (-1)^sign * 2^(e-129) * (1 + f/2^39). Finite range 2^-128 to just below 2^127; no infinity,
// NaN or subnormal. A Real48 object always holds a value that the format represents exactly.
#pragma once

#include <array>
#include <cstdint>

namespace kavrimo {

class Real48 {
 public:
  using Bytes = std::array<std::uint8_t, 6>;

  constexpr Real48() = default;

  // Decodes six bytes; exact.
  static Real48 FromBytes(const Bytes& bytes);
  // The nearest Real48: the fraction rounded to 39 bits, ties away from zero; a carry out of the
  // fraction raises the exponent; magnitudes below 2^-128 become 0. A magnitude of 2^127 or more, an
  // infinity or a NaN raises EOverflow ("Floating point overflow").
  static Real48 Round(long double value);

  Bytes ToBytes() const;
  double Value() const { return value_; }
  long double Extended() const { return value_; }

  friend bool operator==(Real48 a, Real48 b) { return a.value_ == b.value_; }

 private:
  explicit constexpr Real48(double exact) : value_(exact) {}
  double value_ = 0.0;
};

}  // namespace kavrimo
