// Pixel reads and writes at their offsets after the header.
#include "image/image_pixels.h"

#include <algorithm>

#include "image/header_format.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

constexpr auto kFirstPixel = static_cast<std::int64_t>(header_format::kHeaderSize);

}  // namespace

ImagePixels ImagePixels::OpenForReading(const TKelImg& image, const std::string& path) {
  BinaryFile file = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  const std::int64_t pixels = std::max<std::int64_t>(0, std::int64_t{image.Rows()} * image.Columns());
  const std::int64_t held = std::max<std::int64_t>(0, file.Size() - kFirstPixel);
  if (held < pixels) {
    throw Error(path + " holds " + std::to_string(held) + " pixels; its header promises " + std::to_string(pixels));
  }
  return ImagePixels(std::move(file));
}

ImagePixels ImagePixels::OpenForWriting(const std::string& path) {
  return ImagePixels(BinaryFile::OpenExisting(path, OpenMode::ReadWrite));
}

std::size_t ImagePixels::ReadAt(std::int64_t first, std::uint8_t* pixels, std::size_t count) const {
  return file_.ReadAt(kFirstPixel + first, pixels, count);
}

void ImagePixels::ReadExactlyAt(std::int64_t first, std::uint8_t* pixels, std::size_t count) const {
  if (ReadAt(first, pixels, count) != count) throw EInOutError(100, file_.Path());
}

void ImagePixels::WriteAt(std::int64_t first, const std::uint8_t* pixels, std::size_t count) {
  file_.WriteExactlyAt(kFirstPixel + first, pixels, count);
}

}  // namespace kavrimo
