// Streaming the cells of a grid's data file (*.flt) in blocks, and the block buffers the passes use.
//
// The grid is never held in memory: a pass visits the file block by block, reading each block at its
// own offset (so several threads may read one file at once). Cells are single-precision values,
// little-endian unless the header said otherwise. Nothing is mapped into memory, so a file that
// shrinks while it is read gives a short read, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "runtime/file.h"

namespace kavrimo {

class GridStream {
 public:
  // cells: ncols x nrows, stored from byte 0 of data.
  GridStream(const BinaryFile& data, std::int64_t cells, bool big_endian);

  std::int64_t Cells() const { return cells_; }
  // Reads the cells [first, first + count) into out, in host order, and returns how many whole cells
  // came: count, or fewer when the file ends early. Raises EInOutError for a read the system refuses.
  std::size_t ReadCells(std::int64_t first, std::size_t count, float* out) const;
  // Tells the system the passes read the file from start to end (a hint; failures are ignored).
  void AdviseSequential() const;

 private:
  const BinaryFile& data_;
  std::int64_t cells_;
  bool big_endian_;
};

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

}  // namespace kavrimo
