// Scratch files: cells kept between the passes of an input that is parsed or decoded once.
#pragma once

#include <string>

#include "runtime/file.h"

namespace kavrimo {

// A file beside output that has no name: created under a temporary name (TemporaryOutput's) and opened
// for reading and writing, then the name is removed. It is gone once closed, or when the process dies.
BinaryFile OpenScratchBeside(const std::string& output);

}  // namespace kavrimo
