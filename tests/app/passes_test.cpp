// The two passes over real files with one and several threads: the same range, bytes and progress as
// a plain one-cell-at-a-time pass; the first error in cell order; files that end early or shrink.
#include "app/core/passes.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/core/chunk_runner.h"
#include "app/core/grid_stream.h"
#include "runtime/errors.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteGrid;

constexpr std::int64_t kHeader = 512;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Grid {
  GridHeader header;
  std::vector<float> cells;
};

// A smooth field with noise and one cell in ten no-data.
Grid MakeGrid(int ncols, int nrows, unsigned seed, bool big_endian = false) {
  Grid grid;
  grid.header.ncols = ncols;
  grid.header.nrows = nrows;
  grid.header.NODATA_value = -9999;
  grid.header.big_endian = big_endian;
  std::mt19937 random(seed);
  std::normal_distribution<float> noise(0, 3);
  std::bernoulli_distribution missing(0.1);
  for (int i = 0; i < ncols * nrows; ++i) {
    grid.cells.push_back(missing(random) ? -9999.0f : 800 * std::sin(static_cast<float>(i) / 900.0f) - 120 + noise(random));
  }
  return grid;
}

std::string WriteData(const TempDir& dir, const Grid& grid) {
  const std::string base = dir.File("grid");
  WriteGrid(base, grid.header.ncols, grid.header.nrows, grid.cells, "", grid.header.big_endian);
  return base + ".flt";
}

// Progress as the outer loop of a plain pass shows it: (i * 100) div ncols for i = 1 to ncols, each
// new position once.
std::vector<int> PlainProgress(int ncols) {
  std::vector<int> shown;
  int last = 0;
  for (int i = 1; i <= ncols; ++i) {
    if (const int position = i * 100 / ncols; position != last) shown.push_back(last = position);
  }
  return shown;
}

std::string MessageOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

struct Split {
  int threads;
  std::size_t block_cells;
  std::size_t chunk_cells;
  bool map;
};
const Split kSplits[] = {{1, kPassBlockCells, kPassChunkCells, true},
                         {1, kPassBlockCells, kPassChunkCells, false},
                         {1, 7, 7, true},
                         {2, 5, 15, false},
                         {3, 16, 48, true},
                         {4, 1, 3, false},
                         {2, kPassBlockCells, kPassChunkCells, true},
                         {2, 100, 1024, true},
                         {8, 64, 64, true}};

std::string Name(const Split& split) {
  return std::to_string(split.threads) + " threads, blocks of " + std::to_string(split.block_cells) +
         ", chunks of " + std::to_string(split.chunk_cells) + (split.map ? ", mapped" : ", read");
}

PassOptions OptionsFor(const Split& split) {
  return {split.threads, split.block_cells, split.chunk_cells, split.map};
}

TEST(Passes, EverySplitGivesTheRangeBytesAndProgressOfAPlainPass) {
  for (const bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "big-endian" : "little-endian");
    TempDir dir;
    const Grid grid = MakeGrid(37, 29, 5, big_endian);
    const std::string path = WriteData(dir, grid);

    CellRange plain;
    for (const float v : grid.cells) {
      if (v == -9999.0f) continue;
      plain.maximum = std::max(plain.maximum, v);
      plain.minimum = std::min(plain.minimum, v);
    }
    const CellScale scale = ScaleFor(plain);
    std::vector<std::uint8_t> bytes(kHeader, 0);
    for (const float v : grid.cells) bytes.push_back(CodeCellReference(v, -9999, scale));

    for (const Split& split : kSplits) {
      SCOPED_TRACE(Name(split));
      const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
      std::vector<int> progress;
      const CellRange range =
          ScanRange(data, grid.header, [&](int p) { progress.push_back(p); }, OptionsFor(split));
      EXPECT_EQ(range.maximum, plain.maximum);
      EXPECT_EQ(range.minimum, plain.minimum);
      EXPECT_EQ(progress, PlainProgress(grid.header.ncols));

      const std::string out_path = dir.File("out.img");
      BinaryFile out = BinaryFile::Create(out_path);
      out.WriteExactly(std::vector<std::uint8_t>(kHeader, 0).data(), kHeader);
      progress.clear();
      CodeGrid(data, grid.header, scale, out, [&](int p) { progress.push_back(p); }, OptionsFor(split));
      out.Close();
      EXPECT_EQ(ReadBytes(out_path), bytes);
      EXPECT_EQ(progress, PlainProgress(grid.header.ncols));
    }
  }
}

TEST(Passes, ThreeColumnsShowThirtyThreeSixtySixAndHundred) {
  TempDir dir;
  const Grid grid = MakeGrid(3, 1000, 1);
  const BinaryFile data = BinaryFile::OpenExisting(WriteData(dir, grid), OpenMode::ReadOnly);
  for (const int threads : {1, 2}) {
    std::vector<int> progress;
    ScanRange(data, grid.header, [&](int p) { progress.push_back(p); }, {threads, 10, 100});
    EXPECT_EQ(progress, (std::vector<int>{33, 66, 100}));
  }
}

TEST(Passes, DataBeyondTheGridIsNotRead) {
  TempDir dir;
  Grid grid = MakeGrid(10, 10, 3);
  const std::string path = WriteData(dir, grid);
  Grid longer = grid;
  longer.header.nrows = 11;
  longer.cells.resize(110, kNaN);  // a NaN past the last cell of the shorter grid
  WriteGrid(dir.File("grid"), 10, 11, longer.cells, "");
  const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  EXPECT_NO_THROW(ScanRange(data, grid.header, [](int) {}, {2, 3, 9}));
}

// ---- Errors: the one the one-thread order meets first --------------------------------------------------

struct ErrorCase {
  std::string name;
  std::int64_t nan_at;      // -1: none
  std::int64_t file_cells;  // cells the data file holds (of 40 x 25 = 1000)
  std::string message;
};

class PassErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PassErrors, RaiseTheFirstErrorInCellOrder) {
  const ErrorCase& c = GetParam();
  SCOPED_TRACE(c.name);
  TempDir dir;
  Grid grid = MakeGrid(40, 25, 9);
  if (c.nan_at >= 0) grid.cells[static_cast<std::size_t>(c.nan_at)] = kNaN;
  const GridHeader header = grid.header;
  grid.cells.resize(static_cast<std::size_t>(c.file_cells));
  const std::string path = WriteData(dir, grid);
  const CellScale scale = ScaleFor({900, -900});
  for (const Split& split : kSplits) {
    SCOPED_TRACE(Name(split));
    const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
    EXPECT_EQ(MessageOf([&] { ScanRange(data, header, [](int) {}, OptionsFor(split)); }), c.message);
    BinaryFile out = BinaryFile::Create(dir.File("out.img"));
    EXPECT_EQ(MessageOf([&] { CodeGrid(data, header, scale, out, [](int) {}, OptionsFor(split)); }), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PassErrors,
    ::testing::Values(ErrorCase{"short_file", -1, 997, "Read beyond end of file"},
                      ErrorCase{"empty_file", -1, 0, "Read beyond end of file"},
                      ErrorCase{"nan_cell", 500, 1000, "Invalid floating point operation"},
                      ErrorCase{"nan_before_short_end", 3, 990, "Invalid floating point operation"},
                      ErrorCase{"nan_just_before_short_end", 989, 990, "Invalid floating point operation"},
                      ErrorCase{"nan_last_cell", 999, 1000, "Invalid floating point operation"}),
    [](const ::testing::TestParamInfo<ErrorCase>& param) { return param.param.name; });

TEST(Passes, FileThatShrinksWhileReadRaisesTheReadErrorNotACrash) {
  TempDir dir;
  const Grid grid = MakeGrid(100, 100, 4);
  const std::string path = WriteData(dir, grid);
  const CellScale scale = ScaleFor({900, -900});
  for (const bool coding : {false, true}) {
    SCOPED_TRACE(coding ? "pass 2" : "pass 1");
    WriteData(dir, grid);
    const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
    bool cut = false;
    // Once the first chunk of 100 cells is reported, the file is cut to 1000 cells and 2 bytes.
    const auto shrink = [&](int) {
      if (!cut) {
        ASSERT_EQ(::truncate(path.c_str(), 4 * 1000 + 2), 0);
      }
      cut = true;
    };
    BinaryFile out = BinaryFile::Create(dir.File("out.img"));
    EXPECT_EQ(MessageOf([&] {
                if (coding) {
                  CodeGrid(data, grid.header, scale, out, shrink, {1, 10, 100});
                } else {
                  ScanRange(data, grid.header, shrink, {1, 10, 100});
                }
              }),
              "Read beyond end of file");
  }
}

// The file is cut while a mapped window is being visited: touching the pages past the new end raises a
// bus error, which the stream catches, and the window is read again, up to the new end.
TEST(GridStreamTest, FileCutUnderAMappedWindowIsReadAgainNotACrash) {
  TempDir dir;
  const Grid grid = MakeGrid(100, 100, 6);
  const std::string path = WriteData(dir, grid);
  const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  const GridStream stream(data, 10000, false);
  BlockBuffer<float> buffer(64);
  std::vector<std::size_t> runs;
  std::size_t cells_seen = 0;
  double sum = 0;
  const std::size_t got = stream.Visit(0, 10000, buffer, [&](const float* cells, std::size_t count, std::size_t offset) {
    runs.push_back(count);
    if (runs.size() == 1) {
      ASSERT_EQ(::truncate(path.c_str(), 4 * 1000 + 2), 0);
    }
    for (std::size_t i = 0; i < count; ++i) sum += cells[i];  // reaches past the new end on the first run
    cells_seen = offset + count;
  });
  EXPECT_EQ(got, 1000u);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs.front(), 10000u);  // the mapped window
  EXPECT_EQ(cells_seen, 1000u);     // then read again, up to the new end
}

TEST(GridStreamTest, ReadsAndMappingsHandTheSameCells) {
  TempDir dir;
  for (const bool big_endian : {false, true}) {
    const Grid grid = MakeGrid(50, 40, 8, big_endian);
    const std::string path = WriteData(dir, grid);
    const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
    for (const bool map : {true, false}) {
      SCOPED_TRACE(std::string(big_endian ? "big-endian" : "little-endian") + (map ? ", mapped" : ", read"));
      const GridStream stream(data, 2000, big_endian, map);
      BlockBuffer<float> buffer(33);
      std::vector<float> seen(2000, -1);
      for (const std::int64_t first : {std::int64_t{0}, std::int64_t{7}, std::int64_t{1024}}) {
        const std::size_t got = stream.Visit(first, 976, buffer, [&](const float* cells, std::size_t count, std::size_t offset) {
          std::memcpy(&seen[static_cast<std::size_t>(first) + offset], cells, count * sizeof(float));
        });
        EXPECT_EQ(got, 976u);
      }
      for (std::size_t i = 0; i < 2000; ++i) {
        if (i < 983 || i >= 1024) {
          EXPECT_EQ(seen[i], grid.cells[i]) << i;
        }
      }
      // Past the end of the file: only the cells it holds.
      EXPECT_EQ(stream.Visit(1990, 20, buffer, [](const float*, std::size_t, std::size_t) {}), 10u);
    }
  }
}

TEST(Passes, FileThatVanishesWhileReadIsReadToItsEnd) {
  TempDir dir;
  const Grid grid = MakeGrid(100, 100, 4);
  const std::string path = WriteData(dir, grid);
  const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  const CellRange whole = ScanRange(data, grid.header, [](int) {});
  const CellRange range = ScanRange(data, grid.header, [&](int) { std::remove(path.c_str()); }, {2, 10, 100});
  EXPECT_EQ(range.maximum, whole.maximum);
  EXPECT_EQ(range.minimum, whole.minimum);
}

// ---- The chunk runner ---------------------------------------------------------------------------------

struct Failure : std::runtime_error {
  explicit Failure(std::int64_t at) : std::runtime_error("chunk " + std::to_string(at)) {}
};

TEST(ChunkRunner, ReportsEveryChunkInOrderOnTheCallingThread) {
  for (const int threads : {1, 2, 3, 7}) {
    std::vector<std::int64_t> reported;
    std::vector<std::atomic<int>> runs(53);
    const auto caller = std::this_thread::get_id();
    RunChunks(
        53, threads,
        [&](std::int64_t chunk, int worker) {
          ASSERT_GE(worker, 0);
          ASSERT_LT(worker, threads);
          ++runs[static_cast<std::size_t>(chunk)];
        },
        [&](std::int64_t chunk) {
          EXPECT_EQ(std::this_thread::get_id(), caller);
          reported.push_back(chunk);
        });
    std::vector<std::int64_t> all(53);
    for (std::int64_t i = 0; i < 53; ++i) all[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(reported, all);
    for (const auto& n : runs) EXPECT_EQ(n.load(), 1);
  }
}

TEST(ChunkRunner, SlowThreadDoesNotHoldTheOthersBack) {
  std::atomic<int> by_slow{0}, by_others{0};
  RunChunks(
      200, 2,
      [&](std::int64_t, int worker) {
        if (worker == 1) {
          ++by_slow;
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else {
          ++by_others;
        }
      },
      [](std::int64_t) {});
  EXPECT_EQ(by_slow + by_others, 200);
  EXPECT_LT(by_slow.load(), 20);  // the fast thread took the rest instead of waiting for a fixed half
}

TEST(ChunkRunner, RethrowsTheLowestFailureAfterAllThreadsStopped) {
  for (const int threads : {1, 2, 4}) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(std::to_string(threads) + " threads, round " + std::to_string(round));
      std::atomic<int> active{0};
      std::vector<std::int64_t> reported;
      try {
        RunChunks(
            60, threads,
            [&](std::int64_t chunk, int) {
              ++active;
              // Chunk 41 fails at once; chunk 17 fails late, after others may have failed.
              if (chunk == 17) std::this_thread::sleep_for(std::chrono::milliseconds(2));
              --active;
              if (chunk == 17 || chunk == 41 || chunk == 42) throw Failure(chunk);
            },
            [&](std::int64_t chunk) { reported.push_back(chunk); });
        ADD_FAILURE() << "no exception";
      } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "chunk 17");
      }
      EXPECT_EQ(active.load(), 0);
      ASSERT_LE(reported.size(), 17u);
      for (std::size_t i = 0; i < reported.size(); ++i) EXPECT_EQ(reported[i], static_cast<std::int64_t>(i));
    }
  }
}

TEST(ChunkRunner, FailingReportComesAfterItsChunkAndBeforeTheNext) {
  for (const int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    // The report of chunk 5 fails; work on chunk 6 fails too, but comes later in the one-thread order.
    const auto run = [&](std::int64_t failing_work) {
      return MessageOf([&] {
        RunChunks(
            30, threads,
            [&](std::int64_t chunk, int) {
              if (chunk == failing_work) throw Failure(chunk);
            },
            [&](std::int64_t chunk) {
              if (chunk == 5) throw std::runtime_error("report 5");
            });
      });
    };
    EXPECT_EQ(run(6), "report 5");
    EXPECT_EQ(run(5), "chunk 5");
    EXPECT_EQ(run(4), "chunk 4");
  }
}

}  // namespace
}  // namespace kavrimo
