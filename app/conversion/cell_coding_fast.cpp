// The fast loops of the two passes: the range scan and the byte coding over whole blocks of cells.
//
// Both give exactly what the reference arithmetic of cell_coding.cpp gives, cell for cell. The range
// scan is a plain vector minimum and maximum. The coding decides each byte in the cheapest arithmetic
// that provably gives the reference's byte, and hands the rare undecided cell one level up: a single-
// precision vector estimate (AVX2), then double precision, then CodeCellReference itself. The proofs
// are written beside each level. Vector instructions are chosen at run time, so the program runs on
// any x86-64 processor; without AVX2 the double-precision level runs one cell at a time. The clamped
// coding over a fixed range runs the same levels, with the cells outside the range decided by value.
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "app/conversion/cell_coding.h"
#include "app/conversion/cell_coding_one_by_one.h"
#include "runtime/fp.h"

namespace kavrimo {
namespace {

// ---- The range scan -------------------------------------------------------------------------------
//
// A no-data cell is replaced by +0 before it meets the range: the range includes 0, so +0 is neither
// greater than the maximum nor less than the minimum, and it changes nothing, as skipping it would.
// Each vector lane keeps its own maximum and minimum, replaced only by a strictly greater (less) cell;
// since the range includes 0, no zero of either sign ever replaces an end, and the greatest lane is the
// maximum the one-cell-at-a-time loop finds, to the bit. A NaN anywhere raises, as its no-data
// comparison would, but where NaN cells are the missing ones.

// The cells of v with +0 in place of no-data cells; NaN lanes are added to nan.
__attribute__((target("avx2"), always_inline)) inline __m256 ValidAvx2(__m256 v, __m256 missing, __m256 use_missing,
                                                                       __m256& nan) {
  nan = _mm256_or_ps(nan, _mm256_cmp_ps(v, v, _CMP_UNORD_Q));
  const __m256 is_missing = _mm256_and_ps(_mm256_cmp_ps(v, missing, _CMP_EQ_OQ), use_missing);
  return _mm256_andnot_ps(is_missing, v);
}

__attribute__((target("avx2"))) void ScanAvx2(const float* cells, std::size_t count, CellNoData nodata,
                                              CellRange& range) {
  constexpr std::size_t kStep = 16;  // two vectors per round, two chains of maxima and minima
  const __m256 missing = _mm256_set1_ps(nodata.value);
  const __m256 use_missing = _mm256_castsi256_ps(_mm256_set1_epi32(nodata.possible ? -1 : 0));
  __m256 max0 = _mm256_set1_ps(range.maximum), max1 = max0;
  __m256 min0 = _mm256_set1_ps(range.minimum), min1 = min0;
  __m256 nan = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + kStep <= count; i += kStep) {
    const __m256 a = ValidAvx2(_mm256_loadu_ps(cells + i), missing, use_missing, nan);
    const __m256 b = ValidAvx2(_mm256_loadu_ps(cells + i + 8), missing, use_missing, nan);
    // _mm256_max_ps(x, m) is x > m ? x : m, and _mm256_min_ps(x, m) is x < m ? x : m.
    max0 = _mm256_max_ps(a, max0);
    min0 = _mm256_min_ps(a, min0);
    max1 = _mm256_max_ps(b, max1);
    min1 = _mm256_min_ps(b, min1);
  }
  // Where NaN cells are the missing ones, they changed nothing: max and min keep their second operand.
  if (!nodata.nan && !_mm256_testz_ps(nan, nan)) fp::RaiseInvalidOp();
  alignas(32) float lanes[4][8];
  _mm256_store_ps(lanes[0], max0);
  _mm256_store_ps(lanes[1], max1);
  _mm256_store_ps(lanes[2], min0);
  _mm256_store_ps(lanes[3], min1);
  for (int lane = 0; lane < 8; ++lane) {
    for (int chain = 0; chain < 2; ++chain) {
      if (lanes[chain][lane] > range.maximum) range.maximum = lanes[chain][lane];
      if (lanes[2 + chain][lane] < range.minimum) range.minimum = lanes[2 + chain][lane];
    }
  }
  ScanCellsOneByOne(cells + i, count - i, nodata, range);
}

// ---- The coding in double precision -----------------------------------------------------------------
//
// The reference computes qL = (v - c) / s in extended precision (64-bit significand, two roundings)
// and the byte is the low 8 bits of RoundHalfEven(single(qL)). The fast path computes
// q = (v - c) * r in double precision, r = 1 / s rounded to double (three roundings), and takes the
// low 8 bits of RoundHalfEven(single(q)). The two bytes agree whenever single(q) == single(qL).
//
// Error bound. v, c and s are singles, so every double operand is exact, and no double operation
// overflows or underflows: v - c is 0 or at least 2^-149 and at most 2^129 in magnitude; |s| lies in
// [2^-149, 2^128), so |r| in (2^-128, 2^149]; so |q| lies in [2^-277, 2^278] or is 0. With Q the
// exact (v - c) / s, u = 2^-53 and w = 2^-64:
//   q  = Q (1 + a1)(1 + a2)(1 + a3), |ai| <= u   so |q - Q|  <= (3u + 3u^2 + u^3) |Q|
//   qL = Q (1 + b1)(1 + b2),         |bi| <= w   so |qL - Q| <= (2w + w^2) |Q|
// hence |q - qL| < 3.001 u |Q| < 3.002 u |q|. For 2^e <= |q| < 2^(e+1) the unit in the last place of
// q is 2^(e-52) = 2u 2^e > u |q|, so q and qL lie less than 3.002 ulps of q apart. (q = 0 only when
// v == c, and then qL = 0 too.)
//
// Margin. single(x) changes only where x crosses a midpoint between two neighbouring singles, and at
// a midpoint itself (ties to even). For 2^-126 <= |q|, single's normal range, the midpoints of q's
// binade are exactly the doubles whose low 29 significand bits are 1 followed by 28 zeros; the
// nearest midpoints of the neighbouring binades lie at least 2^27 ulps away. So when the low 29 bits
// of q differ from 2^28 by 16 or more, no midpoint lies within 16 > 3.002 ulps of q, qL lies on the
// same side of every midpoint, and single(q) == single(qL). Cells within the margin (about one in
// 2^24 of ordinary data) go to CodeCellReference. For |q| < 2^-126 both |q| and |qL| are far below
// 0.5, so both bytes are 0 whatever single makes of them.
//
// Range. The byte is computed by converting single(q) to a 32-bit integer in the processor's rounding
// mode, nearest with ties to even as everywhere in this program, which is RoundHalfEven for
// |single(q)| < 2^31. Cells with |q| >= 2^30, an infinite q or a NaN (from a NaN cell) go to the
// reference, which raises or codes them as it always has. No-data cells are never sent there.

constexpr std::uint32_t kMidpointBits = 1u << 28;  // low 29 bits of a double at a single midpoint
constexpr std::uint32_t kLow29 = (1u << 29) - 1;
constexpr std::uint32_t kMarginUlps = 16;
constexpr double kLargestQuotient = 1073741824.0;  // 2^30

struct FastScale {
  FastScale(CellNoData nodata_value, const CellScale& scale)
      : nodata(nodata_value), intercept(scale.intercept), reciprocal(1.0 / static_cast<double>(scale.slope)) {}
  CellNoData nodata;
  double intercept;
  double reciprocal;
};

// Whether a scale can take the fast path: a finite nonzero slope and a finite intercept.
bool FastScaleApplies(const CellScale& scale) {
  return std::isfinite(scale.slope) && scale.slope != 0 && std::isfinite(scale.intercept);
}

bool NearMidpoint(std::uint32_t low_bits) {
  return ((low_bits - (kMidpointBits - kMarginUlps)) & kLow29) < 2 * kMarginUlps;
}

// The whole number that single(q) rounds to, when it is provably that of the reference's quotient too.
bool DecidedInDouble(double q, long& whole) {
  std::uint64_t bits;
  std::memcpy(&bits, &q, sizeof bits);
  if (!(std::fabs(q) < kLargestQuotient) || NearMidpoint(static_cast<std::uint32_t>(bits))) return false;
  whole = std::lrint(static_cast<float>(q));
  return true;
}

std::uint8_t CodeOnePortable(float v, const FastScale& k, const CellScale& scale, CellNoData nodata) {
  if (k.nodata.Matches(v)) return kNoDataByte;
  long whole;
  if (!DecidedInDouble((static_cast<double>(v) - k.intercept) * k.reciprocal, whole)) {
    return CodeCellReference(v, nodata, scale);
  }
  return static_cast<std::uint8_t>(whole & 0xFF);
}

void CodePortable(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale, std::uint8_t* out) {
  const FastScale k(nodata, scale);
  for (std::size_t i = 0; i < count; ++i) out[i] = CodeOnePortable(cells[i], k, scale, nodata);
}

// The clamped coding one cell at a time. Cells outside the range are decided by value, as in the
// reference; inside it the double-precision quotient decides under the proof above: when single(q)
// equals single(qL), their whole numbers and so the clamped codes are equal.
std::uint8_t CodeOneClamped(float v, const FastScale& k, const FixedScale& fixed, OutsideCounts& counts) {
  if (k.nodata.Matches(v)) return kNoDataByte;
  if (v > fixed.range.maximum) {
    ++counts.above;
    return kTopByte;
  }
  if (v < fixed.range.minimum) {
    ++counts.below;
    return 0;
  }
  long whole;
  if (!DecidedInDouble((static_cast<double>(v) - k.intercept) * k.reciprocal, whole)) {
    return CodeCellClampedReference(v, k.nodata, fixed);  // raises for a NaN cell
  }
  return static_cast<std::uint8_t>(std::clamp<long>(whole, 0, kTopByte));
}

void CodeClampedPortable(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                         std::uint8_t* out, OutsideCounts& counts) {
  const FastScale k(nodata, fixed.scale);
  for (std::size_t i = 0; i < count; ++i) out[i] = CodeOneClamped(cells[i], k, fixed, counts);
}

// ---- The coding with AVX2: a single-precision estimate, checked --------------------------------------
//
// Eight cells per vector instruction instead of four: q~ = fma(v, r~, b~) in single precision, with
// r~ = single(1 / s) and b~ = single(-c / s) (each through double, so within e = 2^-24 (1 + 2^-28) of
// the exact value, plus 2^-149 for a denormal b~). The byte is the nearest integer n to q~ when q~ is
// far enough from every tie n +- 0.5; otherwise the cell goes to the exact double-precision coding above.
//
// Error bound. The block takes this path only when |b~| <= 256 (scales from a range that includes 0
// have -c / s between 0 and 253). A cell stays on it only when 0 <= n <= 253 and |q~ - n| <= 0.5 - 2^-12,
// so |q~| < 253.5. With Q = v / s - c / s exact and x the exact v r~ + b~ that the fma rounds once:
//   |x - Q| <= e (|v / s| + |c / s|) + 2^-149,    |q~ - x| <= 2^-24 |x| + 2^-150,
// and |x| < 253.6, |c / s| < 256.1, |v / s| <= |x| + |x - Q| + |c / s| < 510, so
//   |q~ - Q| < 2^-24 (1 + 2^-27) (510 + 256.1 + 253.6) < 2^-14.
// The reference's qL lies within 2^-62 |Q| < 2^-54 of Q, and its rounding to single moves it by at most
// half a unit in the last place, 2^-17 below 256. So single(qL) lies within 2^-14 + 2^-54 + 2^-17 < 2^-13
// of q~, and with |q~ - n| <= 0.5 - 2^-12 it lies strictly between n - 0.5 and n + 0.5: the reference's
// RoundHalfEven gives n too. About one cell in 2^11 falls within 2^-12 of a tie and takes the double path.
// NaN and infinite cells give a NaN or infinite q~, whose n (0x80000000) is out of 0..253.

constexpr float kTieMargin = 1.0f / 4096;  // 2^-12
constexpr float kLargestInterceptRatio = 256;

struct SingleScale {
  explicit SingleScale(const CellScale& scale)
      : reciprocal(static_cast<float>(1.0 / static_cast<double>(scale.slope))),
        offset(static_cast<float>(-static_cast<double>(scale.intercept) / static_cast<double>(scale.slope))) {}
  // A denormal slope has no single reciprocal; an intercept far from 0 breaks the bound above.
  bool Applies() const { return std::isnormal(reciprocal) && std::fabs(offset) <= kLargestInterceptRatio; }
  float reciprocal;
  float offset;
};

// Eight cells: their bytes (255 for no-data, valid only where the cell is not flagged) in 32-bit lanes,
// and the flags of the cells the estimate cannot decide. The clamped coding also flags the valid cells
// above and below the fixed range, whose bytes (253 and 0) are decided by value.
struct Estimate {
  __m256i bytes;
  __m256i undecided;
  __m256 above;
  __m256 below;
};

// The ends of a fixed range in every lane.
struct RangeLanes {
  __m256 maximum;
  __m256 minimum;
};

template <bool kClamped>
__attribute__((target("avx2,fma"), always_inline)) inline Estimate EstimateAvx2(const float* cells, __m256 reciprocal,
                                                                                __m256 offset, __m256 missing,
                                                                                __m256 use_missing, RangeLanes range) {
  const __m256 half_minus_margin = _mm256_set1_ps(0.5f - kTieMargin);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  const __m256i top = _mm256_set1_epi32(static_cast<int>(0x80000000u) + kTopByte);
  const __m256i no_data_byte = _mm256_set1_epi32(kNoDataByte);

  const __m256 v = _mm256_loadu_ps(cells);
  const __m256 q = _mm256_fmadd_ps(v, reciprocal, offset);
  const __m256 nearest = _mm256_round_ps(q, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256i n = _mm256_cvttps_epi32(nearest);
  const __m256 near_tie =
      _mm256_cmp_ps(_mm256_and_ps(_mm256_sub_ps(q, nearest), magnitude), half_minus_margin, _CMP_GT_OQ);
  const __m256i outside = _mm256_cmpgt_epi32(_mm256_xor_si256(n, sign), top);  // n unsigned > 253
  const __m256 is_missing = _mm256_and_ps(_mm256_cmp_ps(v, missing, _CMP_EQ_OQ), use_missing);
  Estimate e{
      _mm256_blendv_epi8(n, no_data_byte, _mm256_castps_si256(is_missing)),
      _mm256_andnot_si256(_mm256_castps_si256(is_missing), _mm256_or_si256(_mm256_castps_si256(near_tie), outside)),
      _mm256_setzero_ps(), _mm256_setzero_ps()};
  if constexpr (kClamped) {
    // Ordered comparisons: a NaN cell is neither, stays undecided and raises on the exact path.
    e.above = _mm256_andnot_ps(is_missing, _mm256_cmp_ps(v, range.maximum, _CMP_GT_OQ));
    e.below = _mm256_andnot_ps(is_missing, _mm256_cmp_ps(v, range.minimum, _CMP_LT_OQ));
    e.bytes = _mm256_blendv_epi8(e.bytes, _mm256_set1_epi32(kTopByte), _mm256_castps_si256(e.above));
    e.bytes = _mm256_blendv_epi8(e.bytes, _mm256_setzero_si256(), _mm256_castps_si256(e.below));
    e.undecided = _mm256_andnot_si256(_mm256_castps_si256(_mm256_or_ps(e.above, e.below)), e.undecided);
  }
  return e;
}

__attribute__((target("avx2"), always_inline)) inline std::uint32_t Lanes(__m256i flags) {
  return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(flags)));
}

__attribute__((target("avx2"), always_inline)) inline std::uint32_t Lanes(__m256 flags) {
  return static_cast<std::uint32_t>(_mm256_movemask_ps(flags));
}

// The wrapping coding (clamped unset) or the clamped coding over fixed, which adds to counts. The
// estimate decides a cell only where the proof above holds for it; clamping changes nothing for those
// cells, whose n lies in 0..253 already.
template <bool kClamped>
__attribute__((target("avx2,fma"))) void CodeAvx2(const float* cells, std::size_t count, CellNoData nodata,
                                                  const FixedScale& fixed, std::uint8_t* out, OutsideCounts& counts) {
  const CellScale& scale = fixed.scale;
  const FastScale exact(nodata, scale);
  const auto one_cell = [&](float v) {
    if constexpr (kClamped) {
      return CodeOneClamped(v, exact, fixed, counts);
    } else {
      return CodeOnePortable(v, exact, scale, nodata);
    }
  };
  const SingleScale single(scale);
  if (!single.Applies()) {
    for (std::size_t i = 0; i < count; ++i) out[i] = one_cell(cells[i]);
    return;
  }
  const __m256 reciprocal = _mm256_set1_ps(single.reciprocal);
  const __m256 offset = _mm256_set1_ps(single.offset);
  const __m256 missing = _mm256_set1_ps(exact.nodata.value);
  const __m256 use_missing = _mm256_castsi256_ps(_mm256_set1_epi32(exact.nodata.possible ? -1 : 0));
  const RangeLanes range{_mm256_set1_ps(fixed.range.maximum), _mm256_set1_ps(fixed.range.minimum)};
  // Packing 32 lanes of 0..255 to bytes interleaves the 128-bit halves; this puts them back in order.
  const __m256i in_order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);

  std::size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const Estimate a = EstimateAvx2<kClamped>(cells + i, reciprocal, offset, missing, use_missing, range);
    const Estimate b = EstimateAvx2<kClamped>(cells + i + 8, reciprocal, offset, missing, use_missing, range);
    const Estimate c = EstimateAvx2<kClamped>(cells + i + 16, reciprocal, offset, missing, use_missing, range);
    const Estimate d = EstimateAvx2<kClamped>(cells + i + 24, reciprocal, offset, missing, use_missing, range);
    const __m256i words =
        _mm256_packus_epi16(_mm256_packus_epi32(a.bytes, b.bytes), _mm256_packus_epi32(c.bytes, d.bytes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permutevar8x32_epi32(words, in_order));
    if constexpr (kClamped) {
      counts.above += std::popcount(Lanes(a.above) | Lanes(b.above) << 8 | Lanes(c.above) << 16 | Lanes(d.above) << 24);
      counts.below += std::popcount(Lanes(a.below) | Lanes(b.below) << 8 | Lanes(c.below) << 16 | Lanes(d.below) << 24);
    }
    const __m256i undecided =
        _mm256_or_si256(_mm256_or_si256(a.undecided, b.undecided), _mm256_or_si256(c.undecided, d.undecided));
    if (!_mm256_testz_si256(undecided, undecided)) {
      // Rare: the undecided cells in order, so that the first one that raises raises first (decided
      // cells never raise). Undecided cells lie inside a fixed range, so they add to no count.
      std::uint32_t flags =
          Lanes(a.undecided) | Lanes(b.undecided) << 8 | Lanes(c.undecided) << 16 | Lanes(d.undecided) << 24;
      for (; flags != 0; flags &= flags - 1) {
        const std::size_t j = i + static_cast<std::size_t>(__builtin_ctz(flags));
        out[j] = one_cell(cells[j]);
      }
    }
  }
  for (; i < count; ++i) out[i] = one_cell(cells[i]);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

}  // namespace

// The vector code finds missing cells by one comparison with the no-data value; where NaN cells are the
// missing ones, the scan's maxima and minima pass them by and the coding leaves them to the exact path
// (its n is out of 0..253), which asks CellNoData::Matches.
void ScanCells(const float* cells, std::size_t count, CellNoData nodata, CellRange& range, CellPath path) {
  if (path == CellPath::Best && HasAvx2()) {
    ScanAvx2(cells, count, nodata, range);
  } else {
    ScanCellsOneByOne(cells, count, nodata, range);
  }
}

void CodeCells(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale, std::uint8_t* out,
               CellPath path) {
  if (!FastScaleApplies(scale)) {
    // A slope of 0 (every valid cell is 0) or an infinite scale: rare, and cheap in the reference.
    CodeCellsOneByOne(cells, count, nodata, scale, out);
  } else if (path == CellPath::Best && HasAvx2()) {
    OutsideCounts unused;
    CodeAvx2<false>(cells, count, nodata, FixedScale{scale, {}}, out, unused);
  } else {
    CodePortable(cells, count, nodata, scale, out);
  }
}

void CodeCellsClamped(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                      std::uint8_t* out, OutsideCounts& counts, CellPath path) {
  if (!FastScaleApplies(fixed.scale)) {
    // A slope of 0, from a range narrower than 253 times the smallest single.
    CodeCellsClampedOneByOne(cells, count, nodata, fixed, out, counts);
  } else if (path == CellPath::Best && HasAvx2()) {
    CodeAvx2<true>(cells, count, nodata, fixed, out, counts);
  } else {
    CodeClampedPortable(cells, count, nodata, fixed, out, counts);
  }
}

}  // namespace kavrimo
