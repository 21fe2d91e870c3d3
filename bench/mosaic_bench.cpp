// Mosaics measured: tiles cut from a synthetic grid, each mosaic run in a child process beside the
// conversion of the grid itself, interleaved run by run so that other programs weigh on both alike.
#include "bench/mosaic_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "app/grid/geotiff_library.h"
#include "bench/engine_child.h"
#include "bench/measure.h"
#include "bench/plain_passes.h"
#include "runtime/file.h"

namespace kavrimo::bench {
namespace {

constexpr int kSide = 8192;
constexpr double kCell = 0.01;  // as the synthetic grids' header gives it, from -180 W and -60 S

void WriteTileHeader(const std::string& base, int side, double xll, double yll) {
  char text[256];
  std::snprintf(text, sizeof text,
                "ncols %d\nnrows %d\nxllcorner %.9g\nyllcorner %.9g\ncellsize 0.01\nNODATA_value %d\n"
                "byteorder LSBFIRST\n",
                side, side, xll, yll, kNoData);
  BinaryFile header = BinaryFile::Create(base + ".hdr");
  header.WriteExactly(text, std::char_traits<char>::length(text));
  header.Close();
}

// The names of n x n tiles of side cells, in row order from the top, but the bottom-left tile first, so
// that the mosaic's corner is exactly the grid's.
std::vector<std::string> TileNames(const ScratchFolder& folder, const std::string& prefix, int n) {
  std::vector<std::string> names;
  for (int ty = 0; ty < n; ++ty) {
    for (int tx = 0; tx < n; ++tx) names.push_back(folder.File(prefix + std::to_string(ty) + "_" + std::to_string(tx)));
  }
  std::rotate(names.begin(), names.begin() + (n - 1) * n, names.begin() + (n - 1) * n + 1);
  return names;
}

// Cuts the synthetic grid base (kSide x kSide) into tiles of side cells.
std::vector<std::string> CutIntoTiles(const ScratchFolder& folder, const std::string& base, int side,
                                      const std::string& prefix) {
  const int n = kSide / side;
  const BinaryFile grid = BinaryFile::OpenExisting(base + ".flt", OpenMode::ReadOnly);
  std::vector<float> band(static_cast<std::size_t>(side) * kSide), tile(static_cast<std::size_t>(side) * side);
  for (int ty = 0; ty < n; ++ty) {
    grid.ReadAt(std::int64_t{ty} * side * kSide * 4, band.data(), band.size() * sizeof(float));
    for (int tx = 0; tx < n; ++tx) {
      for (int r = 0; r < side; ++r) {
        std::copy_n(band.begin() + std::int64_t{r} * kSide + tx * side, side, tile.begin() + std::int64_t{r} * side);
      }
      const std::string name = folder.File(prefix + std::to_string(ty) + "_" + std::to_string(tx));
      WriteTileHeader(name, side, -180 + tx * side * kCell, -60 + (n - 1 - ty) * side * kCell);
      BinaryFile cells = BinaryFile::Create(name + ".flt");
      cells.WriteExactly(tile.data(), tile.size() * sizeof(float));
      cells.Close();
      SettleLikeSyntheticGrids(name + ".flt");  // cached as the grid is, so that both map alike
    }
  }
  return TileNames(folder, prefix, n);
}

ConversionRequest MosaicOf(std::vector<std::string> inputs, const std::string& out, const std::string& template_path,
                           int threads) {
  ConversionRequest request{inputs.front(), out, template_path, threads};
  request.mosaic.emplace();
  request.mosaic->inputs = std::move(inputs);
  return request;
}

EngineRun Run(const ConversionRequest& request) {
  const EngineRun run = RunRequestInChild(request);
  if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
  return run;
}

// A box on the lattice lines around the 8 x 8 tiles of 256 cells in the middle of the grid.
MosaicBounds Sixteenth() {
  const double top = -60 + kSide * kCell;
  return {-180 + 3072 * kCell, top - 5120 * kCell, -180 + 5120 * kCell, top - 3072 * kCell, "a sixteenth"};
}

// The names of the tiles of side 256 (prefix "b") that the box of Sixteenth() touches.
std::vector<std::string> SixteenthTiles(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (int ty = 12; ty < 20; ++ty) {
    for (int tx = 12; tx < 20; ++tx) names.push_back(folder.File("b" + std::to_string(ty) + "_" + std::to_string(tx)));
  }
  return names;
}

// One timed run of each floor: what the mosaics of 64 and 1024 tiles and the box must at least read and
// write, whatever they compute.
void TimeFloors(const ScratchFolder& folder, const std::vector<std::string>& tiles64,
                const std::vector<std::string>& tiles1024, const std::string& out, std::vector<double> (&floors)[3]) {
  const std::int64_t cells = std::int64_t{kSide} * kSide;
  const std::vector<std::string> box = SixteenthTiles(folder);
  const auto timed = [&](const std::vector<std::string>& headers, const std::vector<std::string>& grids,
                         std::int64_t out_cells) {
    const double seconds = Seconds([&] { ReadGridsTwiceWriteQuarter(headers, grids, out_cells, out); });
    std::filesystem::remove(out);  // each run writes a new file, as the mosaics do
    return seconds;
  };
  floors[0].push_back(timed(tiles64, tiles64, cells));
  floors[1].push_back(timed(tiles1024, tiles1024, cells));
  floors[2].push_back(timed(tiles1024, box, cells / 16));
}

}  // namespace

namespace {

// The images every timed run must match: the grid's own, a box of it, and its coarse cells.
struct Checks {
  std::string whole, box, coarse;
};

// One timed run of every case on threads threads; false when an image differs from the grid's.
bool TimeOnce(const std::string& twin, const std::vector<std::string>& tiles64,
              const std::vector<std::string>& tiles1024, const Checks& checks, const std::string& out,
              const std::string& template_path, int threads, std::vector<double> (&times)[5]) {
  bool same = true;
  const auto timed = [&](const ConversionRequest& request, int which, const std::string& check) {
    times[which].push_back(Run(request).seconds);
    same = SameCodedBytes(out, check) && same;
    std::filesystem::remove(out);
  };
  timed({twin, out, template_path, threads}, 0, checks.whole);
  timed(MosaicOf(tiles64, out, template_path, threads), 1, checks.whole);
  timed(MosaicOf(tiles1024, out, template_path, threads), 2, checks.whole);
  ConversionRequest box = MosaicOf(tiles1024, out, template_path, threads);
  box.mosaic->bounds = Sixteenth();
  timed(box, 3, checks.box);
  ConversionRequest coarse = MosaicOf({twin}, out, template_path, threads);
  coarse.mosaic->cell_size = 4 * kCell;
  timed(coarse, 4, checks.coarse);
  return same;
}

// The images to check against, made once: the box and the coarse cells of the grid itself, and the
// coarse cells of its 64 tiles, which must equal the grid's.
Checks MakeChecks(const ScratchFolder& folder, const std::string& twin, const std::vector<std::string>& tiles64,
                  const std::string& template_path, bool& identical) {
  Checks checks{folder.File("whole.img"), folder.File("box.img"), folder.File("coarse.img")};
  Run({twin, checks.whole, template_path, 2});
  ConversionRequest box = MosaicOf({twin}, checks.box, template_path, 2);
  box.mosaic->bounds = Sixteenth();
  Run(box);
  ConversionRequest coarse = MosaicOf({twin}, checks.coarse, template_path, 2);
  coarse.mosaic->cell_size = 4 * kCell;
  Run(coarse);
  coarse = MosaicOf(tiles64, folder.File("coarse64.img"), template_path, 2);
  coarse.mosaic->cell_size = 4 * kCell;
  Run(coarse);
  identical = SameCodedBytes(folder.File("coarse64.img"), checks.coarse);
  std::filesystem::remove(folder.File("coarse64.img"));
  return checks;
}

// 1024 tiles of 1000 x 1000 cells, float grids or Deflate GeoTIFFs, for a 32000 x 32000 mosaic.
std::vector<std::string> WriteLargeTiles(const ScratchFolder& folder, bool geotiff) {
  constexpr int kTile = 1000, kTiles = 32;
  std::vector<float> cells(static_cast<std::size_t>(kTile) * kTile);
  std::vector<std::string> names;
  for (int ty = 0; ty < kTiles; ++ty) {
    for (int tx = 0; tx < kTiles; ++tx) {
      for (int r = 0; r < kTile; ++r) {
        for (int c = 0; c < kTile; ++c) {
          const int row = ty * kTile + r, col = tx * kTile + c;
          cells[static_cast<std::size_t>(r) * kTile + static_cast<std::size_t>(c)] =
              (row * 7 + col * 13) % 97 == 0 ? static_cast<float>(kNoData) : static_cast<float>((row ^ col) % 4000);
        }
      }
      const std::string base = folder.File("large_" + std::to_string(ty) + "_" + std::to_string(tx));
      const double left = -180 + tx * kTile * kCell, bottom = -60 + (kTiles - 1 - ty) * kTile * kCell;
      if (geotiff) {
        BinaryFile::Create(base + ".tif").Close();
        const std::unique_ptr<GeoTiffEncoder> writer = CreateGeoTiff(
            base + ".tif",
            {kTile, kTile, left, bottom + kTile * kCell, kCell, kCell, static_cast<double>(kNoData), 4326});
        writer->WriteRows(0, kTile, cells.data());
        writer->Finish();
        names.push_back(base + ".tif");
      } else {
        WriteTileHeader(base, kTile, left, bottom);
        BinaryFile file = BinaryFile::Create(base + ".flt");
        file.WriteExactly(cells.data(), cells.size() * sizeof(float));
        file.Close();
        names.push_back(base);
      }
    }
  }
  return names;
}

void MeasureLarge(const ScratchFolder& folder, const std::string& template_path, MosaicBenchResult& result) {
  const double needed = 32000.0 * 32000 * (4 + 4 + 4 + 1) + (1 << 30);  // tiles, their GeoTIFFs, scratch, image
  if (static_cast<double>(folder.FreeBytes()) < needed) {
    std::printf("  32000 x 32000 mosaics: skipped, %.1f GiB free and %.1f GiB needed\n",
                static_cast<double>(folder.FreeBytes()) / (1 << 30), needed / (1 << 30));
    return;
  }
  result.large_side = 32000;
  const std::string out = folder.File("large.img");
  for (const bool geotiff : {false, true}) {
    std::printf("  32000 x 32000 of 1024 %s tiles: writing...", geotiff ? "GeoTIFF (Deflate)" : "float");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> tiles = WriteLargeTiles(folder, geotiff);
    std::printf(" %.0f s; on two threads...", SecondsSince(start));
    std::fflush(stdout);
    EngineRun run = Run(MosaicOf(tiles, out, template_path, 2));
    (geotiff ? result.large_geotiff_peak : result.large_float_peak) = static_cast<double>(run.peak_kib) / 1024;
    (geotiff ? result.large_geotiff_seconds : result.large_float_seconds) = run.seconds;
    std::printf(" %.1f s, peak %.1f MiB", run.seconds, static_cast<double>(run.peak_kib) / 1024);
    if (!geotiff) {
      std::shuffle(tiles.begin(), tiles.end(), std::mt19937(7));
      run = Run(MosaicOf(tiles, out, template_path, 2));
      result.large_shuffled_peak = static_cast<double>(run.peak_kib) / 1024;
      std::printf("; shuffled %.1f s, peak %.1f MiB", run.seconds, result.large_shuffled_peak);
    }
    std::printf("\n");
    for (const std::string& tile : tiles) {
      for (const char* extension : {"", ".hdr", ".flt"}) std::filesystem::remove(tile + extension);
    }
    std::filesystem::remove(out);
  }
}

}  // namespace

MosaicBenchResult MeasureMosaic(const ScratchFolder& folder, const std::string& template_path, int runs, bool large) {
  MosaicBenchResult result;
  const std::string twin = folder.File("mosaic-twin"), out = folder.File("mosaic.img");
  std::printf("  mosaics: writing a %d x %d grid and cutting it into tiles...", kSide, kSide);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  WriteSyntheticGrid(twin, kSide, 0x305a1c00u);
  const std::vector<std::string> tiles64 = CutIntoTiles(folder, twin, 1024, "a");
  const std::vector<std::string> tiles1024 = CutIntoTiles(folder, twin, 256, "b");
  std::printf(" %.1f s\n", SecondsSince(start));
  const Checks checks = MakeChecks(folder, twin, tiles64, template_path, result.identical);
  std::vector<double> times[2][5], floors[3], others;
  for (int run = 0; run < runs; ++run) {
    const CpuClock before = CpuClock::Now();
    TimeFloors(folder, tiles64, tiles1024, out, floors);
    for (int t = 0; t < 2; ++t) {
      result.identical =
          TimeOnce(twin, tiles64, tiles1024, checks, out, template_path, t + 1, times[t]) && result.identical;
    }
    others.push_back(CpuClock::Now().OthersSince(before));
    std::printf(
        "  run %d: grid %.3f / %.3f  64 tiles %.3f / %.3f  1024 tiles %.3f / %.3f  box %.3f / %.3f  "
        "coarse %.3f / %.3f s  (other programs: %.2f processors)\n",
        run + 1, times[0][0].back(), times[1][0].back(), times[0][1].back(), times[1][1].back(), times[0][2].back(),
        times[1][2].back(), times[0][3].back(), times[1][3].back(), times[0][4].back(), times[1][4].back(),
        others.back());
    std::fflush(stdout);
  }
  for (int t = 0; t < 2; ++t) {
    result.twin[t] = Median(times[t][0]);
    result.tiles64[t] = Median(times[t][1]);
    result.tiles1024[t] = Median(times[t][2]);
    result.bounds[t] = Median(times[t][3]);
    result.coarse[t] = Median(times[t][4]);
  }
  result.floor64 = Median(floors[0]);
  result.floor1024 = Median(floors[1]);
  result.floor_bounds = Median(floors[2]);
  result.others = Median(others);
  std::filesystem::remove_all(folder.File(""));
  std::filesystem::create_directory(folder.File(""));
  if (large) MeasureLarge(folder, template_path, result);
  return result;
}

bool ReportMosaic(const MosaicBenchResult& r) {
  std::printf(
      "\nmosaic, median seconds (1 / 2 threads)      grid       64 tiles     1024 tiles    box 1/16     "
      "coarse k=4\n");
  std::printf("                                      %5.3f/%5.3f  %5.3f/%5.3f  %5.3f/%5.3f  %5.3f/%5.3f  %5.3f/%5.3f\n",
              r.twin[0], r.twin[1], r.tiles64[0], r.tiles64[1], r.tiles1024[0], r.tiles1024[1], r.bounds[0],
              r.bounds[1], r.coarse[0], r.coarse[1]);
  bool met = r.identical;
  std::printf("targets (other programs kept %.2f processors busy):\n", r.others);
  for (int t = 0; t < 2; ++t) {
    const double a = r.tiles64[t] / r.twin[t], b = r.tiles1024[t] / r.twin[t], c = r.bounds[t] / r.tiles1024[t],
                 d = r.coarse[t] / r.twin[t];
    std::printf(
        "  %d thread(s): 64 tiles %.2f x the grid (<= 1.2): %s  1024 tiles %.2f x (<= 1.3): %s  box %.3f x "
        "the whole mosaic (<= 0.1): %s  coarse %.2f x (<= 1.1): %s\n",
        t + 1, a, Verdict(a <= 1.2), b, Verdict(b <= 1.3), c, Verdict(c <= 0.1), d, Verdict(d <= 1.1));
    met = met && a <= 1.2 && b <= 1.3 && c <= 0.1 && d <= 1.1;
  }
  std::printf(
      "  floors (the files read twice and the image written, one thread): 64 tiles %.2f x the grid, 1024 tiles "
      "%.2f x, box %.3f x the whole mosaic\n",
      r.floor64 / r.twin[0], r.floor1024 / r.twin[0], r.floor_bounds / r.tiles1024[0]);
  std::printf("  images identical to the grid's own (whole, box, coarse; coarse of the tiles): %s\n",
              Verdict(r.identical));
  if (r.large_side != 0) {
    const double peak = std::max({r.large_float_peak, r.large_shuffled_peak, r.large_geotiff_peak});
    std::printf(
        "  32000 x 32000 of 1024 tiles, peak resident memory < 64 MiB: float %.1f (shuffled %.1f), GeoTIFF "
        "%.1f MiB: %s  (%.1f s and %.1f s)\n",
        r.large_float_peak, r.large_shuffled_peak, r.large_geotiff_peak, Verdict(peak < 64), r.large_float_seconds,
        r.large_geotiff_seconds);
    met = met && peak < 64;
  }
  return met;
}

}  // namespace kavrimo::bench
