// Helpers for the image component tests: a recording user interface, a byte-level header builder with
// its own copy of the field offsets, and an attached-image fixture in a temporary directory.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "image/image_ui.h"
#include "image/kel_img.h"
#include "runtime/real48.h"
#include "tests/support/files.h"

namespace kavrimo::test {

// Header offsets as the file format lays them out (kept apart from the code under test on purpose).
namespace off {
inline constexpr int kImageType = 22, kProjection = 23, kRows = 30, kColumns = 32, kComment = 38;
inline constexpr int kRefLatitude = 120, kRefLongitude = 126, kRefColumn = 132, kRefRow = 138;
inline constexpr int kColumnSpacing = 144, kRowSpacing = 150, kProjParam1 = 156, kProjParam2 = 162;
inline constexpr int kMinValue = 168, kMaxValue = 169, kMissingValue = 170, kGain = 171, kOffset = 177;
inline constexpr int kDecimals = 183;
}  // namespace off

inline const std::set<int> kValidTypes = {0, 1, 6, 10, 11, 12, 13, 14, 100, 101, 106, 110, 111, 112, 113, 114, 200};
inline const std::set<int> kValidProjections = {0, 2, 3, 4, 5, 6, 7, 8, 9};

// Every header byte the format does not interpret.
inline bool IsUninterpreted(std::size_t i) {
  return i < 22 || (i >= 24 && i < 30) || (i >= 34 && i < 38) || (i >= 118 && i < 120) || i >= 184;
}

using ByteVector = std::vector<std::uint8_t>;

using testing_support::ReadBytes;
using testing_support::TempDir;

struct RecordingUi : ImageUi {
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void SetBusyCursor(bool busy) override { cursor.push_back(busy); }
  std::vector<std::string> errors;
  std::vector<bool> cursor;
};

// A 512-byte header (or any length) built byte by byte.
struct HeaderBytes {
  explicit HeaderBytes(std::size_t size = 512) : bytes(size, 0) {}
  HeaderBytes& U8(int offset, std::uint8_t v) {
    bytes.at(static_cast<std::size_t>(offset)) = v;
    return *this;
  }
  HeaderBytes& I16(int offset, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    return U8(offset, static_cast<std::uint8_t>(u & 0xFF)).U8(offset + 1, static_cast<std::uint8_t>(u >> 8));
  }
  HeaderBytes& Real(int offset, long double v) { return Raw(offset, Real48::Round(v).ToBytes()); }
  template <typename Range>  // six Real48 bytes, or the characters of a text
  HeaderBytes& Raw(int offset, const Range& b) {
    for (std::size_t i = 0; i < b.size(); ++i) bytes.at(static_cast<std::size_t>(offset) + i) = b[i];
    return *this;
  }
  ByteVector bytes;
};

// A geographic type-10 image: RefLatitude 40, RefLongitude 30, reference point 0/0, spacings 0.5,
// ProjParam 12/34, a Comment, and marker bytes where the format interprets nothing.
inline HeaderBytes SampleHeader(std::int16_t rows = 3, std::int16_t columns = 5) {
  HeaderBytes b;
  b.U8(off::kImageType, 10).U8(off::kProjection, 3).I16(off::kRows, rows).I16(off::kColumns, columns);
  b.Real(off::kRefLatitude, 40).Real(off::kRefLongitude, 30).Real(off::kColumnSpacing, 0.5L);
  b.Real(off::kRowSpacing, 0.5L).Real(off::kProjParam1, 12).Real(off::kProjParam2, 34);
  b.Raw(off::kComment, std::string("sample comment"));
  b.U8(0, 0xAA).U8(21, 0xBB).U8(25, 0xCC).U8(118, 0xDD).U8(511, 0xEE);
  return b;
}

inline void WriteBytes(const std::string& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The message of the E that action raises, or "no error raised".
template <typename E>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "no error raised";
}

// A component with its own directory; Attach writes the bytes to a file and attaches it.
struct ImageFixture {
  void Attach(const HeaderBytes& bytes, const std::string& name = "a.img") {
    path = dir.File(name);
    WriteBytes(path, bytes.bytes);
    img.SetFileName(path);
  }
  TempDir dir;
  RecordingUi ui;
  TKelImg img{ui};
  std::string path;
};

}  // namespace kavrimo::test
