// What a GeoTIFF reader holds, shared by the reading of its tags (geotiff_tags.cpp, geotiff_georeference.cpp)
// and the decoding of its blocks (geotiff_decoding.cpp). Private to app/grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>

#include "app/grid/geotiff_grid.h"
#include "app/grid/grid_stream.h"
#include "app/grid/tiff_support.h"
#include "runtime/file.h"
#include "runtime/mapped_file.h"

namespace kavrimo {

// Where libtiff reads: a file (read at a tracked offset, and mapped whole when it can be) or bytes in
// memory.
struct GeoTiffSourceBytes {
  BinaryFile file;
  std::optional<MappedWindow> window;
  bool in_memory = false;
  std::span<const std::uint8_t> memory;
  std::uint64_t size = 0;           // the file's size when it was opened
  std::uint64_t position = 0;       // libtiff's read position
  std::exception_ptr read_failure;  // what a read raised inside libtiff
};

// Reads up to count bytes at offset (fewer at the end of the file) and returns how many came.
std::size_t ReadSourceBytes(const GeoTiffSourceBytes& source, std::uint64_t offset, void* buffer, std::size_t count);

// Where a grid lies, in the units of its coordinate system: the left and top edges and the spacings
// (columns west to east, rows north to south).
struct GeoTiffPlacement {
  double left = 0;
  double top = 0;
  double column_spacing = 0;
  double row_spacing = 0;
};

struct GeoTiffReader::State {
  std::string name;
  GeoTiffSourceBytes source;
  tiff::Messages messages;
  TIFF* tif = nullptr;

  GeoTiffInfo info;
  std::size_t sample_bytes = 4;
  std::int64_t rows_per_strip = 0;
  bool bits_reversed = false;  // FillOrder 2: libtiff reverses the stored bytes' bits before decoding
  std::optional<std::uint16_t> key_directory_type;        // the stored type of the GeoKey directory, when there is one
  bool has_empty_blocks = false;                          // blocks without bytes (filled with the no-data value)
  std::optional<BlockBuffer<std::uint64_t>> block;        // the block decoded: its samples, then its cells
  std::optional<BlockBuffer<std::uint64_t>> row_samples;  // one row's samples, for runs of rows
  std::uint64_t decoded_bytes = 0;                        // mapped bytes decoded since the pages were last released
  std::int64_t next_scanline = -1;                        // the row libtiff's scanline reading gives next, -1 none

  ~State() {
    if (tif != nullptr) TIFFClose(tif);
  }

  [[noreturn]] void Fail(const std::string& what) const { throw EGeoTiffError(name + " " + what); }
  // Raises what made libtiff fail: a read error, or its first error message.
  [[noreturn]] void FailFromLibrary() const;
  void CheckLibrary() const {
    if (source.read_failure || !messages.first_error.empty()) FailFromLibrary();
  }

  // Runs call, which may make libtiff touch the mapping, under a guard against the file shrinking.
  template <typename Call>
  void Guarded(Call call) {
    if (!source.window) {
      call();
      return;
    }
    VisitMappedWhole(*source.window, source.file, name, [&] { call(); });
  }

  // Opening (geotiff_decoding.cpp): the client procedures, then the tags.
  void Open();
  // The tags (geotiff_tags.cpp).
  void CheckDirectoryInside();
  void ReadInfo();
  std::uint64_t ReadBlockShape();
  void CheckBlocksInside(std::uint64_t needed);
  void ReadNoData();
  // The georeference (geotiff_georeference.cpp).
  void ReadGeoreference();
  GTIF* OpenGeoKeys();
  bool CheckCoordinateSystem(GTIF* keys);
  void CheckPrimeMeridian(GTIF* keys);
  void CheckDegrees(const GeoTiffPlacement& placement);
  GeoTiffPlacement ReadPlacement();
  void PlaceHeader(const GeoTiffPlacement& placement);
  // Decoding (geotiff_decoding.cpp).
  void Decoded(std::uint64_t bytes);
  float* Block();
  unsigned char* Row();
  bool FillEmpty(std::uint32_t strile, float* out, std::int64_t cells);
  void ReadStrile(std::uint32_t strile, void* buffer, std::int64_t bytes);
  void ReadScanlines(std::int64_t first_row, std::int64_t count, float* out);
};

}  // namespace kavrimo
