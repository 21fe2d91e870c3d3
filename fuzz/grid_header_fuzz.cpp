// Fuzz target: ReadGridHeader on an arbitrary header file. A header either reads, with every real
// finite and every key that no line holds left at 0, or fails with a conversion or overflow error
// whose message has the system's form.
#include <cmath>
#include <cstdint>
#include <string>

#include "app/grid/grid_header.h"
#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  static const std::string grid = fuzz::ScratchFile("grid.flt");
  static const std::string header_file = fuzz::ScratchFile("grid.hdr");
  fuzz::WriteFile(header_file, data, size);
  std::string text(reinterpret_cast<const char*>(data), size);
  text = Upper(text.substr(0, text.find('\0')));
  try {
    const GridHeader header = ReadGridHeader(grid);
    fuzz::Check(std::isfinite(header.xllcorner) && std::isfinite(header.yllcorner) && std::isfinite(header.cellsize),
                "a real field that is not finite");
    if (text.find("NCOLS") == std::string::npos) fuzz::Check(header.ncols == 0, "ncols without its key");
    if (text.find("NROWS") == std::string::npos) fuzz::Check(header.nrows == 0, "nrows without its key");
    if (text.find("CELLSIZE") == std::string::npos) fuzz::Check(header.cellsize == 0, "cellsize without its key");
    if (text.find("NODATA_VALUE") == std::string::npos) {
      fuzz::Check(header.NODATA_value == 0, "NODATA_value without its key");
    }
  } catch (const EConvertError& e) {
    const std::string message = e.Message();
    fuzz::Check(message.front() == '\'' && (EndsWith(message, "' is not a valid integer value") ||
                                            EndsWith(message, "' is not a valid floating point value")),
                "a conversion message of the wrong form:", message);
  } catch (const EOverflow& e) {
    fuzz::Check(e.Message() == "Floating point overflow", "wrong overflow message:", e.Message());
  } catch (const std::exception& e) {
    fuzz::Finding("ReadGridHeader raised something else:", e.what());
  }
  return 0;
}
