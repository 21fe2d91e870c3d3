// Coarse means four blocks at a time: in the lanes of AVX2 vectors where the processor has them (one
// gather of a fine cell from each block per step), else in four scalar sums.
#include "app/conversion/mosaic_coarsening.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <limits>

namespace kavrimo {
namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();

double Valid(float v) { return v == v ? static_cast<double>(v) : 0.0; }
float Mean(double sum, std::int64_t count) {
  return count == 0 ? kMissing : static_cast<float>(sum / static_cast<double>(count));
}

// Blocks [c, cols) one at a time.
void CoarsenEach(const float* fine, std::int64_t stride, std::int64_t k, std::int64_t c, std::int64_t cols,
                 float* coarse) {
  for (; c < cols; ++c) {
    double sum = 0;
    std::int64_t count = 0;
    for (std::int64_t r = 0; r < k; ++r) {
      const float* cells = fine + r * stride + c * k;
      for (std::int64_t i = 0; i < k; ++i) {
        sum += Valid(cells[i]);
        count += cells[i] == cells[i];
      }
    }
    coarse[c] = Mean(sum, count);
  }
}

// Four blocks side by side in scalar sums; returns the first block not done.
std::int64_t CoarsenFours(const float* fine, std::int64_t stride, std::int64_t k, std::int64_t cols, float* coarse) {
  std::int64_t c = 0;
  for (; c + 4 <= cols; c += 4) {
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::int64_t n0 = 0, n1 = 0, n2 = 0, n3 = 0;
    for (std::int64_t r = 0; r < k; ++r) {
      const float* cells = fine + r * stride + c * k;
      for (std::int64_t i = 0; i < k; ++i) {
        const float a = cells[i], b = cells[k + i], d = cells[2 * k + i], e = cells[3 * k + i];
        s0 += Valid(a);
        s1 += Valid(b);
        s2 += Valid(d);
        s3 += Valid(e);
        n0 += a == a;
        n1 += b == b;
        n2 += d == d;
        n3 += e == e;
      }
    }
    coarse[c] = Mean(s0, n0);
    coarse[c + 1] = Mean(s1, n1);
    coarse[c + 2] = Mean(s2, n2);
    coarse[c + 3] = Mean(s3, n3);
  }
  return c;
}

#if defined(__x86_64__)
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Four blocks in the lanes of one vector, eight in two; returns the first block not done. Invalid cells
// add +0, as the scalar sums do, so each lane's sum is the scalar one.
__attribute__((target("avx2"))) std::int64_t CoarsenAvx2(const float* fine, std::int64_t stride, std::int64_t k,
                                                         std::int64_t cols, float* coarse) {
  const auto step = static_cast<int>(k);
  const __m128i across = _mm_setr_epi32(0, step, 2 * step, 3 * step);
  std::int64_t c = 0;
  for (; c + 4 <= cols; c += 4) {
    __m256d sum = _mm256_setzero_pd();
    __m256i count = _mm256_setzero_si256();
    for (std::int64_t r = 0; r < k; ++r) {
      const float* cells = fine + r * stride + c * k;
      for (std::int64_t i = 0; i < k; ++i) {
        const __m256d v = _mm256_cvtps_pd(_mm_i32gather_ps(cells + i, across, 4));
        const __m256d valid = _mm256_cmp_pd(v, v, _CMP_ORD_Q);
        sum = _mm256_add_pd(sum, _mm256_and_pd(v, valid));
        count = _mm256_sub_epi64(count, _mm256_castpd_si256(valid));
      }
    }
    alignas(32) double sums[4];
    alignas(32) std::int64_t counts[4];
    _mm256_store_pd(sums, sum);
    _mm256_store_si256(reinterpret_cast<__m256i*>(counts), count);
    for (int j = 0; j < 4; ++j) coarse[c + j] = Mean(sums[j], counts[j]);
  }
  return c;
}

// Four blocks' sums and counts of valid cells in the lanes of vectors, and the NaN cells seen.
struct Lanes {
  __m128 value, nan, nans;
  bool possible;

  __attribute__((target("avx2"))) void Add(__m128 x, __m256d& sum, __m256i& count) {
    nans = _mm_or_ps(nans, _mm_cmpunord_ps(x, x));
    if (possible) x = _mm_blendv_ps(x, nan, _mm_cmpeq_ps(x, value));
    const __m256d v = _mm256_cvtps_pd(x);
    const __m256d valid = _mm256_cmp_pd(v, v, _CMP_ORD_Q);
    sum = _mm256_add_pd(sum, _mm256_and_pd(v, valid));
    count = _mm256_sub_epi64(count, _mm256_castpd_si256(valid));
  }
};

// Adds whole blocks [c, end) of a fine row (cells: block c's first cell) four at a time, each lane one
// block's cells in order; returns the first block not done. Missing cells are made NaN before they add.
__attribute__((target("avx2"))) std::int64_t AccumulateAvx2(const float* cells, std::int64_t c, std::int64_t end,
                                                            std::int64_t k, CellNoData nodata, double* sums,
                                                            std::int64_t* counts, bool& invalid) {
  const auto step = static_cast<int>(k);
  const __m128i across = _mm_setr_epi32(0, step, 2 * step, 3 * step);
  Lanes lanes{_mm_set1_ps(nodata.value), _mm_set1_ps(kMissing), _mm_setzero_ps(), nodata.possible};
  for (; c + 4 <= end; c += 4, cells += 4 * k) {
    __m256d sum = _mm256_loadu_pd(sums + c);
    __m256i count = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + c));
    std::int64_t i = 0;
    for (; i + 4 <= k; i += 4) {
      __m128 a = _mm_loadu_ps(cells + i), b = _mm_loadu_ps(cells + k + i);
      __m128 d = _mm_loadu_ps(cells + 2 * k + i), e = _mm_loadu_ps(cells + 3 * k + i);
      _MM_TRANSPOSE4_PS(a, b, d, e);  // a: each block's cell i, b: its cell i + 1, ...
      lanes.Add(a, sum, count);
      lanes.Add(b, sum, count);
      lanes.Add(d, sum, count);
      lanes.Add(e, sum, count);
    }
    for (; i < k; ++i) lanes.Add(_mm_i32gather_ps(cells + i, across, 4), sum, count);
    _mm256_storeu_pd(sums + c, sum);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(counts + c), count);
  }
  invalid = invalid || (!nodata.nan && _mm_movemask_ps(lanes.nans) != 0);
  return c;
}

// CoarseMeans four blocks at a time; returns the first block not done. A count below 2^52 becomes a
// double exactly as its bits under those of 2^52, less 2^52; a lane without a valid cell is NaN.
__attribute__((target("avx2"))) std::int64_t MeansAvx2(const double* sums, const std::int64_t* counts,
                                                       std::int64_t cols, float* coarse) {
  const __m256i exponent = _mm256_set1_epi64x(0x4330000000000000);  // the bits of 2^52
  const __m256d two52 = _mm256_set1_pd(4503599627370496.0);
  const __m256i below = _mm256_set1_epi64x(~std::int64_t{0} << 52);
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  std::int64_t c = 0;
  for (; c + 4 <= cols; c += 4) {
    const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + c));
    if (!_mm256_testz_si256(n, below)) break;  // a count of 2^52 or more: the scalar way
    const __m256d count = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(n, exponent)), two52);
    const __m128 mean = _mm256_cvtpd_ps(_mm256_div_pd(_mm256_loadu_pd(sums + c), count));
    const __m256i none = _mm256_cmpeq_epi64(n, _mm256_setzero_si256());
    const __m128 none_lanes = _mm_castsi128_ps(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(none, low_halves)));
    _mm_storeu_ps(coarse + c, _mm_blendv_ps(mean, _mm_set1_ps(kMissing), none_lanes));
  }
  return c;
}
#endif

// Adds cells [0, n) of block c's fine cells from its cell first on, one at a time.
bool AccumulateEach(const float* cells, std::int64_t n, CellNoData nodata, double& sum, std::int64_t& count) {
  int invalid = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const float v = cells[i];
    invalid |= static_cast<int>(v != v);
    const float marked = nodata.possible && v == nodata.value ? kMissing : v;
    sum += Valid(marked);
    count += marked == marked;
  }
  return invalid != 0 && !nodata.nan;
}

}  // namespace

bool AccumulateCoarse(const float* cells, std::int64_t n, std::int64_t col, std::int64_t k, CellNoData nodata,
                      double* sums, std::int64_t* counts, CellPath path) {
  bool invalid = false;
  std::int64_t c = col / k, at = 0;
  if (col % k != 0) {  // the rest of a block begun in an earlier run
    const std::int64_t part = std::min(n, k - col % k);
    invalid = AccumulateEach(cells, part, nodata, sums[c], counts[c]);
    at = part;
    ++c;
  }
  const std::int64_t end = c + (n - at) / k;  // blocks whole in this run
#if defined(__x86_64__)
  if (path == CellPath::Best && HasAvx2() && k <= (std::int64_t{1} << 28)) {
    const std::int64_t done = AccumulateAvx2(cells + at, c, end, k, nodata, sums, counts, invalid);
    at += (done - c) * k;
    c = done;
  }
#endif
  for (; at < n; ++c) {
    const std::int64_t part = std::min(n - at, k);
    invalid = AccumulateEach(cells + at, part, nodata, sums[c], counts[c]) || invalid;
    at += part;
  }
  return invalid;
}

void CoarseMeans(const double* sums, const std::int64_t* counts, std::int64_t cols, float* coarse, CellPath path) {
  std::int64_t c = 0;
#if defined(__x86_64__)
  if (path == CellPath::Best && HasAvx2()) c = MeansAvx2(sums, counts, cols, coarse);
#endif
  for (; c < cols; ++c) coarse[c] = Mean(sums[c], counts[c]);
}

void CoarsenRows(const float* fine, std::int64_t stride, std::int64_t k, std::int64_t cols, float* coarse,
                 CellPath path) {
#if defined(__x86_64__)
  // The gather's offsets are 32-bit: three blocks of k cells must fit.
  if (path == CellPath::Best && HasAvx2() && k <= (std::int64_t{1} << 28)) {
    CoarsenEach(fine, stride, k, CoarsenAvx2(fine, stride, k, cols, coarse), cols, coarse);
    return;
  }
#endif
  CoarsenEach(fine, stride, k, CoarsenFours(fine, stride, k, cols, coarse), cols, coarse);
}

}  // namespace kavrimo
