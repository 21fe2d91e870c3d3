// The floor and the plain reference conversion.
#include "bench/plain_passes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/fp.h"

namespace kavrimo::bench {
namespace {

constexpr std::size_t kPlainBlock = std::size_t{1} << 20;  // 1 MiB
constexpr std::int64_t kHeader = 512;

// Reads bytes [0, size) of in in blocks of block.size().
void ReadAll(const BinaryFile& in, std::int64_t size, std::vector<char>& block) {
  for (std::int64_t at = 0; at < size; at += static_cast<std::int64_t>(block.size())) {
    const auto count =
        static_cast<std::size_t>(std::min<std::int64_t>(size - at, static_cast<std::int64_t>(block.size())));
    if (in.ReadAt(at, block.data(), count) != count) throw EInOutError(100);
  }
}

// Writes 512 + cells bytes to out in blocks of write_bytes.
void WriteQuarter(const std::string& out, std::int64_t cells, std::size_t write_bytes) {
  BinaryFile output = BinaryFile::Create(out);
  const std::vector<char> bytes(write_bytes, 7);
  output.WriteExactlyAt(0, bytes.data(), kHeader);
  for (std::int64_t at = 0; at < cells; at += static_cast<std::int64_t>(write_bytes)) {
    const auto count =
        static_cast<std::size_t>(std::min<std::int64_t>(cells - at, static_cast<std::int64_t>(write_bytes)));
    output.WriteExactlyAt(kHeader + at, bytes.data(), count);
  }
  output.Close();
}

}  // namespace

void ReadTwiceWriteQuarter(const std::string& data, std::int64_t cells, const std::string& out, std::size_t read_bytes,
                           std::size_t write_bytes) {
  const BinaryFile in = BinaryFile::OpenExisting(data, OpenMode::ReadOnly);
  std::vector<char> block(read_bytes);
  for (int pass = 0; pass < 2; ++pass) ReadAll(in, cells * 4, block);
  WriteQuarter(out, cells, write_bytes);
}

void ReadGridsTwiceWriteQuarter(const std::vector<std::string>& headers, const std::vector<std::string>& grids,
                                std::int64_t out_cells, const std::string& out) {
  std::string header;
  for (const std::string& grid : headers) {
    if (ReadWholeFile(grid + ".hdr", header) != WholeFile::kRead) throw EFOpenError(grid + ".hdr");
  }
  std::vector<char> block(kPlainBlock);
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& grid : grids) {
      const BinaryFile in = BinaryFile::OpenExisting(grid + ".flt", OpenMode::ReadOnly);
      ReadAll(in, in.Size(), block);
    }
  }
  WriteQuarter(out, out_cells, kPlainBlock);
}

void PlainConversion(const std::string& data, std::int64_t cells, std::int32_t nodata, const std::string& out) {
  BinaryFile in = BinaryFile::OpenExisting(data, OpenMode::ReadOnly);
  std::vector<float> block(kPlainBlock / sizeof(float));
  const auto read = [&](std::int64_t first) {
    const auto count =
        static_cast<std::size_t>(std::min<std::int64_t>(cells - first, static_cast<std::int64_t>(block.size())));
    in.ReadExactly(block.data(), count * sizeof(float));
    return count;
  };
  CellRange range;
  for (std::int64_t first = 0; first < cells;) {
    const std::size_t count = read(first);
    for (std::size_t i = 0; i < count; ++i) {
      const long double v = block[i];
      if (std::isnan(v)) fp::RaiseInvalidOp();
      if (v == static_cast<long double>(nodata)) continue;
      if (v > range.maximum) range.maximum = block[i];
      if (v < range.minimum) range.minimum = block[i];
    }
    first += static_cast<std::int64_t>(count);
  }
  const CellScale scale = ScaleFor(range);
  in.Seek(0);
  BinaryFile output = BinaryFile::Create(out);
  std::vector<std::uint8_t> bytes(block.size());
  output.WriteExactly(bytes.data(), kHeader);
  for (std::int64_t first = 0; first < cells;) {
    const std::size_t count = read(first);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = CodeCellReference(block[i], nodata, scale);
    output.WriteExactly(bytes.data(), count);
    first += static_cast<std::int64_t>(count);
  }
  output.Close();
}

bool SameCodedBytes(const std::string& a, const std::string& b) {
  const BinaryFile fa = BinaryFile::OpenExisting(a, OpenMode::ReadOnly);
  const BinaryFile fb = BinaryFile::OpenExisting(b, OpenMode::ReadOnly);
  if (fa.Size() != fb.Size()) return false;
  std::vector<char> ba(kPlainBlock), bb(kPlainBlock);
  for (std::int64_t at = kHeader; at < fa.Size(); at += static_cast<std::int64_t>(kPlainBlock)) {
    const std::size_t na = fa.ReadAt(at, ba.data(), kPlainBlock);
    if (fb.ReadAt(at, bb.data(), kPlainBlock) != na || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
  }
  return true;
}

}  // namespace kavrimo::bench
