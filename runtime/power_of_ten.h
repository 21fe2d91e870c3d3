// Scaling an 80-bit real by a power of ten in at most three correctly rounded steps, as the number
// text routines read and write decimal exponents.
#pragma once

#include <cstdint>

namespace kavrimo {

// value × 10^n for n >= 0, value ÷ 10^-n for n < 0. The power is split into 10^(|n| mod 32),
// 10^(32 × ((|n| div 32) mod 16)) and 10^(512 × (|n| div 512)), applied in that order, each the
// correctly rounded 80-bit value of that power; a step with 10^0 is skipped. For |n| >= 5120 the
// value is multiplied by infinity (n > 0) or divided by it (n < 0). Raises nothing: an overflow
// gives infinity, 0 × infinity a NaN, which the caller checks.
long double ScaleByPowerOfTen(long double value, std::int64_t n);

}  // namespace kavrimo
