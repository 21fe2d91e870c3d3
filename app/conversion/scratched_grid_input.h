// What the grid inputs that read their cells once share (an ESRI ASCII grid, a compressed GeoTIFF): the
// names of the input and of the output beside which the scratch file goes, and the scratch file itself
// once pass 1 has made it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/conversion/grid_input.h"
#include "app/conversion/scratch_file.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

class ScratchedGridInput : public GridInput {
 protected:
  // swept: a batch's record of the folders swept for leftovers, or null.
  ScratchedGridInput(const std::string& input, const std::string& output, SweptFolders* swept)
      : input_(input), output_(output), swept_(swept) {}

  // Makes the scratch file for the header's cells beside the output (ScratchFile's checks and errors).
  ScratchFile& MakeScratch() {
    return scratch_.emplace(output_, input_, std::int64_t{header_.ncols} * header_.nrows, swept_);
  }
  // Runs work, naming the output in an error of the scratch file, when there is one.
  template <typename Work>
  auto Scratched(Work work) -> decltype(work()) {
    return scratch_ ? scratch_->NamingOutput(work) : work();
  }
  // The scratch file's cells, or null when there is none.
  BinaryFile* ScratchCells() { return scratch_ ? &scratch_->File() : nullptr; }
  void CloseScratch() {
    if (scratch_) scratch_->Close();
  }

 private:
  std::string input_;
  std::string output_;
  SweptFolders* swept_;
  std::optional<ScratchFile> scratch_;
};

}  // namespace kavrimo
