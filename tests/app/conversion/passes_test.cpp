// The two passes over real files with one and several threads: the same range, bytes and progress as
// a plain one-cell-at-a-time pass; the first error in cell order; files that end early or shrink; and
// the chunk runner beneath them.
#include "app/conversion/passes.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/conversion/chunk_runner.h"
#include "app/grid/grid_stream.h"
#include "runtime/errors.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using testing_support::MessageOf;
using testing_support::NewImagePixels;
using testing_support::TempDir;

constexpr float kNaN = NAN;

GridHeader Header(int ncols, int nrows, bool big_endian = false) {
  return {.ncols = ncols, .nrows = nrows, .NODATA_value = -9999, .big_endian = big_endian};
}

// A smooth field with noise and one cell in ten no-data.
std::vector<float> Field(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> noise(0, 3);
  std::bernoulli_distribution missing(0.1);
  std::vector<float> cells(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    cells[static_cast<std::size_t>(i)] =
        missing(random) ? -9999.0f : 800 * std::sin(static_cast<float>(i) / 900.0f) - 120 + noise(random);
  }
  return cells;
}

// Writes the cells (as many as given) as the grid of header in dir and opens its data file to read.
BinaryFile WriteAndOpen(const TempDir& dir, const GridHeader& header, const std::vector<float>& cells) {
  testing_support::WriteGrid(dir.File("grid"), header.ncols, header.nrows, cells, "", header.big_endian);
  return BinaryFile::OpenExisting(dir.File("grid.flt"), OpenMode::ReadOnly);
}

// Threads, cells per read, cells per chunk, mapping.
const PassOptions kSplits[] = {
    {1, kPassBlockCells, kPassChunkCells, true}, {1, kPassBlockCells, kPassChunkCells, false},
    {2, kPassBlockCells, kPassChunkCells, true}, {1, 7, 7, true}, {2, 5, 15, false}, {3, 16, 48, true},
    {4, 1, 3, false}, {8, 64, 64, true}};

std::string Name(const PassOptions& s) {
  return std::to_string(s.threads) + " threads, blocks of " + std::to_string(s.block_cells) + ", chunks of " +
         std::to_string(s.chunk_cells) + (s.map_data ? ", mapped" : ", read");
}

// Three columns show 33, 66 and 100 in each pass; 37 columns show no position twice. Over a fixed range
// narrower than the field, pass 2 gives the clamped bytes and counts each cell outside it once.
TEST(Passes, EverySplitGivesTheRangeBytesAndProgressOfAPlainPass) {
  for (const GridHeader& header : {Header(37, 29), Header(37, 29, true), Header(3, 400)}) {
    SCOPED_TRACE(std::to_string(header.ncols) + (header.big_endian ? " columns, big-endian" : " columns"));
    TempDir dir;
    const std::vector<float> cells = Field(header.ncols * header.nrows, 5);
    const BinaryFile data = WriteAndOpen(dir, header, cells);
    // The plain pass: the range, the bytes after a 512-byte header, and the progress (i * 100) div ncols
    // for i = 1 to ncols in each of the two passes.
    CellRange plain;
    for (const float v : cells) {
      if (v != -9999.0f) plain = {std::max(plain.maximum, v), std::min(plain.minimum, v)};
    }
    const CellScale scale = ScaleFor(plain);
    std::vector<std::uint8_t> bytes(512, 0);
    for (const float v : cells) bytes.push_back(CodeCellReference(v, -9999, scale));
    const FixedScale fixed{ScaleFor({500, -100}), {500, -100}};
    std::vector<std::uint8_t> clamped(512, 0);
    OutsideCounts outside;
    for (const float v : cells) {
      clamped.push_back(CodeCellClampedReference(v, -9999, fixed));
      if (v == -9999.0f) continue;
      outside.below += v < -100;
      outside.above += v > 500;
    }
    ASSERT_GT(outside.below * outside.above, 0);
    std::vector<int> plain_progress;
    for (int i = 0; i < 2 * header.ncols; ++i) plain_progress.push_back((i % header.ncols + 1) * 100 / header.ncols);
    if (header.ncols == 3) {
      ASSERT_EQ(plain_progress, (std::vector<int>{33, 66, 100, 33, 66, 100}));
    }
    for (const PassOptions& split : kSplits) {
      SCOPED_TRACE(Name(split));
      std::vector<int> progress;
      const auto record = [&](int p) { progress.push_back(p); };
      const CellRange range = ScanRange(data, header, record, split);
      EXPECT_EQ(std::pair(range.maximum, range.minimum), std::pair(plain.maximum, plain.minimum));
      ImagePixels out = NewImagePixels(dir.File("out.img"));
      CodeGrid(data, header, scale, out, record, split);
      EXPECT_EQ(testing_support::ReadBytes(dir.File("out.img")), bytes);
      EXPECT_EQ(progress, plain_progress);
      const OutsideCounts counts = CodeGrid(data, header, fixed, out, [](int) {}, split);
      out.Close();
      EXPECT_EQ(testing_support::ReadBytes(dir.File("out.img")), clamped);
      EXPECT_EQ(std::pair(counts.below, counts.above), std::pair(outside.below, outside.above));
    }
  }
}

// A short file and a NaN cell: whichever the one-thread order meets first is raised, with any split. A
// NaN in the bytes past the grid's last cell is not read at all.
TEST(Passes, RaiseTheFirstErrorInCellOrder) {
  const std::string beyond = "Read beyond end of file", invalid = "Invalid floating point operation";
  const struct { const char* name; int nan_at; int file_cells; std::string message; } cases[] = {
      {"short file", -1, 997, beyond}, {"empty file", -1, 0, beyond}, {"NaN cell", 500, 1000, invalid},
      {"NaN before a short end", 3, 990, invalid}, {"NaN just before a short end", 989, 990, invalid},
      {"NaN in the last cell", 999, 1000, invalid}, {"NaN past the grid", -1, 1040, "no error"}};
  const GridHeader header = Header(40, 25);
  for (const auto& c : cases) {
    TempDir dir;
    std::vector<float> cells = Field(1000, 9);
    if (c.nan_at >= 0) cells[static_cast<std::size_t>(c.nan_at)] = kNaN;
    cells.resize(static_cast<std::size_t>(c.file_cells), kNaN);
    const BinaryFile data = WriteAndOpen(dir, header, cells);
    for (const PassOptions& split : kSplits) {
      SCOPED_TRACE(c.name + (", " + Name(split)));
      EXPECT_EQ(MessageOf([&] { ScanRange(data, header, [](int) {}, split); }), c.message);
      ImagePixels out = NewImagePixels(dir.File("out.img"));
      EXPECT_EQ(MessageOf([&] { CodeGrid(data, header, ScaleFor({900, -900}), out, [](int) {}, split); }), c.message);
    }
  }
}

// The file is cut to 1000 cells and 2 bytes once the first chunk of 100 cells is reported.
TEST(Passes, FileThatShrinksWhileReadRaisesTheReadErrorNotACrash) {
  TempDir dir;
  const GridHeader header = Header(100, 100);
  for (const bool coding : {false, true}) {
    SCOPED_TRACE(coding ? "pass 2" : "pass 1");
    const BinaryFile data = WriteAndOpen(dir, header, Field(10000, 4));
    bool cut = false;
    const auto shrink = [&](int) {
      if (!std::exchange(cut, true)) {
        ASSERT_EQ(::truncate(dir.File("grid.flt").c_str(), 4 * 1000 + 2), 0);
      }
    };
    ImagePixels out = NewImagePixels(dir.File("out.img"));
    const auto pass = [&] {
      if (coding) return CodeGrid(data, header, ScaleFor({900, -900}), out, shrink, {1, 10, 100});
      ScanRange(data, header, shrink, {1, 10, 100});
    };
    EXPECT_EQ(MessageOf(pass), "Read beyond end of file");
  }
}

// The file is cut while a mapped window is being visited: touching the pages past the new end raises a
// bus error, which the stream catches, and the window is read again, up to the new end. Every visit
// runs to its end, so the objects it owns are destroyed as usual (nothing jumps over them).
TEST(GridStreamTest, FileCutUnderAMappedWindowIsReadAgainNotACrash) {
  TempDir dir;
  const BinaryFile data = WriteAndOpen(dir, Header(100, 100), Field(10000, 6));
  BlockBuffer<float> buffer(64);
  std::vector<std::size_t> runs;
  std::size_t cells_seen = 0;
  int visits_ended = 0;
  double sum = 0;
  struct CountsItsEnd {
    int& ended;
    ~CountsItsEnd() { ++ended; }
  };
  const auto visit = [&](const float* cells, std::size_t count, std::size_t offset) {
    const CountsItsEnd end{visits_ended};
    runs.push_back(count);
    if (runs.size() == 1) {
      ASSERT_EQ(::truncate(dir.File("grid.flt").c_str(), 4 * 1000 + 2), 0);
    }
    for (std::size_t i = 0; i < count; ++i) sum += cells[i];  // reaches past the new end on the first run
    cells_seen = offset + count;
  };
  EXPECT_EQ(GridStream(data, 10000, false).Visit(0, 10000, buffer, visit), 1000u);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs.front(), 10000u);  // the mapped window
  EXPECT_EQ(cells_seen, 1000u);     // then read again, up to the new end
  EXPECT_EQ(visits_ended, static_cast<int>(runs.size()));
}

// ---- The chunk runner ---------------------------------------------------------------------------------

std::runtime_error Failure(std::int64_t chunk) { return std::runtime_error("chunk " + std::to_string(chunk)); }

TEST(ChunkRunner, ReportsEveryChunkInOrderOnTheCallingThread) {
  for (const int threads : {1, 2, 3, 7}) {
    std::vector<std::int64_t> reported;
    std::vector<std::atomic<int>> runs(53);
    const auto caller = std::this_thread::get_id();
    const auto work = [&](std::int64_t chunk, int worker) {
      ASSERT_TRUE(worker >= 0 && worker < threads) << worker;
      ++runs[static_cast<std::size_t>(chunk)];
    };
    RunChunks(53, threads, work, [&](std::int64_t chunk) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      reported.push_back(chunk);
    });
    ASSERT_EQ(reported.size(), 53u);
    for (std::size_t i = 0; i < 53; ++i) EXPECT_TRUE(reported[i] == static_cast<std::int64_t>(i) && runs[i] == 1) << i;
  }
}

TEST(ChunkRunner, SlowThreadDoesNotHoldTheOthersBack) {
  std::atomic<int> by_slow{0}, by_others{0};
  RunChunks(
      200, 2,
      [&](std::int64_t, int worker) {
        ++(worker == 1 ? by_slow : by_others);
        if (worker == 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      },
      [](std::int64_t) {});
  EXPECT_EQ(by_slow + by_others, 200);
  EXPECT_LT(by_slow.load(), 20);  // the fast thread took the rest instead of waiting for a fixed half
}

// When work or a report fails, the one-thread order decides: the lowest failing chunk, where a failing
// report comes after its chunk's work and before the next chunk's. Every thread has stopped by then, and
// no chunk is reported from the failing one on. Chunk 17 fails late, after 41 and 42 may have failed,
// while chunk 18 is still at work.
TEST(ChunkRunner, RethrowsTheFirstFailureInOrderAfterAllThreadsStopped) {
  const struct { std::vector<std::int64_t> failing_work; std::int64_t failing_report; const char* message; } cases[] = {
      {{17, 41, 42}, 99, "chunk 17"}, {{6}, 5, "report 5"}, {{5}, 5, "chunk 5"}, {{4}, 5, "chunk 4"}};
  for (const auto& c : cases) {
    for (const int threads : {1, 2, 4}) {
      for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(c.message + (", " + std::to_string(threads)) + " threads, round " + std::to_string(round));
        std::atomic<int> active{0};
        std::vector<std::int64_t> reported;
        const auto work = [&](std::int64_t chunk, int) {
          ++active;
          if (chunk == 17 || chunk == 18) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          --active;
          if (std::ranges::count(c.failing_work, chunk) != 0) throw Failure(chunk);
        };
        const auto report = [&](std::int64_t chunk) {
          if (chunk == c.failing_report) throw std::runtime_error("report " + std::to_string(chunk));
          reported.push_back(chunk);
        };
        EXPECT_EQ(MessageOf([&] { RunChunks(60, threads, work, report); }), c.message);
        EXPECT_EQ(active.load(), 0);
        ASSERT_LE(reported.size(), static_cast<std::size_t>(std::min(c.failing_work[0], c.failing_report)));
        for (std::size_t i = 0; i < reported.size(); ++i) EXPECT_EQ(reported[i], static_cast<std::int64_t>(i));
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
