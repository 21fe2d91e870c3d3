// The benchmark's files: a temporary folder removed at the end, large synthetic grids, adversarial grids.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/no_copy.h"

namespace kavrimo::bench {

// A fresh folder under the system's temporary directory, removed with all it holds when destroyed, and
// also when the benchmark is interrupted (SIGINT, SIGTERM, SIGHUP). One at a time.
class ScratchFolder : NoCopy {
 public:
  ScratchFolder();
  ~ScratchFolder();
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Bytes free on the folder's file system.
  std::uintmax_t FreeBytes() const;

 private:
  std::filesystem::path path_;
};

inline constexpr std::int32_t kNoData = -9999;

// Writes base.hdr and base.flt: a smooth field plus noise, about one cell in ten no-data, streamed
// through a small buffer and flushed to disk so the page cache holds it clean.
void WriteSyntheticGrid(const std::string& base, int side, std::uint64_t seed);

// Writes path again as WriteSyntheticGrid writes its grids (4 MiB at a time, then flushed), so that the
// page cache holds both alike: how a file was written decides the size of its cached pieces, and with it
// what mapping the file costs. Files compared with those grids are settled first.
void SettleLikeSyntheticGrids(const std::string& path);

// Writes base.hdr and base.flt holding exactly cells (ncols columns, rows as needed, no-data padding).
void WriteGridCells(const std::string& base, const std::vector<float>& cells, int ncols);

// Cells whose quotient under the scale of [minimum, maximum] lies on or next to every tie k + 0.5
// (k = 0 to 253), with the range's ends, 0, and the smallest and largest single magnitudes inside it,
// and no-data cells between them. The range's ends are among the cells, so the grid has that range.
std::vector<float> AdversarialCells(float minimum, float maximum);

}  // namespace kavrimo::bench
