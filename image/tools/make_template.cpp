// make_template: writes the image header template header.bin, a header-only image of type 200 with
// projection 3, one row and one column, gain 1, offset 0 and three decimals.
//
// Usage: make_template OUTPUT. A seed header is written field by field beside OUTPUT; the image
// component then attaches it and creates OUTPUT from it, so the template carries the creator stamp
// and zero in every byte the format does not interpret.
#include <array>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "image/header_format.h"
#include "image/kel_img.h"
#include "projection/dispatcher.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace {

// The tool has no window: a message of the component is a failure.
class ToolUi : public kavrimo::ImageUi {
 public:
  void ShowError(const std::string& text) override {
    std::cerr << "make_template: " << text << '\n';
    failed = true;
  }
  void SetBusyCursor(bool) override {}
  bool failed = false;
};

void WriteSeed(const std::string& path) {
  using namespace kavrimo;
  TImageHeader header;
  header.ImageType = header_format::kPhysicalValuesType;
  header.Projection = kGeographic;
  header.Rows = 1;
  header.Columns = 1;
  header.Gain = Real48::Round(1.0L);
  header.Offset = Real48::Round(0.0L);
  header.Decimals = 3;

  BinaryFile file = BinaryFile::Create(path);
  const std::array<std::uint8_t, header_format::kHeaderSize> zeros{};
  file.WriteExactly(zeros.data(), zeros.size());
  for (const header_format::FieldLayout& field : header_format::kFields) {
    header_format::WriteField(file, header, field);
  }
  file.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_template OUTPUT\n";
    return 2;
  }
  const std::string output = argv[1];
  const std::string seed = output + ".seed";
  try {
    WriteSeed(seed);
    ToolUi ui;
    kavrimo::TKelImg image(ui);
    image.SetFileName(seed);
    image.CreateFromTemplate(output, true);
    std::remove(seed.c_str());
    if (ui.failed || image.State() != kavrimo::ImageState::ValidImage) return 1;
  } catch (const std::exception& e) {
    std::remove(seed.c_str());
    std::cerr << "make_template: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
