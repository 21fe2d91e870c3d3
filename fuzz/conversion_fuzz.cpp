// Fuzz target: a whole conversion of a small fuzzed grid through the engine. Input: one byte of
// options (bit 0: two worker threads), two bytes of header length (little-endian), the header text,
// then the data file's bytes. Grids of more than 4096 cells are skipped to keep each run short.
//
// Checks: a conversion either succeeds, with an output of 512 + ncols x nrows bytes whose pixels are
// the plain long double coding of the cells, or fails with one of the system's errors and leaves no
// output and no temporary file behind; the busy cursor is off afterwards either way.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/conversion/conversion.h"
#include "app/grid/grid_header.h"
#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace {

constexpr std::int64_t kMaxCells = 4096;

class FuzzHost : public kavrimo::ConversionHost {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgress(int position) override {
    if (position < 0 || position > 100) kavrimo::fuzz::Finding("progress out of 0..100");
  }
  void ProcessMessages() override {}
  void ShowInformation(const std::string& text) override { information = text; }
  void ShowError(const std::string& text) override { kavrimo::fuzz::Finding("the component showed", text); }
  void SetBusyCursor(bool on) override { busy = on; }
  std::string information;
  bool busy = false;
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The coding written out plainly: the range from 0, the scale in long double rounded to single, each
// quotient rounded to single and then to the nearest integer (ties to even), low 8 bits.
std::vector<std::uint8_t> PlainCoding(const std::vector<float>& cells, std::int32_t nodata) {
  const auto missing = [nodata](float v) { return static_cast<long double>(v) == static_cast<long double>(nodata); };
  float maximum = 0, minimum = 0;
  for (float v : cells) {
    if (missing(v)) continue;
    if (v > maximum) maximum = v;
    if (v < minimum) minimum = v;
  }
  const long double span = static_cast<long double>(maximum) - minimum;
  const auto slope = static_cast<float>(span / 253);
  const auto intercept = static_cast<float>(maximum - span);
  std::vector<std::uint8_t> bytes;
  for (float v : cells) {
    if (missing(v)) {
      bytes.push_back(255);
    } else if (slope == 0) {
      bytes.push_back(0);
    } else {
      const auto q = static_cast<float>((static_cast<long double>(v) - intercept) / slope);
      bytes.push_back(
          static_cast<std::uint8_t>(static_cast<std::int64_t>(std::nearbyint(static_cast<long double>(q))) & 0xFF));
    }
  }
  return bytes;
}

std::vector<float> Cells(const std::uint8_t* data, std::size_t count, bool big_endian) {
  std::vector<float> cells(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t word;
    std::memcpy(&word, data + 4 * i, 4);
    if (big_endian) word = __builtin_bswap32(word);
    std::memcpy(&cells[i], &word, 4);
  }
  return cells;
}

std::vector<std::string> Folder() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kavrimo::fuzz::ScratchDir())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrimo;
  if (size < 3) return 0;
  static const std::string grid = fuzz::ScratchFile("grid.flt");
  static const std::string output = fuzz::ScratchFile("out.IMG");
  const int threads = 1 + (data[0] & 1);
  const std::size_t header_size = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
  const std::uint8_t* header_text = data + 3;
  const std::uint8_t* cells = header_text + header_size;
  const std::size_t cell_bytes = size - 3 - header_size;
  fuzz::WriteFile(fuzz::ScratchFile("grid.hdr"), header_text, header_size);

  GridHeader header;
  try {
    header = ReadGridHeader(grid);
  } catch (const Error&) {
    return 0;  // the header target's ground
  }
  const std::int64_t count = std::int64_t{header.ncols} * header.nrows;
  if (header.ncols > 0 && header.nrows > 0 && count > kMaxCells) return 0;
  fuzz::WriteFile(grid, cells, cell_bytes);
  std::filesystem::remove(output);

  FuzzHost host;
  TKelImg image(host);
  try {
    Convert({grid, output, KAVRIMO_TEMPLATE_PATH, threads}, image, host);
  } catch (const Error& e) {
    fuzz::Check(!e.Message().empty(), "a failure without a message");
    fuzz::Check(!host.busy, "the busy cursor stayed on after", e.Message());
    fuzz::Check(Folder() == std::vector<std::string>{"grid.flt", "grid.hdr"},
                "a failure left a file behind:", e.Message());
    return 0;
  } catch (const std::exception& e) {
    fuzz::Finding("the conversion raised something other than the system's errors:", e.what());
  }
  fuzz::Check(!host.busy && host.information == "Image created succesfully", "success without the box");
  fuzz::Check(count > 0 && static_cast<std::size_t>(count) * 4 <= cell_bytes, "converted a grid it cannot have read");
  const std::vector<std::uint8_t> file = ReadAll(output);
  fuzz::Check(file.size() == 512 + static_cast<std::size_t>(count), "the output has the wrong size");
  fuzz::Check(file[22] == 200 && file[23] == 3, "the output's type or projection");
  fuzz::Check(
      (file[30] | file[31] << 8) == (header.nrows & 0xFFFF) && (file[32] | file[33] << 8) == (header.ncols & 0xFFFF),
      "the output's rows or columns");
  const std::vector<float> values = Cells(cells, static_cast<std::size_t>(count), header.big_endian);
  fuzz::Check(std::vector<std::uint8_t>(file.begin() + 512, file.end()) == PlainCoding(values, header.NODATA_value),
              "a pixel differs from the plain coding");
  fuzz::Check(Folder() == std::vector<std::string>{"grid.flt", "grid.hdr", "out.IMG"}, "a temporary file is left");
  return 0;
}
