// The float grid behind GridInput, and the choice of reader by the input's name.
#include "app/conversion/grid_input.h"

#include "app/conversion/ascii_passes.h"
#include "app/grid/ascii_grid.h"

namespace kavrimo {
namespace {

class FloatGridInput : public GridInput {
 public:
  explicit FloatGridInput(const std::string& input) : input_(input) { header_ = ReadGridHeader(input); }

  void OpenData() override { data_ = BinaryFile::OpenExisting(ReplaceExtension(input_, ".flt"), OpenMode::ReadOnly); }
  CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) override {
    return kavrimo::ScanRange(data_, header_, progress, options);
  }
  void CodeGrid(const CellScale& scale, BinaryFile& output, const ProgressSink& progress,
                const PassOptions& options) override {
    kavrimo::CodeGrid(data_, header_, scale, output, progress, options);
  }
  OutsideCounts CodeGrid(const FixedScale& fixed, BinaryFile& output, const ProgressSink& progress,
                         const PassOptions& options) override {
    return kavrimo::CodeGrid(data_, header_, fixed, output, progress, options);
  }
  void Close() override { data_.Close(); }

 private:
  std::string input_;
  BinaryFile data_;
};

}  // namespace

std::vector<std::string> GridInputFiles(const std::string& input) {
  if (IsAsciiGridName(input)) return {input};
  return {ReplaceExtension(input, ".hdr"), ReplaceExtension(input, ".flt")};
}

std::unique_ptr<GridInput> ReadGridInput(const std::string& input, const std::string& output) {
  if (IsAsciiGridName(input)) return ReadAsciiGridInput(input, output);
  return std::make_unique<FloatGridInput>(input);
}

}  // namespace kavrimo
