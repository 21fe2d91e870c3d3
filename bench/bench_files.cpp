// Scratch folder, synthetic grids and adversarial grids for the benchmark.
#include "bench/bench_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "app/conversion/cell_coding.h"
#include "runtime/file.h"

namespace kavrimo::bench {
namespace {

void WriteHeader(const std::string& base, int ncols, int nrows) {
  BinaryFile header = BinaryFile::Create(base + ".hdr");
  const std::string text = "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) +
                           "\nxllcorner -180\nyllcorner -60\ncellsize 0.01\nNODATA_value " + std::to_string(kNoData) +
                           "\nbyteorder LSBFIRST\n";
  header.WriteExactly(text.data(), text.size());
  header.Close();
}

// A small fast generator (xorshift64*), enough for noise.
struct Noise {
  std::uint64_t state;
  std::uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ull;
  }
  float Uniform() { return static_cast<float>(Next() >> 40) * (1.0f / 16777216.0f); }  // [0, 1)
};

// The folder to empty when a signal ends the benchmark; it holds plain files and folders of plain files.
char g_scratch[4096];

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Removes what folder holds, a level of folders deep, with calls safe in a signal handler.
void EmptyFolder(int folder) {
  if (DIR* dir = ::fdopendir(folder)) {
    while (const dirent* entry = ::readdir(dir)) {
      if (IsDotOrDotDot(entry->d_name) || ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) continue;
      const int inner = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY);
      if (inner < 0) continue;
      if (DIR* sub = ::fdopendir(inner)) {
        while (const dirent* file = ::readdir(sub)) {
          if (!IsDotOrDotDot(file->d_name)) ::unlinkat(::dirfd(sub), file->d_name, 0);
        }
        ::closedir(sub);
      }
      ::unlinkat(::dirfd(dir), entry->d_name, AT_REMOVEDIR);
    }
    ::closedir(dir);
  }
}

void RemoveScratchAndDie(int signal) {
  const int folder = ::open(g_scratch, O_RDONLY | O_DIRECTORY);
  if (folder >= 0) EmptyFolder(folder);
  ::rmdir(g_scratch);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kavrimo-bench-XXXXXX").string();
  if (pattern.size() >= sizeof g_scratch || ::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder in " + pattern);
  }
  path_ = pattern;
  std::memcpy(g_scratch, pattern.c_str(), pattern.size() + 1);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, RemoveScratchAndDie);
}

ScratchFolder::~ScratchFolder() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::uintmax_t ScratchFolder::FreeBytes() const { return std::filesystem::space(path_).available; }

void WriteSyntheticGrid(const std::string& base, int side, std::uint64_t seed) {
  WriteHeader(base, side, side);
  std::vector<float> across(static_cast<std::size_t>(side)), down(static_cast<std::size_t>(side));
  for (int i = 0; i < side; ++i) {
    across[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2 * std::numbers::pi * i / 5000.0));
    down[static_cast<std::size_t>(i)] = static_cast<float>(std::cos(2 * std::numbers::pi * i / 7000.0));
  }
  BinaryFile data = BinaryFile::Create(base + ".flt");
  Noise noise{seed | 1};
  std::vector<float> rows;
  const int rows_per_write = std::max(1, (1 << 20) / side);
  for (int y = 0; y < side; y += rows_per_write) {
    rows.clear();
    for (int r = y; r < std::min(side, y + rows_per_write); ++r) {
      for (int x = 0; x < side; ++x) {
        const float field = 1500.0f * across[static_cast<std::size_t>(x)] * down[static_cast<std::size_t>(r)] +
                            0.02f * static_cast<float>(x - r) + 4.0f * (noise.Uniform() - 0.5f);
        rows.push_back(noise.Uniform() < 0.1f ? static_cast<float>(kNoData) : field);
      }
    }
    data.WriteExactly(rows.data(), rows.size() * sizeof(float));
  }
  ::fdatasync(data.Descriptor());
  data.Close();
}

void SettleLikeSyntheticGrids(const std::string& path) {
  const std::string copy = path + ".settling";
  {
    const BinaryFile from = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
    BinaryFile to = BinaryFile::Create(copy);
    std::vector<char> piece(std::size_t{4} << 20);
    for (std::int64_t at = 0;;) {
      const std::size_t got = from.ReadAt(at, piece.data(), piece.size());
      if (got == 0) break;
      to.WriteExactly(piece.data(), got);
      at += static_cast<std::int64_t>(got);
    }
    ::fdatasync(to.Descriptor());
  }
  std::filesystem::rename(copy, path);
}

void WriteGridCells(const std::string& base, const std::vector<float>& cells, int ncols) {
  const auto columns = static_cast<std::size_t>(ncols);
  std::vector<float> padded = cells;
  padded.resize((cells.size() + columns - 1) / columns * columns, static_cast<float>(kNoData));
  WriteHeader(base, ncols, static_cast<int>(padded.size() / columns));
  BinaryFile data = BinaryFile::Create(base + ".flt");
  data.WriteExactly(padded.data(), padded.size() * sizeof(float));
  data.Close();
}

std::vector<float> AdversarialCells(float minimum, float maximum) {
  const CellScale scale = ScaleFor({maximum, minimum});
  std::vector<float> cells{minimum, maximum};
  const auto add_near = [&](long double v, int ulps) {
    float up = static_cast<float>(v), down = up;
    for (int i = 0; i <= ulps; ++i) {
      for (const float cell : {up, down}) {
        if (cell >= minimum && cell <= maximum) cells.push_back(cell);
      }
      up = std::nextafter(up, std::numeric_limits<float>::infinity());
      down = std::nextafter(down, -std::numeric_limits<float>::infinity());
    }
    cells.push_back(static_cast<float>(kNoData));
  };
  for (int k = 0; k <= 253; ++k) {
    add_near(static_cast<long double>(scale.intercept) + (k + 0.5L) * scale.slope, 16);
  }
  for (const float v : {minimum, maximum, 0.0f, FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MIN, -FLT_MIN, FLT_MAX, -FLT_MAX}) {
    add_near(v, 8);
  }
  return cells;
}

}  // namespace kavrimo::bench
