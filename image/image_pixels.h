// The pixel area of an image file: one byte per cell, row after row from the top, after the header.
// Pixels are addressed by their index, row x Columns + column; only this library knows where the area
// begins in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/kel_img.h"
#include "runtime/file.h"

namespace kavrimo {

class ImagePixels {
 public:
  // Opens the pixels of path, an image attached to image, read-only. The file's size is checked against
  // Rows x Columns first, so that nothing is set aside for pixels the file does not hold: a short file
  // raises "<path> holds <n> pixels; its header promises <m>".
  static ImagePixels OpenForReading(const TKelImg& image, const std::string& path);
  // Opens the image file at path, its header written, for reading and writing its pixels, whatever the
  // process-wide open mode an image component left behind.
  static ImagePixels OpenForWriting(const std::string& path);

  const std::string& Path() const { return file_.Path(); }
  // Reads up to count pixels from pixel first on; returns how many came (fewer at the end of the file).
  std::size_t ReadAt(std::int64_t first, std::uint8_t* pixels, std::size_t count) const;
  // Reads exactly count pixels from pixel first on; raises 100 "Read beyond end of file" otherwise.
  void ReadExactlyAt(std::int64_t first, std::uint8_t* pixels, std::size_t count) const;
  // Writes count pixels from pixel first on; raises 101 "Disk full" for a write cut short. Several
  // threads may write disjoint runs at once.
  void WriteAt(std::int64_t first, const std::uint8_t* pixels, std::size_t count);
  void Close() { file_.Close(); }

 private:
  explicit ImagePixels(BinaryFile file) : file_(std::move(file)) {}
  BinaryFile file_;
};

}  // namespace kavrimo
