// Fuzz target: TKelImg attaching an arbitrary file as an image. An attach either judges the file
// (valid or not) or fails with a floating-point error of the corner computation. A valid image's
// derived values are finite, and a header-only copy made from it attaches as the same image; an
// invalid one refuses property sets with "No valid image attached" and leaves the file as it was.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/kel_img.h"
#include "runtime/errors.h"

namespace {

class FuzzUi : public kavrimo::ImageUi {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void SetBusyCursor(bool on) override { busy = on; }
  std::vector<std::string> errors;
  bool busy = false;
};

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void CheckCopy(const kavrimo::TKelImg& image, const std::string& copy_path) {
  using namespace kavrimo;
  FuzzUi ui;
  TKelImg copy(ui);
  try {
    copy.SetFileName(copy_path);
  } catch (const EMathError& e) {
    fuzz::Finding("the copy's corners fail where the original's did not:", e.what());
  }
  fuzz::Check(copy.State() == ImageState::ValidImage, "a copy of a valid image is not valid");
  fuzz::Check(ReadAll(copy_path).size() == 512, "a header-only copy is not 512 bytes");
  fuzz::Check(copy.ImageType() == image.ImageType() && copy.Projection() == image.Projection() &&
                  copy.Rows() == image.Rows() && copy.Columns() == image.Columns(),
              "the copy's codes or size differ");
  fuzz::Check(Same(copy.RefLatitude(), image.RefLatitude()) && Same(copy.RefLongitude(), image.RefLongitude()) &&
                  Same(copy.RefColumn(), image.RefColumn()) && Same(copy.RefRow(), image.RefRow()) &&
                  Same(copy.ColumnSpacing(), image.ColumnSpacing()) && Same(copy.RowSpacing(), image.RowSpacing()) &&
                  Same(copy.ProjParam1(), image.ProjParam1()) && Same(copy.ProjParam2(), image.ProjParam2()),
              "the copy's georeference differs");
  fuzz::Check(Same(copy.Gain(), image.Gain()) && Same(copy.Offset(), image.Offset()) &&
                  copy.MinValue() == image.MinValue() && copy.MaxValue() == image.MaxValue() &&
                  copy.MissingValue() == image.MissingValue(),
              "the copy's scale differs");
  fuzz::Check(ui.errors.empty(), "attaching a valid copy showed a message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  static const std::string path = fuzz::ScratchFile("image.IMG");
  static const std::string copy_path = fuzz::ScratchFile("copy.IMG");
  fuzz::WriteFile(path, data, size);
  FuzzUi ui;
  TKelImg image(ui);
  try {
    image.SetFileName(path);
  } catch (const EMathError&) {
    fuzz::Check(image.State() == ImageState::ValidImage, "a corner fault on an image judged invalid");
    return 0;
  } catch (const std::exception& e) {
    fuzz::Finding("attaching raised something other than a floating-point error:", e.what());
  }
  fuzz::Check(ui.errors.empty(), "attaching showed a message");
  if (image.State() != ImageState::ValidImage) {
    fuzz::Check(image.State() == ImageState::InvalidImage, "an attached file left the component without state");
    image.SetRows(static_cast<std::int16_t>(image.Rows() + 1));
    image.CreateFromTemplate(copy_path, true);
    fuzz::Check(ui.errors == std::vector<std::string>(2, "No valid image attached"),
                "an invalid image took a set or a copy without the message");
    const std::vector<char> after = ReadAll(path);
    fuzz::Check(after.size() == size && std::equal(after.begin(), after.end(), reinterpret_cast<const char*>(data)),
                "a refused set changed the file");
    return 0;
  }
  fuzz::Check(size >= 512, "a file shorter than a header judged valid");
  fuzz::Check(std::isfinite(image.CellWidthKm()) && std::isfinite(image.MinLatitude()) &&
                  std::isfinite(image.MaxLatitude()) && std::isfinite(image.MinLongitude()) &&
                  std::isfinite(image.MaxLongitude()),
              "a derived value that is not finite");
  const double columns = image.Columns(), rows = image.Rows();
  const double positions[][2] = {{0, 0}, {columns / 2, rows / 2}, {columns - 1, rows - 1}, {0.25, 1e6}};
  for (const auto& position : positions) {
    double longitude = 0, latitude = 0;
    try {
      image.PixelToGeo(position[0], position[1], longitude, latitude);
    } catch (const EMathError&) {
      continue;
    }
    if (position[0] < 0 || position[1] < 0) {
      fuzz::Check(longitude == -1 && latitude == -1, "a negative position did not give -1, -1");
    } else {
      fuzz::Check(std::isfinite(longitude) && std::isfinite(latitude), "PixelToGeo gave a value that is not finite");
    }
  }
  try {
    image.CreateFromTemplate(copy_path, true);
  } catch (const std::exception& e) {
    fuzz::Finding("copying a valid image failed:", e.what());
  }
  fuzz::Check(!ui.busy, "the busy cursor stayed on");
  CheckCopy(image, copy_path);
  return 0;
}
