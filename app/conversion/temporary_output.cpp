// The temporary output file: its name, its creation, the rename over the output, and the removal of
// leftovers of killed conversions.
#include "app/conversion/temporary_output.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {
namespace {

constexpr std::string_view kSuffix = ".kavrimo-tmp";
constexpr std::string_view kTagDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kTagLength = 10;
constexpr std::size_t kMaxPidDigits = 10;
constexpr std::size_t kMaxNameBytes = 255;

std::string RandomTag() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string tag(kTagLength, '0');
  for (char& c : tag) c = kTagDigits[generator() % kTagDigits.size()];
  return tag;
}

// This machine's name as it goes into a file name: "/" and control characters become "_".
std::string HostTag() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host(name);
  for (char& c : host) {
    if (c == '/' || static_cast<unsigned char>(c) <= 32) c = '_';
  }
  return host.substr(0, 64);
}

// ".<output name>.<host>." with the name cut so that any pid and tag still fit in one name.
std::string NamePrefix(const std::string& output_name, const std::string& host) {
  const std::size_t tail = 1 + host.size() + 1 + kMaxPidDigits + 1 + kTagLength + kSuffix.size();
  const std::size_t room = kMaxNameBytes - 1 - tail;
  return "." + output_name.substr(0, room) + "." + host + ".";
}

bool IsTag(std::string_view text) {
  return text.size() == kTagLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return kTagDigits.find(c) != std::string_view::npos; });
}

// The process number of "<pid>-<tag>", or -1 when text is not of that form.
long PidOf(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > kMaxPidDigits || !IsTag(text.substr(dash + 1))) return -1;
  long pid = 0;
  for (char c : text.substr(0, dash)) {
    if (c < '0' || c > '9') return -1;
    pid = pid * 10 + (c - '0');
  }
  return pid > 0 && pid <= INT_MAX ? pid : -1;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool ProcessRuns(long pid) {
  if (pid == ::getpid()) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;  // EPERM: it runs as someone else
}

}  // namespace

TemporaryOutput::TemporaryOutput(const std::string& output) : output_(output) {
  if (output.empty() || output.find('\0') != std::string::npos) throw EInOutError(3);
  const std::filesystem::path out(output);
  const std::string name = out.filename().string();
  if (name.empty()) throw EInOutError(3);
  RemoveDeadTemporaryOutputs(output);
  const std::string prefix = NamePrefix(name, HostTag()) + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = out.parent_path() / (prefix + RandomTag() + std::string(kSuffix));
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
  const std::string_view name = file_name;
  if (name.size() < 2 || name.front() != '.' || !EndsWith(name, kSuffix)) return false;
  const std::string_view stem = name.substr(0, name.size() - kSuffix.size());
  const std::size_t dot = stem.rfind('.');
  return dot != 0 && dot != std::string_view::npos && PidOf(stem.substr(dot + 1)) > 0;
}

int RemoveDeadTemporaryOutputs(const std::string& output) {
  const std::filesystem::path out(output);
  const std::string name = out.filename().string();
  if (name.empty()) return 0;
  const std::string prefix = NamePrefix(name, HostTag());
  const std::filesystem::path folder = out.parent_path().empty() ? std::filesystem::path(".") : out.parent_path();
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return 0;
  int removed = 0;
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (error) break;
    const std::string entry = entries->path().filename().string();
    if (entry.size() <= prefix.size() + kSuffix.size() || entry.compare(0, prefix.size(), prefix) != 0 ||
        !EndsWith(entry, kSuffix)) {
      continue;
    }
    const std::string_view middle =
        std::string_view(entry).substr(prefix.size(), entry.size() - prefix.size() - kSuffix.size());
    const long pid = PidOf(middle);
    if (pid <= 0 || ProcessRuns(pid)) continue;
    if (::unlink(entries->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace kavrimo
