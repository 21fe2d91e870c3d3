// The GeoTIFF benchmark: GeoTIFFs written with libtiff from the float twin's cells, the libtiff floor, the
// engine in a child process.
#include "bench/geotiff_bench.h"

#include <geotiff.h>
#include <geovalues.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>
#include <xtiffio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <vector>

#include "app/grid/tiff_support.h"
#include "bench/engine_child.h"
#include "bench/measure.h"
#include "runtime/file.h"

namespace kavrimo::bench {
namespace {

constexpr std::uint32_t kTile = 512;
constexpr double kCellSize = 0.01;  // the float twin's: lower left corner at 180 W, 60 S

// The cell (row, column) of a large field made up here: smooth with a little noise, no no-data cells.
float LargeCell(std::int64_t row, std::int64_t column) {
  const auto hash = static_cast<std::uint32_t>((row * 2654435761u) ^ (column * 40503u));
  return static_cast<float>(1000 * std::sin(static_cast<double>(row) / 900) *
                                std::cos(static_cast<double>(column) / 700) +
                            (hash & 1023) / 256.0);
}

// Names the cells' coordinate system, latitude and longitude on WGS 84, as the GeoTIFFs users hold do:
// a file that names none must lie within the degrees' range, and the largest grid does not.
void WriteGeographicKeys(TIFF* tif, const std::string& path) {
  GTIF* keys = GTIFNew(tif);
  if (keys == nullptr) throw std::runtime_error("cannot write the GeoKeys of " + path);
  GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
  GTIFKeySet(keys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
  GTIFKeySet(keys, GeographicTypeGeoKey, TYPE_SHORT, 1, GCS_WGS_84);
  const bool ok = GTIFWriteKeys(keys) != 0;
  GTIFFree(keys);
  if (!ok) throw std::runtime_error("cannot write the GeoKeys of " + path);
}

// Writes a GeoTIFF of side x side float32 cells from cells(first_row, rows, out): tiles of kTile (or one
// strip when tiles is false), compressed by compression (with the floating-point predictor for Deflate),
// placed as the float twin is, its no-data value the twin's.
void WriteGeoTiff(const std::string& path, int side, std::uint16_t compression, bool tiles,
                  const std::function<void(std::int64_t, std::int64_t, float*)>& cells) {
  tiff::Initialize();                                              // the no-data tag known to libtiff
  TIFF* tif = XTIFFOpen(path.c_str(), side > 16384 ? "w8" : "w");  // knows the GeoTIFF tags
  if (tif == nullptr) throw std::runtime_error("cannot write " + path);
  const auto n = static_cast<std::uint32_t>(side);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, n);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, n);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
  if (tiles) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, kTile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, n);
  }
  const double scale[3] = {kCellSize, kCellSize, 0};
  const double tie[6] = {0, 0, 0, -180, -60 + side * kCellSize, 0};
  TIFFSetField(tif, 33550, 3, scale);  // ModelPixelScale
  TIFFSetField(tif, 33922, 6, tie);    // ModelTiepoint
  TIFFSetField(tif, tiff::kNoDataTag, "-9999");
  WriteGeographicKeys(tif, path);
  bool ok = true;
  if (tiles) {
    std::vector<float> band(static_cast<std::size_t>(kTile) * n), tile(static_cast<std::size_t>(kTile) * kTile);
    for (std::uint32_t y = 0; y < n && ok; y += kTile) {
      const std::uint32_t rows = std::min(kTile, n - y);
      cells(y, rows, band.data());
      for (std::uint32_t x = 0; x < n && ok; x += kTile) {
        std::fill(tile.begin(), tile.end(), 0.0f);
        for (std::uint32_t r = 0; r < rows; ++r) {
          std::memcpy(&tile[r * kTile], &band[static_cast<std::size_t>(r) * n + x],
                      std::min(kTile, n - x) * sizeof(float));
        }
        ok = TIFFWriteTile(tif, tile.data(), x, y, 0, 0) >= 0;
      }
    }
  } else {
    std::vector<float> row(n);
    for (std::uint32_t y = 0; y < n && ok; ++y) {
      cells(y, 1, row.data());
      ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
  }
  XTIFFClose(tif);
  if (!ok) throw std::runtime_error("libtiff could not write " + path);
}

// Writes a GeoTIFF of kWideTile x (kWideTile * kWideTileBands) float64 cells of LargeCell, in tiles of
// kWideTile, Deflate after the floating-point predictor: one tile a band.
constexpr std::uint32_t kWideTile = 2048, kWideTileBands = 8;
void WriteWideTiles(const std::string& path) {
  TIFF* tif = XTIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("cannot write " + path);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWideTile);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kWideTile * kWideTileBands);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 64);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
  TIFFSetField(tif, TIFFTAG_TILEWIDTH, kWideTile);
  TIFFSetField(tif, TIFFTAG_TILELENGTH, kWideTile);
  const double scale[3] = {kCellSize, kCellSize, 0};
  const double tie[6] = {0, 0, 0, -10, 80, 0};
  TIFFSetField(tif, 33550, 3, scale);  // ModelPixelScale
  TIFFSetField(tif, 33922, 6, tie);    // ModelTiepoint
  std::vector<double> tile(static_cast<std::size_t>(kWideTile) * kWideTile);
  bool ok = true;
  for (std::uint32_t y = 0; y < kWideTile * kWideTileBands && ok; y += kWideTile) {
    for (std::uint32_t r = 0; r < kWideTile; ++r) {
      for (std::uint32_t c = 0; c < kWideTile; ++c) tile[std::size_t{r} * kWideTile + c] = LargeCell(y + r, c) / 3.0;
    }
    ok = TIFFWriteTile(tif, tile.data(), 0, y, 0, 0) >= 0;
  }
  XTIFFClose(tif);
  if (!ok) throw std::runtime_error("libtiff could not write " + path);
}

// The peak memory of converting float64 tiles of 2048 x 2048 on 1, 2, 4 and 8 threads.
void MeasureWideTiles(const ScratchFolder& folder, const std::string& template_path, GeoTiffResult& result) {
  const std::string path = folder.File("wide-tiles.tif"), out = folder.File("wide-tiles.img");
  std::printf("  GeoTIFF %u x %u, float64 tiles of %u, Deflate: writing...", kWideTile, kWideTile * kWideTileBands,
              kWideTile);
  std::fflush(stdout);
  WriteWideTiles(path);
  std::printf(" peak MiB on");
  for (std::size_t i = 0; i < std::size(result.wide_tile_peaks); ++i) {
    const int threads = 1 << i;
    const EngineRun run = RunEngineInChild(path, out, template_path, threads);
    if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
    result.wide_tile_peaks[i] = static_cast<double>(run.peak_kib) / 1024;
    std::printf(" %d thread(s): %.1f;", threads, result.wide_tile_peaks[i]);
    std::fflush(stdout);
    std::filesystem::remove(out);
  }
  std::printf("\n");
  std::filesystem::remove(path);
}

// The floor: every tile decoded once by libtiff, on one thread; returns its seconds.
double DecodeEveryTileOnce(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) throw std::runtime_error("cannot read " + path);
  std::vector<char> tile(static_cast<std::size_t>(TIFFTileSize(tif)));
  double sum = 0;
  for (ttile_t t = 0; t < TIFFNumberOfTiles(tif); ++t) {
    if (TIFFReadEncodedTile(tif, t, tile.data(), static_cast<tmsize_t>(tile.size())) < 0) {
      throw std::runtime_error("libtiff could not decode " + path);
    }
    float first;
    std::memcpy(&first, tile.data(), sizeof first);
    sum += first;
  }
  TIFFClose(tif);
  if (std::isnan(sum)) std::printf(" ");  // keeps the decoding from being thrown away
  return SecondsSince(start);
}

// The peak memory of the largest grid an image holds, tiled and as one strip, on two threads.
void MeasureLargeGrids(const ScratchFolder& folder, int large_side, const std::string& template_path,
                       GeoTiffResult& result) {
  const std::string out = folder.File("tiff.img");
  // The largest grid an image holds, tiled and as one strip: resident memory must not follow its size.
  const double needed = static_cast<double>(large_side) * large_side * (4 + 1 + 1.2) + (1 << 30);
  if (large_side == 0 || static_cast<double>(folder.FreeBytes()) < needed) {
    if (large_side != 0) {
      std::printf("  GeoTIFF %d x %d: skipped, %.1f GiB free and %.1f GiB needed\n", large_side, large_side,
                  static_cast<double>(folder.FreeBytes()) / (1 << 30), needed / (1 << 30));
    }
    return;
  }
  result.large_side = large_side;
  const auto large_cells = [&](std::int64_t first_row, std::int64_t rows, float* cells) {
    for (std::int64_t r = 0; r < rows; ++r) {
      for (std::int64_t c = 0; c < large_side; ++c) cells[r * large_side + c] = LargeCell(first_row + r, c);
    }
  };
  for (const bool tiles : {true, false}) {
    const std::string large = folder.File(tiles ? "large-tiled.tif" : "large-strip.tif");
    std::printf("  GeoTIFF %d x %d, %s, Deflate: writing...", large_side, large_side,
                tiles ? "tiles of 512" : "one strip");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    WriteGeoTiff(large, large_side, COMPRESSION_ADOBE_DEFLATE, tiles, large_cells);
    std::printf(" %.0f MiB, %.0f s; converting on two threads...",
                static_cast<double>(std::filesystem::file_size(large)) / (1 << 20), SecondsSince(start));
    std::fflush(stdout);
    const EngineRun run = RunEngineInChild(large, out, template_path, 2);
    if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
    (tiles ? result.large_tiled_peak : result.large_strip_peak) = static_cast<double>(run.peak_kib) / 1024;
    (tiles ? result.large_tiled_seconds : result.large_strip_seconds) = run.seconds;
    std::printf(" %.1f s, peak %.1f MiB\n", run.seconds, static_cast<double>(run.peak_kib) / 1024);
    std::filesystem::remove(large);
    std::filesystem::remove(out);
  }
}

}  // namespace

GeoTiffResult MeasureGeoTiff(const ScratchFolder& folder, int side, int large_side, const std::string& template_path,
                             int runs) {
  GeoTiffResult result;
  result.side = side;
  const std::string twin = folder.File("tiff-twin"), deflate = folder.File("deflate.tif"),
                    plain = folder.File("plain.tif");
  std::printf("  GeoTIFF %d x %d: writing the float twin and two GeoTIFFs of its cells...", side, side);
  std::fflush(stdout);
  auto start = std::chrono::steady_clock::now();
  WriteSyntheticGrid(twin, side, 0x71ff0000u + static_cast<unsigned>(side));
  {
    const BinaryFile cells = BinaryFile::OpenExisting(twin + ".flt", OpenMode::ReadOnly);
    const auto from_twin = [&](std::int64_t first_row, std::int64_t rows, float* out) {
      cells.ReadAt(first_row * side * std::int64_t{sizeof(float)}, out,
                   static_cast<std::size_t>(rows * side) * sizeof(float));
    };
    WriteGeoTiff(deflate, side, COMPRESSION_ADOBE_DEFLATE, true, from_twin);
    WriteGeoTiff(plain, side, COMPRESSION_NONE, true, from_twin);
  }
  SettleLikeSyntheticGrids(deflate);
  SettleLikeSyntheticGrids(plain);
  std::printf(" %.0f MiB compressed, %.1f s\n", static_cast<double>(std::filesystem::file_size(deflate)) / (1 << 20),
              SecondsSince(start));

  const std::string twin_image = folder.File("tiff-twin.img"), out = folder.File("tiff.img");
  RunEngine(twin + ".flt", twin_image, template_path, 2);
  const auto engine = [&](const std::string& input, int threads, std::vector<double>& times, double* peak) {
    const EngineRun run = RunEngineInChild(input, out, template_path, threads);
    if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
    times.push_back(run.seconds);
    if (peak != nullptr) *peak = std::max(*peak, static_cast<double>(run.peak_kib) / 1024);
    if (!SameFiles(out, twin_image)) {
      result.identical = false;
      std::printf("  ! %s on %d thread(s): the image differs from the float twin's\n", input.c_str(), threads);
    }
    std::filesystem::remove(out);
  };
  DecodeEveryTileOnce(deflate);  // the page cache holds every file from here on
  DecodeEveryTileOnce(plain);
  std::vector<double> floor, engine1, engine2, plain1, twin1, others;
  for (int run = 0; run < runs; ++run) {
    const CpuClock before = CpuClock::Now();
    floor.push_back(DecodeEveryTileOnce(deflate));
    engine(deflate, 1, engine1, &result.peak1);
    engine(deflate, 2, engine2, &result.peak2);
    engine(plain, 1, plain1, nullptr);
    engine(twin + ".flt", 1, twin1, nullptr);
    others.push_back(CpuClock::Now().OthersSince(before));
    std::printf(
        "  run %d: floor %.3f  engine %.3f / %.3f s  uncompressed %.3f  float twin %.3f s  (other programs: "
        "%.2f processors)\n",
        run + 1, floor.back(), engine1.back(), engine2.back(), plain1.back(), twin1.back(), others.back());
    std::fflush(stdout);
  }
  StoreMedians({{floor, result.floor},
                {engine1, result.engine1},
                {engine2, result.engine2},
                {plain1, result.plain1},
                {twin1, result.twin1},
                {others, result.others}});
  for (const std::string& file : {twin + ".flt", twin + ".hdr", deflate, plain, twin_image})
    std::filesystem::remove(file);

  MeasureWideTiles(folder, template_path, result);
  MeasureLargeGrids(folder, large_side, template_path, result);
  return result;
}

bool ReportGeoTiff(const GeoTiffResult& r) {
  std::printf(
      "\nGeoTIFF, Deflate + FP predictor, tiles of 512   floor  engine1  engine2 | e1/floor e2/floor | peak MiB "
      "1t  2t | bytes\n");
  std::printf(
      "%5d x %-5d                                  %6.3f   %6.3f   %6.3f |   %5.2f    %5.2f  |       %5.1f "
      "%5.1f | %s\n",
      r.side, r.side, r.floor, r.engine1, r.engine2, r.engine1 / r.floor, r.engine2 / r.floor, r.peak1, r.peak2,
      r.identical ? "identical" : "DIFFER");
  std::printf("GeoTIFF, uncompressed, tiles of 512: engine1 %.3f s, its float twin %.3f s: %.2f x\n", r.plain1, r.twin1,
              r.plain1 / r.twin1);
  const bool plain = r.plain1 <= 1.2 * r.twin1;
  std::printf("GeoTIFF targets (floor: every tile decoded once by libtiff, one thread, from the page cache):\n");
  const bool threads = PrintThreadTargets(r.floor, r.engine1, r.engine2, r.others);
  std::printf("  uncompressed within 1.2 x of its float twin: %s\n", Verdict(plain));
  std::printf("  images identical to the float twin's: %s\n", Verdict(r.identical));
  const double* wide = r.wide_tile_peaks;
  const bool budget = *std::max_element(wide, wide + 4) <= 1.15 * wide[0];
  std::printf(
      "  float64 tiles of 2048, peak on 8 threads within 1.15 x of one thread's: %s (%.1f, %.1f, %.1f, %.1f MiB "
      "on 1, 2, 4, 8)\n",
      Verdict(budget), wide[0], wide[1], wide[2], wide[3]);
  bool large = true;
  if (r.large_side != 0) {
    large = r.large_tiled_peak < 64 && r.large_strip_peak < 64;
    std::printf("  %d^2 under 64 MiB resident, tiled and as one strip: %s (%.1f and %.1f MiB; %.0f and %.0f s)\n",
                r.large_side, Verdict(large), r.large_tiled_peak, r.large_strip_peak, r.large_tiled_seconds,
                r.large_strip_seconds);
  }
  return threads && plain && r.identical && budget && large;
}

}  // namespace kavrimo::bench
