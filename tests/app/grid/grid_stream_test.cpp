// The grid stream over real data files: windows mapped or read, big-endian cells swapped, files that
// end before the window, and files cut while a window is visited.
#include "app/grid/grid_stream.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "runtime/file.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

using testing_support::TempDir;

constexpr std::size_t kCells = 10000;
constexpr float kUnseen = -1e30f;

// The cells of the data file, all different.
std::vector<float> Cells() {
  std::vector<float> cells(kCells);
  for (std::size_t i = 0; i < kCells; ++i) cells[i] = static_cast<float>(i) * 0.5f - 1000;
  return cells;
}

// The data file of cells, cut to bytes.
void WriteData(const std::string& path, const std::vector<float>& cells, bool big_endian, std::size_t bytes) {
  testing_support::WriteText(path, testing_support::CellBytes(cells, big_endian).substr(0, bytes));
}

// Each visit gets the cells it is handed and runs to its end: the objects it owns are destroyed as
// usual even where a bus error came in between. A window that a cut file shortened is visited again
// from its start; otherwise the runs follow one another from the window's start, each at most the
// buffer (or the whole window, mapped), and cover exactly the cells the file holds.
TEST(GridStreamTest, VisitsExactlyTheCellsTheFileHolds) {
  const std::size_t whole = kCells * 4, cut = 1000 * 4 + 2;  // a cut leaves 1000 cells and half of one
  const struct {
    const char* name;
    bool big_endian, map;
    std::int64_t first;
    std::size_t count, file_bytes;
    bool cut_at_first_visit;
    std::size_t held, first_run;  // cells returned; cells in the first run
  } cases[] = {
      {"mapped", false, true, 0, kCells, whole, false, kCells, kCells},
      {"read", false, false, 0, kCells, whole, false, kCells, 64},
      {"big-endian, read though mapping is allowed", true, true, 0, kCells, whole, false, kCells, 64},
      {"a window inside the file, mapped", false, true, 2500, 5000, whole, false, 5000, 5000},
      {"a window past the end of a short file", false, true, 2500, 5000, 4000 * 4 + 2, false, 1500, 64},
      {"a window beyond the end", false, true, 12000, 5000, whole, false, 0, 0},
      {"mapped, cut under the window", false, true, 0, kCells, whole, true, 1000, kCells},
      {"read, cut between runs", false, false, 0, kCells, whole, true, 1000, 64},
      {"big-endian, cut between runs", true, true, 0, kCells, whole, true, 1000, 64},
  };
  const std::vector<float> cells = Cells();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("grid.flt");
    WriteData(path, cells, c.big_endian, c.file_bytes);
    const BinaryFile data = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
    BlockBuffer<float> buffer(64);
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // offset, count
    std::vector<float> seen(c.count, kUnseen);
    int visits_ended = 0;
    struct CountsItsEnd {
      int& ended;
      ~CountsItsEnd() { ++ended; }
    };
    const auto visit = [&](const float* run, std::size_t count, std::size_t offset) {
      const CountsItsEnd end{visits_ended};
      runs.emplace_back(offset, count);
      if (runs.size() == 1 && c.cut_at_first_visit) {
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut)), 0);
      }
      for (std::size_t i = 0; i < count; ++i) seen[offset + i] = run[i];  // past the cut on a mapped window
    };
    EXPECT_EQ(GridStream(data, kCells, c.big_endian, c.map).Visit(c.first, c.count, buffer, visit), c.held);
    EXPECT_EQ(visits_ended, static_cast<int>(runs.size()));
    ASSERT_EQ(runs.empty() ? 0 : runs.front().second, c.first_run);
    const bool visited_again = c.cut_at_first_visit && c.first_run == kCells;
    std::size_t next = 0;
    for (std::size_t i = visited_again ? 1 : 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].first, next) << "run " << i;
      EXPECT_LE(runs[i].second, c.first_run) << "run " << i;
      next += runs[i].second;
    }
    EXPECT_EQ(next, c.held);
    std::vector<float> expected(c.count, kUnseen);
    if (c.held > 0) std::copy_n(cells.begin() + c.first, c.held, expected.begin());
    if (visited_again) {
      seen.resize(c.held);  // the rest came from the mapped window before the cut was found
      expected.resize(c.held);
    }
    EXPECT_EQ(seen, expected);
  }
}

}  // namespace
}  // namespace kavrimo
