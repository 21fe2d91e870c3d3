// What every pass shares, whatever its grid: the progress of the outer loop, the cell at which a pass
// failed, and the running of a pass's chunks on threads with results, progress and errors in the order
// one thread would give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include "app/grid/grid_header.h"

namespace kavrimo {

// Receives each new progress position of a pass (1 to 100), in increasing order, on the calling thread.
using ProgressSink = std::function<void(int position)>;

// Turns "cells handled so far", in cell order, into the positions the outer loop of a pass shows: step i
// (1 to ncols) holds nrows cells and shows (i * 100) div ncols.
class PassProgress {
 public:
  PassProgress(const ProgressSink& sink, std::int32_t ncols, std::int32_t nrows)
      : sink_(sink), ncols_(ncols), nrows_(nrows) {}
  // Every step whose first cell lies before end has started.
  void Through(std::int64_t end);

 private:
  const ProgressSink& sink_;
  std::int64_t ncols_;
  std::int64_t nrows_;
  std::int64_t step_ = 0;
  int shown_ = 0;  // a pass starts with the bar at 0
};

// A cell that failed a pass (or the first cell a short file lacks) and its error: the pass reports the
// progress of that cell's step before the error leaves it, as the bar would stand when it stopped there.
struct CellFailure {
  std::int64_t cell;
  std::exception_ptr error;
};

// The index of the first of cells[0..count) for which one_cell raises; count when none does. Passes run
// their arithmetic over many cells at once and call this only once that raised, to find the cell the
// one-thread, one-cell order would have stopped at.
template <typename OneCell>
std::size_t FirstFailingCell(const float* cells, std::size_t count, OneCell one_cell) {
  std::size_t failing = 0;
  for (; failing < count; ++failing) {
    try {
      one_cell(cells[failing]);
    } catch (...) {
      break;
    }
  }
  return failing;
}

// Keeps in first whichever of first and failure comes first in cell order.
inline void KeepFirst(std::optional<CellFailure>& first, CellFailure failure) {
  if (!first || failure.cell < first->cell) first = std::move(failure);
}

// Runs a block's arithmetic over cells[0..count), the cells first.. of the grid (in cell order); an error
// leaves as a CellFailure naming the first cell that raises (FirstFailingCell).
template <typename Block, typename OneCell>
void OverCells(std::int64_t first, const float* cells, std::size_t count, Block block, OneCell one_cell) {
  try {
    block();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    throw CellFailure{first + static_cast<std::int64_t>(FirstFailingCell(cells, count, one_cell)), error};
  }
}

// Runs work(chunk, worker) on the chunks of a pass on workers threads (PassOptions::Workers, RunChunks);
// after(chunk) and then the progress through end_cell(chunk), the cell after the chunk's last, run on the
// calling thread in chunk order. A CellFailure leaving work or after moves the bar to its cell's step and raises its
// error; any other error leaves as it is. A grid with no cells only moves the bar (when it has columns).
void RunPass(const GridHeader& header, std::int64_t chunks, const std::function<std::int64_t(std::int64_t)>& end_cell,
             const ProgressSink& progress, int workers, const std::function<void(std::int64_t, int)>& work,
             const std::function<void(std::int64_t)>& after = {});

}  // namespace kavrimo
