// Coarse means four blocks at a time: in the lanes of AVX2 vectors where the processor has them (one
// gather of a fine cell from each block per step), else in four scalar sums.
#include "app/conversion/mosaic_coarsening.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
#endif

}  // namespace

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
