// What the GeoTIFF reader and writer share of libtiff and libgeotiff: their one-time set-up (no
// handler that prints, the GeoTIFF tags and the no-data tag known to libtiff), the handlers that
// collect a handle's first error, and the numbers of the GeoKeys and tags used. Private to app/grid.
#pragma once

#include <geotiff.h>
#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kavrimo::tiff {

// The text tag that GIS tools write for a grid's no-data value, registered with libtiff by Initialize.
inline constexpr ttag_t kNoDataTag = 42113;
// The GeoTIFF tags (also registered by Initialize).
inline constexpr ttag_t kPixelScaleTag = 33550;
inline constexpr ttag_t kTiepointTag = 33922;
inline constexpr ttag_t kTransformationTag = 34264;
inline constexpr ttag_t kGeoKeyDirectoryTag = 34735;

// GeoKey values.
inline constexpr unsigned short kModelTypeProjected = 1;
inline constexpr unsigned short kModelTypeGeographic = 2;
inline constexpr unsigned short kModelTypeGeocentric = 3;
inline constexpr unsigned short kRasterPixelIsArea = 1;
inline constexpr unsigned short kRasterPixelIsPoint = 2;
inline constexpr unsigned short kUnitDegree = 9102;
inline constexpr unsigned short kUnitDegreeSupplier = 9122;  // a degree, its representation left to the supplier
inline constexpr unsigned short kUserDefined = 32767;
inline constexpr unsigned short kGreenwich = 8901;

// Once per process, before any handle is opened: libtiff's process-wide error and warning handlers
// removed (nothing is printed), libgeotiff's tags and the no-data tag registered. Safe from any thread.
void Initialize();

// A handle's messages: libtiff's and libgeotiff's first error, formatted; warnings are dropped.
struct Messages {
  std::string first_error;
  void Keep(const char* module, const char* format, va_list arguments);
};

// libtiff open options whose handlers collect into messages, and whose single allocations are bounded.
struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using Options = std::unique_ptr<TIFFOpenOptions, OptionsFree>;
Options OptionsFor(Messages& messages);

// The client procedures libtiff asks for that a reader's source and a writer's sink share: seeking and
// the size over a stream that tracks its position and size, closing and unmapping that do nothing.
template <typename Stream>
toff_t SeekStream(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<Stream*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = stream->position;
  if (whence == SEEK_END) base = stream->size;
  stream->position = base + offset;
  return stream->position;
}
template <typename Stream>
toff_t StreamSize(thandle_t handle) {
  return static_cast<Stream*>(handle)->size;
}
inline int CloseNothing(thandle_t) { return 0; }
inline void UnmapNothing(thandle_t, void*, toff_t) {}

// libgeotiff's error callback: keeps its first error in the Messages given to GTIFNewEx as user data.
void OnGeoKeyError(GTIF* gtif, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

struct GeoKeysFree {
  void operator()(GTIF* gtif) const { GTIFFree(gtif); }
};
using GeoKeys = std::unique_ptr<GTIF, GeoKeysFree>;

}  // namespace kavrimo::tiff
