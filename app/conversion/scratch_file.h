// Scratch files: cells kept between the passes of an input that is parsed or decoded once.
#pragma once

#include <string>

#include "runtime/file.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

// A file beside output that has no name: created under a temporary name (TemporaryOutput's) and opened
// for reading and writing, then the name is removed. It is gone once closed, or when the process dies.
// swept: where a batch records the folders it swept for leftovers (null sweeps the folder each time).
BinaryFile OpenScratchBeside(const std::string& output, SweptFolders* swept = nullptr);

}  // namespace kavrimo
