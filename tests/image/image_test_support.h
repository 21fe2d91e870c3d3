// Helpers for the image component tests: a temporary directory, a recording user interface and a
// byte-level header builder with its own copy of the field offsets.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_ui.h"
#include "runtime/real48.h"

namespace kavrimo::test {

// Header offsets as the file format lays them out (kept apart from the code under test on purpose).
namespace off {
inline constexpr int kImageType = 22, kProjection = 23, kRows = 30, kColumns = 32, kComment = 38;
inline constexpr int kRefLatitude = 120, kRefLongitude = 126, kRefColumn = 132, kRefRow = 138;
inline constexpr int kColumnSpacing = 144, kRowSpacing = 150, kProjParam1 = 156, kProjParam2 = 162;
inline constexpr int kMinValue = 168, kMaxValue = 169, kMissingValue = 170, kGain = 171, kOffset = 177;
inline constexpr int kDecimals = 183;
}  // namespace off

using ByteVector = std::vector<std::uint8_t>;

class TempDir {
 public:
  // In base, or in the system's temporary directory.
  explicit TempDir(std::filesystem::path base = std::filesystem::temp_directory_path()) {
    std::string pattern = (base / "kavrimo-image-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class RecordingUi : public ImageUi {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void SetBusyCursor(bool busy) override { cursor.push_back(busy); }
  std::vector<std::string> errors;
  std::vector<bool> cursor;
};

// A 512-byte header (or any length) built byte by byte.
class HeaderBytes {
 public:
  explicit HeaderBytes(std::size_t size = 512) : bytes_(size, 0) {}
  HeaderBytes& U8(int offset, std::uint8_t v) {
    bytes_.at(static_cast<std::size_t>(offset)) = v;
    return *this;
  }
  HeaderBytes& I16(int offset, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    U8(offset, static_cast<std::uint8_t>(u & 0xFF));
    return U8(offset + 1, static_cast<std::uint8_t>(u >> 8));
  }
  HeaderBytes& Real(int offset, long double v) { return Raw(offset, Real48::Round(v).ToBytes()); }
  HeaderBytes& Raw(int offset, const Real48::Bytes& b) {
    for (std::size_t i = 0; i < b.size(); ++i) U8(offset + static_cast<int>(i), b[i]);
    return *this;
  }
  const ByteVector& Bytes() const { return bytes_; }
  ByteVector& Bytes() { return bytes_; }

 private:
  ByteVector bytes_;
};

inline void WriteBytes(const std::string& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline ByteVector ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Real48::Bytes BytesAt(const ByteVector& bytes, int offset) {
  Real48::Bytes b{};
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = bytes.at(static_cast<std::size_t>(offset) + i);
  return b;
}

// text cut or padded with fill to the 80 characters of a Comment.
inline std::string PadForTest(std::string text, char fill) {
  text.resize(80, fill);
  return text;
}

// Sets a file's modification time far into the past, so any later write shows.
inline void AgeFile(const std::string& path) {
  const struct timeval times[2] = {{946684800, 0}, {946684800, 0}};  // 2000-01-01
  ::utimes(path.c_str(), times);
}

inline std::int64_t ModificationTime(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return static_cast<std::int64_t>(st.st_mtime);
}

}  // namespace kavrimo::test
