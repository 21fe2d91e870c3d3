#include "app/core/temporary_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {
namespace {

constexpr const char* kSuffix = ".kavrimo-tmp";

std::string RandomTag() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag(10, '0');
  for (char& c : tag) c = kDigits[generator() % (sizeof kDigits - 1)];
  return tag;
}

}  // namespace

TemporaryOutput::TemporaryOutput(const std::string& output) : output_(output) {
  if (output.empty() || output.find('\0') != std::string::npos) throw EInOutError(3);
  const std::filesystem::path out(output);
  const std::string name = out.filename().string();
  if (name.empty()) throw EInOutError(3);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = out.parent_path() / ("." + name + "." + RandomTag() + kSuffix);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      path_ = candidate.string();
      return;
    }
    if (errno != EEXIST && errno != EINTR) RaiseIoErrorFromErrno(errno);
  }
  RaiseIoErrorFromErrno(EEXIST);
}

TemporaryOutput::~TemporaryOutput() {
  if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
}

void TemporaryOutput::Commit() {
  if (std::rename(path_.c_str(), output_.c_str()) != 0) RaiseIoErrorFromErrno(errno);
  committed_ = true;
}

bool IsTemporaryOutputName(const std::string& file_name) {
  const std::string suffix = kSuffix;
  return file_name.size() > suffix.size() + 1 && file_name.front() == '.' &&
         file_name.compare(file_name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace kavrimo
