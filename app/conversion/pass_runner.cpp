#include "app/conversion/pass_runner.h"

#include <algorithm>

#include "app/conversion/chunk_runner.h"

namespace kavrimo {

void PassProgress::Through(std::int64_t end) {
  const std::int64_t started = nrows_ > 0 ? std::min(ncols_, (end - 1) / nrows_ + 1) : ncols_;
  while (step_ < started) {
    ++step_;
    const auto position = static_cast<int>(step_ * 100 / ncols_);
    if (position != shown_) sink_(shown_ = position);
  }
}

void RunPass(const GridHeader& header, std::int64_t chunks, const std::function<std::int64_t(std::int64_t)>& end_cell,
             const ProgressSink& progress, int workers, const std::function<void(std::int64_t, int)>& work,
             const std::function<void(std::int64_t)>& after) {
  PassProgress steps(progress, header.ncols, header.nrows);
  if (chunks == 0) {
    if (header.ncols > 0) steps.Through(1);  // steps without cells only move the bar
    return;
  }
  try {
    RunChunks(chunks, workers, work, [&](std::int64_t chunk) {
      if (after) after(chunk);
      steps.Through(end_cell(chunk));
    });
  } catch (const CellFailure& failure) {
    steps.Through(failure.cell + 1);
    std::rethrow_exception(failure.error);
  }
}

}  // namespace kavrimo
