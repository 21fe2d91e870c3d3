// Test support: temporary folders, small grids on disk, a recording front end, file reading helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/conversion/conversion.h"

namespace kavrimo::testing_support {

// A fresh folder under the system's temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);  // the bytes of a file as a string
// The Real48 at offset of an image file's bytes (an image header field), as its exact double.
double Real48At(const std::vector<std::uint8_t>& file, std::size_t offset);
std::vector<std::string> ListFolder(const std::filesystem::path& dir);

// Writes base.hdr and base.flt for ncols x nrows cells (cells in file order, little-endian unless
// big_endian). extra_header lines are appended to the header text.
void WriteGrid(const std::string& base, int ncols, int nrows, const std::vector<float>& cells,
               const std::string& extra_header = "NODATA_value -9999\n", bool big_endian = false,
               float xllcorner = 0, float yllcorner = 0, float cellsize = 1);

// The template the build generates beside the programs.
std::string TemplatePath();

// The message of what run throws (any std::exception), or "no error".
std::string MessageOf(const std::function<void()>& run);

// The error message of a conversion through a fresh image component, "" when it succeeded.
std::string ConvertMessage(const ConversionRequest& request, ConversionHost& host);

// Records every call of the engine and the image component, in order, as text:
// "busy 1", "save <in>|<out>", "progress 33", "status <text>", "process", "info <text>", "error <text>".
class RecordingHost : public ConversionHost {
 public:
  void SaveNames(const std::string& input, const std::string& output) override;
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
  bool fail_save = false;  // SaveNames raises, as an unwritable settings file does
};

}  // namespace kavrimo::testing_support
