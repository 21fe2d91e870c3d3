// Test support for the app tests: small grids on disk, the template, a recording front end, conversions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/conversion/conversion.h"
#include "image/image_pixels.h"
#include "tests/support/files.h"

namespace kavrimo::testing_support {

// The Real48 at offset of an image file's bytes (an image header field), as its exact double.
double Real48At(const std::vector<std::uint8_t>& file, std::size_t offset);

// Writes base.hdr and base.flt for ncols x nrows cells (cells in file order, little-endian unless
// big_endian). extra_header lines are appended to the header text.
void WriteGrid(const std::string& base, int ncols, int nrows, const std::vector<float>& cells,
               const std::string& extra_header = "NODATA_value -9999\n", bool big_endian = false, float xllcorner = 0,
               float yllcorner = 0, float cellsize = 1);

// A new, empty image file at path, opened for writing its pixels.
ImagePixels NewImagePixels(const std::string& path);

// The template the build generates beside the programs.
std::string TemplatePath();

// The error message of a conversion through a fresh image component, "" when it succeeded.
std::string ConvertMessage(const ConversionRequest& request, ConversionHost& host);

// Records every call of the engine and the image component, in order, as text:
// "busy 1", "progress 33", "status <text>", "process", "info <text>", "error <text>".
class RecordingHost : public ConversionHost {
 public:
  void SetStatus(const std::string& text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void SetBusyCursor(bool busy) override;

  std::vector<std::string> events;
  std::vector<std::string> statuses;
  std::vector<int> progress;
  bool busy = false;
};

}  // namespace kavrimo::testing_support
