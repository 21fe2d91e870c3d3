// The choice of a grid input by the input's name: a name that ends in ".asc" (any letter case) is an
// ESRI ASCII grid, one that ends in ".tif" or ".tiff" a GeoTIFF; any other name is a float grid, its
// header and data named after it. A new kind of grid input is added here, by its name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/conversion/grid_input.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

// The files a conversion of input reads, as named from it: the header and data of a float grid, or the
// ASCII grid or GeoTIFF itself.
std::vector<std::string> GridInputFiles(const std::string& input);

// Reads the header of the grid named input (ReadGridHeader, ReadAsciiGridHeader for an ASCII grid, whose
// file is opened here: "Cannot open file <input>" when it cannot be, or a GeoTiffReader's tags). An ASCII
// grid, and a GeoTIFF whose cells must be decoded, keeps its cells between the passes in a scratch file
// beside output, with no name, gone when the input closes;
// swept: a batch's record of the folders swept for leftovers, or null.
std::unique_ptr<GridInput> ReadGridInput(const std::string& input, const std::string& output,
                                         SweptFolders* swept = nullptr);

}  // namespace kavrimo
