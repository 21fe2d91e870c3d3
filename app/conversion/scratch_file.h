// Scratch files: the cells of an input that is parsed or decoded once (an ASCII grid, a compressed
// GeoTIFF), kept between the passes beside the output, as singles in host order, laid out as a float
// grid's data.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

class ScratchFile {
 public:
  // A file beside output with no name: created under a temporary name (TemporaryOutput's), opened for
  // reading and writing, then the name is removed; it is gone once closed, or when the process dies.
  // Space for cells singles is set aside at once, and the space for the image beside it (its header and
  // a byte per cell) is checked to be left, so that a full disk stops the conversion before the input
  // is read: "Not enough space beside <output> for the image and the scratch file of <input>: the grid
  // needs <n> bytes (<m> MiB, 5 bytes per cell) there until its image is complete". swept: a batch's
  // record of the folders swept for leftovers, or null.
  ScratchFile(const std::string& output, const std::string& input, std::int64_t cells, SweptFolders* swept);

  BinaryFile& File() { return file_; }
  const BinaryFile& File() const { return file_; }
  void Close() { file_.Close(); }

  // Runs work; an I/O error on the scratch file names the output it was made for (never the scratch
  // file's passing name), and a full disk there raises the message above.
  template <typename Work>
  auto NamingOutput(Work work) -> decltype(work()) {
    try {
      return work();
    } catch (const EInOutError& e) {
      if (e.Path() != path_) throw;
      RaiseFor(e);
    }
  }

 private:
  [[noreturn]] void RaiseFor(const EInOutError& error) const;
  std::int64_t ImageBytes() const;  // the image's header and pixels

  std::string output_;
  std::string input_;
  std::int64_t cells_;
  std::string path_;  // the scratch file's passing name, as its errors give it
  BinaryFile file_;
};

}  // namespace kavrimo
