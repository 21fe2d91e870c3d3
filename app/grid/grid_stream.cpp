// Windows of grid cells: mapped straight from the file's pages, or read at their offsets with the
// byte swap of big-endian grids. A window cut short by a shrinking file is read again.
#include "app/grid/grid_stream.h"

#include <algorithm>
#include <cstring>

#include "runtime/mapped_file.h"

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

GridStream::GridStream(const BinaryFile& data, std::int64_t cells, bool big_endian, bool map)
    : data_(data), cells_(cells), big_endian_(big_endian), map_(map && !big_endian) {}

std::size_t GridStream::ReadCells(std::int64_t first, std::size_t count, float* out) const {
  const std::size_t bytes = data_.ReadAt(first * static_cast<std::int64_t>(sizeof(float)), out, count * sizeof(float));
  const std::size_t whole = bytes / sizeof(float);
  if (big_endian_) SwapBytes(out, whole);
  return whole;
}

std::size_t GridStream::Visit(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer,
                              const CellVisitor& visit) const {
  if (map_.load(std::memory_order_relaxed) && VisitMapped(first, count, visit)) return count;
  return VisitByReading(first, count, buffer, visit);
}

std::size_t GridStream::VisitByReading(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer,
                                       const CellVisitor& visit) const {
  std::size_t done = 0;
  while (done < count) {
    const std::size_t wanted = std::min(buffer.size(), count - done);
    const std::size_t got = ReadCells(first + static_cast<std::int64_t>(done), wanted, buffer.data());
    if (got > 0) visit(buffer.data(), got, done);
    done += got;
    if (got < wanted) break;
  }
  return done;
}

bool GridStream::VisitMapped(std::int64_t first, std::size_t count, const CellVisitor& visit) const {
  // A window past the end of the file is read, which reports exactly how much of it there is; so is a
  // window of a file that shrank while it was visited, which tells what the cells were.
  const WindowVisit visited =
      VisitWindow(data_, first * static_cast<std::int64_t>(sizeof(float)), count * sizeof(float),
                  [&](const char* bytes) { visit(reinterpret_cast<const float*>(bytes), count, 0); });
  if (visited == WindowVisit::kRefused) map_.store(false, std::memory_order_relaxed);  // read from now on
  return visited == WindowVisit::kWhole;
}

void GridStream::AdviseSequential() const {
  data_.AdviseSequential(0, cells_ * static_cast<std::int64_t>(sizeof(float)));
}

}  // namespace kavrimo
