#include "tests/support/files.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <fstream>

namespace kavrimo::testing_support {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("kavrimo-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string ReadText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

std::string CellBytes(const std::vector<float>& cells, bool big_endian) {
  std::string data(cells.size() * 4, '\0');
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::uint32_t word;
    std::memcpy(&word, &cells[i], 4);
    if (big_endian) word = __builtin_bswap32(word);
    std::memcpy(&data[i * 4], &word, 4);
  }
  return data;
}

std::vector<std::string> ListFolder(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string MessageOf(const std::function<void()>& run) {
  // clang-format off
  try { run(); } catch (const std::exception& e) { return e.what(); }
  // clang-format on
  return "no error";
}

}  // namespace kavrimo::testing_support
