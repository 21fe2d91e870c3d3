// ASCII grid passes: pieces parsed on the chunk runner's threads, placed in cell order as the pieces
// before them are counted.
#include "app/conversion/ascii_passes.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "app/conversion/chunk_runner.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

// Where each piece's cells begin, known once every piece before it has been parsed. A piece waits for
// that only after parsing itself, and the pieces are started in order, so the lowest piece still
// waiting always has all its predecessors parsed or parsing: the wait ends. A failed piece ends the
// waits of the pieces after it.
class PieceOrder {
 public:
  explicit PieceOrder(std::int64_t pieces)
      : counts_(static_cast<std::size_t>(pieces)),
        parsed_(static_cast<std::size_t>(pieces)),
        first_(static_cast<std::size_t>(pieces) + 1) {}

  void Parsed(std::int64_t piece, std::size_t count) {
    const std::lock_guard lock(mutex_);
    counts_[static_cast<std::size_t>(piece)] = static_cast<std::int64_t>(count);
    parsed_[static_cast<std::size_t>(piece)] = true;
    while (known_ < counts_.size() && parsed_[known_]) {
      first_[known_ + 1] = first_[known_] + counts_[known_];
      ++known_;
    }
    changed_.notify_all();
  }

  void Failed(std::int64_t piece) {
    const std::lock_guard lock(mutex_);
    failed_ = std::min(failed_, static_cast<std::size_t>(piece));
    changed_.notify_all();
  }

  // The index of the piece's first cell; nothing when a piece before it failed.
  std::optional<std::int64_t> FirstCell(std::int64_t piece) {
    const auto p = static_cast<std::size_t>(piece);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return known_ >= p || failed_ < p; });
    if (known_ < p) return std::nullopt;
    return first_[p];
  }

  // The cells up to the end of piece (of all pieces: piece = the count of pieces - 1), once parsed.
  std::int64_t EndCell(std::int64_t piece) {
    const std::lock_guard lock(mutex_);
    return first_[static_cast<std::size_t>(piece) + 1];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::int64_t> counts_;
  std::vector<bool> parsed_;
  std::vector<std::int64_t> first_;  // first_[p]: cells before piece p, for p <= known_
  std::size_t known_ = 0;
  std::size_t failed_ = static_cast<std::size_t>(-1);
};

// One thread's piece: its cells, parsed; digest works on them on the same thread (a range, a coding).
using Digest = std::function<void(std::int64_t piece, int worker, const float* cells, std::size_t count)>;
// Puts cells [first, first + count) of the grid in place; count stops at the grid's last cell.
using Place = std::function<void(std::int64_t piece, int worker, std::int64_t first, std::size_t count)>;

// A bad token, with where it lies: the numbers of its piece before it.
struct PieceFailure {
  std::int64_t piece;
  std::size_t parsed_before;
  std::exception_ptr error;
};

// Parses every piece on options.threads threads, calls digest and place for each, after(piece) and the
// progress on the calling thread in piece order, and checks the count of values at the end.
void ParsePieces(const AsciiValues& values, const GridHeader& header, const ProgressSink& progress,
                 const PassOptions& options, const Digest& digest, const Place& place,
                 const std::function<void(std::int64_t)>& after) {
  const int threads = options.Workers(values.Pieces());
  const std::int64_t cells = std::int64_t{header.ncols} * header.nrows;
  PieceOrder order(values.Pieces());
  PassProgress steps(progress, header.ncols, header.nrows);
  std::vector<std::optional<AsciiValues::Buffers>> buffers(static_cast<std::size_t>(threads));
  try {
    RunChunks(
        values.Pieces(), threads,
        [&](std::int64_t piece, int worker) {
          auto& own = buffers[static_cast<std::size_t>(worker)];
          std::size_t count = 0;
          try {
            if (!own) own.emplace(values);
            try {
              count = values.Parse(piece, *own);
            } catch (const EConvertError&) {
              throw PieceFailure{piece, own->ParsedBeforeFailure(), std::current_exception()};
            }
            digest(piece, worker, own->Cells(), count);
          } catch (...) {
            order.Failed(piece);
            throw;
          }
          order.Parsed(piece, count);
          const std::optional<std::int64_t> first = order.FirstCell(piece);
          if (!first || *first >= cells) return;  // an earlier piece failed, or these are values too many
          place(piece, worker, *first,
                static_cast<std::size_t>(std::min<std::int64_t>(cells - *first, static_cast<std::int64_t>(count))));
        },
        [&](std::int64_t piece) {
          if (after) after(piece);
          steps.Through(order.EndCell(piece));
        });
  } catch (const PieceFailure& failure) {
    // The bar stands at the bad token's step, as it would when a float grid's pass stopped at that cell:
    // every piece before the failing one has been parsed and counted.
    const std::int64_t first = failure.piece == 0 ? 0 : order.EndCell(failure.piece - 1);
    steps.Through(first + static_cast<std::int64_t>(failure.parsed_before) + 1);
    std::rethrow_exception(failure.error);
  }
  values.CheckCount(values.Pieces() == 0 ? 0 : order.EndCell(values.Pieces() - 1));
}

}  // namespace

CellRange ScanAsciiValues(const AsciiValues& values, const GridHeader& header, BinaryFile& scratch,
                          const ProgressSink& progress, const PassOptions& options, std::int64_t scratch_base) {
  const CellNoData nodata = NoDataOf(header);
  std::vector<CellRange> parts(static_cast<std::size_t>(values.Pieces()));
  std::vector<const float*> parsed(static_cast<std::size_t>(options.Workers(values.Pieces())));
  CellRange range;
  ParsePieces(
      values, header, progress, options,
      [&](std::int64_t piece, int worker, const float* cells, std::size_t count) {
        ScanCells(cells, count, nodata, parts[static_cast<std::size_t>(piece)]);
        parsed[static_cast<std::size_t>(worker)] = cells;
      },
      [&](std::int64_t, int worker, std::int64_t first, std::size_t count) {
        scratch.WriteExactlyAt(scratch_base + first * static_cast<std::int64_t>(sizeof(float)),
                               parsed[static_cast<std::size_t>(worker)], count * sizeof(float));
      },
      [&](std::int64_t piece) { range.Widen(parts[static_cast<std::size_t>(piece)]); });
  return range;
}

OutsideCounts CodeAsciiValues(const AsciiValues& values, const GridHeader& header, const FixedScale& fixed,
                              ImagePixels& output, const ProgressSink& progress, const PassOptions& options) {
  const CellNoData nodata = NoDataOf(header);
  std::vector<OutsideCounts> parts(static_cast<std::size_t>(values.Pieces()));
  std::vector<std::optional<BlockBuffer<std::uint8_t>>> bytes(
      static_cast<std::size_t>(options.Workers(values.Pieces())));
  OutsideCounts total;
  ParsePieces(
      values, header, progress, options,
      [&](std::int64_t piece, int worker, const float* cells, std::size_t count) {
        auto& own = bytes[static_cast<std::size_t>(worker)];
        if (!own) own.emplace(values.MaxCellsPerPiece());
        CodeCellsClamped(cells, count, nodata, fixed, own->data(), parts[static_cast<std::size_t>(piece)]);
      },
      [&](std::int64_t, int worker, std::int64_t first, std::size_t count) {
        output.WriteAt(first, bytes[static_cast<std::size_t>(worker)]->data(), count);
      },
      [&](std::int64_t piece) { total += parts[static_cast<std::size_t>(piece)]; });
  return total;
}

}  // namespace kavrimo
