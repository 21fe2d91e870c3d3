// Block reads of grid cells at their offsets, with the byte swap of big-endian grids.
#include "app/core/grid_stream.h"

#include <fcntl.h>

#include <cstring>

namespace kavrimo {
namespace {

void SwapBytes(float* cells, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t word;
    std::memcpy(&word, &cells[i], sizeof word);
    word = __builtin_bswap32(word);
    std::memcpy(&cells[i], &word, sizeof word);
  }
}

}  // namespace

GridStream::GridStream(const BinaryFile& data, std::int64_t cells, bool big_endian)
    : data_(data), cells_(cells), big_endian_(big_endian) {}

std::size_t GridStream::ReadCells(std::int64_t first, std::size_t count, float* out) const {
  const std::size_t bytes = data_.ReadAt(first * static_cast<std::int64_t>(sizeof(float)), out,
                                         count * sizeof(float));
  const std::size_t whole = bytes / sizeof(float);
  if (big_endian_) SwapBytes(out, whole);
  return whole;
}

void GridStream::AdviseSequential() const {
  (void)::posix_fadvise(data_.Descriptor(), 0, cells_ * static_cast<std::int64_t>(sizeof(float)),
                        POSIX_FADV_SEQUENTIAL);
}

}  // namespace kavrimo
