// Test support without any project library: temporary folders, reading and writing whole files, and
// the message of what a call throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/no_copy.h"

namespace kavrimo::testing_support {

// A fresh folder under the system's temporary directory, removed with everything in it at the end.
class TempDir : NoCopy {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);  // the bytes of a file as a string
// The bytes of a data file holding float cells (little-endian unless big_endian).
std::string CellBytes(const std::vector<float>& cells, bool big_endian);
std::vector<std::string> ListFolder(const std::filesystem::path& dir);

// The message of what run throws (any std::exception), or "no error".
std::string MessageOf(const std::function<void()>& run);

}  // namespace kavrimo::testing_support
