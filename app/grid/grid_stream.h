// Streaming the cells of a grid's data file (*.flt) in windows, and the block buffers the passes use.
//
// The grid is never held in memory: a pass visits the file window by window, each at its own offset,
// so several threads may visit one file at once. Little-endian cells are read straight from the
// file's pages through a short-lived memory mapping; big-endian cells, files that cannot be mapped and
// windows past the end of the file are read into a buffer instead. A file that shrinks while it is
// read gives a short read, never a crash: a bus error inside a mapped window is caught and the window
// is read again with plain reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>

#include "runtime/file.h"

namespace kavrimo {

// A fixed block of elements aligned to a page, for reads and writes of whole blocks. Not initialised.
template <class T>
class BlockBuffer {
 public:
  explicit BlockBuffer(std::size_t count)
      : data_(static_cast<T*>(::operator new[](count * sizeof(T), kAlignment))), count_(count) {}
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  std::size_t size() const { return count_; }

 private:
  static constexpr std::align_val_t kAlignment{4096};
  struct Free {
    void operator()(T* p) const { ::operator delete[](p, kAlignment); }
  };
  std::unique_ptr<T, Free> data_;
  std::size_t count_;
};

// Receives a run of cells: cells[0..count) are the cells offset.. of the window being visited.
using CellVisitor = std::function<void(const float* cells, std::size_t count, std::size_t offset)>;

class GridStream {
 public:
  // cells: ncols x nrows, stored from byte 0 of data. map: whether windows may be mapped.
  GridStream(const BinaryFile& data, std::int64_t cells, bool big_endian, bool map = true);

  std::int64_t Cells() const { return cells_; }

  // Hands the cells [first, first + count) to visit, in host order, in runs that follow one another
  // (reads go through buffer, a run at most its size). Returns how many whole cells the file held of
  // them: count, or fewer when it ends early, and the runs then covered exactly those. When the file
  // shrinks under a mapped window, the window is visited again from its start by reading, so visit
  // must allow cells to come twice (a range scan and a coding give the same result). Raises
  // EInOutError for a read the system refuses, and what visit raises.
  std::size_t Visit(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer, const CellVisitor& visit) const;

  // Reads the cells [first, first + count) into out, in host order, and returns how many whole cells
  // came: count, or fewer when the file ends early. Raises EInOutError for a refused read.
  std::size_t ReadCells(std::int64_t first, std::size_t count, float* out) const;

  // Tells the system the passes read the file from start to end (a hint; failures are ignored).
  void AdviseSequential() const;

 private:
  std::size_t VisitByReading(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer,
                             const CellVisitor& visit) const;
  // Visits the whole window through a mapping; false when the file cannot be mapped or shrank.
  bool VisitMapped(std::int64_t first, std::size_t count, const CellVisitor& visit) const;

  const BinaryFile& data_;
  std::int64_t cells_;
  bool big_endian_;
  mutable std::atomic<bool> map_;
};

}  // namespace kavrimo
