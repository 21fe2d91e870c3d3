#include "app/conversion/scratch_file.h"

#include "runtime/temporary_output.h"

namespace kavrimo {

BinaryFile OpenScratchBeside(const std::string& output, SweptFolders* swept) {
  TemporaryOutput reserved(output, {}, swept);  // never committed: its name goes when this returns
  reserved.Reserve();
  return BinaryFile::OpenExisting(reserved.Path(), OpenMode::ReadWrite);
}

}  // namespace kavrimo
