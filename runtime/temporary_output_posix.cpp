// The output checks, the temporary file's name and creation, putting it in place (rename or rewrite),
// and the removal of leftovers of killed runs.
#include "runtime/temporary_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/interrupt.h"
#include "runtime/path.h"

namespace kavrimo {
namespace {

constexpr std::string_view kSuffix = ".kavrimo-tmp";
constexpr std::string_view kTagDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kTagLength = 10;
constexpr std::size_t kMaxPidDigits = 10;
constexpr std::size_t kMaxNameBytes = 255;
constexpr int kMaxLinks = 40;  // as the system follows them

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
  const std::size_t kept = kMaxNameBytes - 1 - tail;
  return "." + output_name.substr(0, kept) + "." + host + ".";
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

// The file a write must replace: path itself, or where its chain of symbolic links ends (which may
// not exist yet: a dangling link is written through, as cp does).
std::string FollowLinks(const std::string& path, const std::string& output) {
  std::string current = path;
  for (int depth = 0; depth <= kMaxLinks; ++depth) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string link(PATH_MAX, '\0');
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0) RaiseIoErrorFromErrno(errno, output);
    link.resize(static_cast<std::size_t>(length));
    current = link.starts_with("/") ? link : FolderOf(current) + "/" + link;
  }
  RaiseIoErrorFromErrno(ELOOP, output);
}

// The file a write must replace: output itself, or the file its symbolic links lead to. The kernel
// follows the links, as it would for any program of this user: where it refuses (a link another user
// planted in a sticky world-writable folder, under the kernel's protection of such links), nothing is
// written. A dangling link, which the kernel followed as far as the missing file, is written through
// (as cp does): the new file is made where the chain ends.
std::string TargetOf(const std::string& output) {
  struct stat st {};
  if (::lstat(output.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return output;
  const int fd = ::open(output.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) RaiseIoErrorFromErrno(errno, output);
    return FollowLinks(output, output);
  }
  std::string real(PATH_MAX, '\0');
  const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), real.data(), real.size());
  ::close(fd);
  if (length <= 0 || static_cast<std::size_t>(length) >= real.size() || real[0] != '/') {
    return FollowLinks(output, output);  // no /proc: the chain as it reads
  }
  real.resize(static_cast<std::size_t>(length));
  return real;
}

// The longest name a file in folder may have.
std::size_t NameLimit(const std::string& folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : kMaxNameBytes;
}

// Opens a new file exclusively; -1 with errno when it cannot.
int CreateExclusive(const std::string& path, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool SweptFolders::First(const std::string& folder) {
  const std::lock_guard lock(mutex_);
  return folders_.insert(folder).second;
}

TemporaryOutput::TemporaryOutput(std::string output, const std::vector<std::string>& reads, SweptFolders* swept)
    : output_(std::move(output)), swept_(swept) {
  if (output_.empty() || output_.find('\0') != std::string::npos || output_.size() >= PATH_MAX) {
    throw EInOutError(3, output_);
  }
  target_ = TargetOf(output_);
  struct stat st {};
  existed_ = ::stat(target_.c_str(), &st) == 0;
  if (existed_ && !S_ISREG(st.st_mode)) throw ECommandError(output_ + " is not a regular file");
  if (NameOf(target_).empty() || target_.size() >= PATH_MAX) throw EInOutError(3, output_);
  if (FolderOfPathMissing(target_)) throw EInOutError(3, output_);
  // A name the file system cannot hold is refused now, not when the finished file is renamed.
  if (NameOf(target_).size() > NameLimit(FolderOf(target_))) throw EInOutError(3, output_);
  if (!existed_) return;
  for (const std::string& read : reads) {
    struct stat other {};
    if (!read.empty() && ::stat(read.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino) {
      throw ECommandError("Cannot write over " + read + ", which this command reads");
    }
  }
  // Root may write any file, but a file with no write bit at all is read-only for everyone here.
  const bool writable =
      ::geteuid() == 0 ? (st.st_mode & 0222) != 0 : ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) == 0;
  if (!writable) throw EInOutError(5, output_);
  mode_ = st.st_mode & 07777;
  owner_ = st.st_uid;
  group_ = st.st_gid;
}

TemporaryOutput::~TemporaryOutput() {
  if (target_fd_ >= 0) ::close(target_fd_);
  if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
  UnregisterTemporaryFile(slot_);
}

void TemporaryOutput::Reserve() {
  const std::string name = NameOf(target_);
  const std::string prefix = NamePrefix(name, HostTag()) + std::to_string(::getpid()) + "-";
  // A replaced file's content stays private until it is in place; a new file gets the usual mode.
  const mode_t mode = existed_ ? 0600 : 0666;
  std::string folder = FolderOf(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (attempt == 0 && (swept_ == nullptr || swept_->First(folder))) RemoveDeadTemporaryFiles(folder);
    const std::string candidate = folder + "/" + prefix + RandomTag() + std::string(kSuffix);
    slot_ = RegisterTemporaryFile(candidate);
    const int fd = CreateExclusive(candidate, mode);
    if (fd >= 0) {
      ::close(fd);
      path_ = candidate;
      return;
    }
    const int error = errno;
    UnregisterTemporaryFile(std::exchange(slot_, -1));
    if (error == EEXIST) continue;
    // A folder that takes no new files, holding a file that may be written: build elsewhere, then
    // rewrite the file in place.
    if ((error == EACCES || error == EPERM) && existed_ && !in_place_) {
      std::error_code ignored;
      folder = std::filesystem::temp_directory_path(ignored).string();
      if (folder.empty()) folder = "/tmp";
      in_place_ = true;
      attempt = -1;
      continue;
    }
    RaiseIoErrorFromErrno(error, output_);
  }
  RaiseIoErrorFromErrno(EEXIST, output_);
}

void TemporaryOutput::Commit() { CommitTogether({this}); }

namespace {
std::atomic<void (*)(const std::string&)> g_commit_observer{nullptr};
}  // namespace

void TemporaryOutput::ObserveCommitsForTests(void (*observer)(const std::string& output)) {
  g_commit_observer.store(observer);
}

void TemporaryOutput::CommitTogether(const std::vector<TemporaryOutput*>& outputs) {
  for (TemporaryOutput* output : outputs) output->Prepare();
  const InterruptHold hold;  // an interruption waits until every file is in place
  for (TemporaryOutput* output : outputs) {
    output->Finish();
    if (auto* const observer = g_commit_observer.load()) observer(output->output_);
  }
  NoteOutputsCommitted();
}

void TemporaryOutput::Prepare() {
  Build([this] {
    struct stat now {};
    const bool linked = existed_ && ::stat(target_.c_str(), &now) == 0 && now.st_nlink > 1;
    rewrite_ = in_place_ || linked;
    if (rewrite_) {
      // The target is opened and its space reserved now, so that a full disk stops the command before
      // any file of it is replaced.
      BinaryFile source = BinaryFile::OpenExisting(path_, OpenMode::ReadOnly);
      const std::int64_t size = source.Size();
      source.Close();
      target_fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (target_fd_ < 0) RaiseIoErrorFromErrno(errno, output_);
      struct stat st {};
      if (::fstat(target_fd_, &st) != 0 || !S_ISREG(st.st_mode)) RaiseIoErrorFromErrno(EACCES, output_);
      if (size > 0 && ::fallocate(target_fd_, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
          errno != ENOSYS) {
        RaiseIoErrorFromErrno(errno, output_);
      }
      // The space kept aside does not count against the file-size limit; the rewrite would.
      rlimit limit{};
      if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
          static_cast<std::uint64_t>(size) > limit.rlim_cur) {
        RaiseIoErrorFromErrno(EFBIG, output_);
      }
      return;
    }
    if (existed_) {
      // Owner and group first (a change of owner clears the set-user-ID bit); where one cannot be kept,
      // the bits that would widen access under the new one are dropped.
      auto mode = static_cast<mode_t>(mode_);
      if (::chown(path_.c_str(), static_cast<uid_t>(owner_), static_cast<gid_t>(group_)) != 0) {
        mode &= ~static_cast<mode_t>(S_ISUID);
        if (::chown(path_.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(group_)) != 0) {
          mode &= ~static_cast<mode_t>(S_ISGID | S_IRWXG);
        }
      }
      if (::chmod(path_.c_str(), mode) != 0) RaiseIoErrorFromErrno(errno, output_);
    }
  });
}

void TemporaryOutput::Finish() {
  if (rewrite_) {
    Build([this] { RewriteInPlace(); });
  } else if (std::rename(path_.c_str(), target_.c_str()) != 0) {
    RaiseIoErrorFromErrno(errno, output_);
  }
  committed_ = true;
  UnregisterTemporaryFile(std::exchange(slot_, -1));
}

void TemporaryOutput::RewriteInPlace() {
  BinaryFile source = BinaryFile::OpenExisting(path_, OpenMode::ReadOnly);
  const std::int64_t size = source.Size();
  const int fd = std::exchange(target_fd_, -1);
  const auto fail = [&](int error) {
    ::close(fd);
    RaiseIoErrorFromErrno(error, output_);
  };
  std::vector<char> buffer(std::size_t{1} << 20);
  for (std::int64_t done = 0; done < size;) {
    const std::size_t got = source.ReadAt(done, buffer.data(), buffer.size());
    if (got == 0) fail(EIO);
    for (std::size_t put = 0; put < got;) {
      const ssize_t n = ::pwrite(fd, buffer.data() + put, got - put, done + static_cast<std::int64_t>(put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail(n < 0 ? errno : ENOSPC);
      put += static_cast<std::size_t>(n);
    }
    done += static_cast<std::int64_t>(got);
  }
  if (::ftruncate(fd, size) != 0) fail(errno);
  if (::close(fd) != 0) RaiseIoErrorFromErrno(errno, output_);
  source.Close();
  ::unlink(path_.c_str());
}

bool IsTemporaryOutputName(const std::string& file_name) {
  const std::string_view name = file_name;
  if (name.size() < 2 || name.front() != '.' || !EndsWith(name, kSuffix)) return false;
  const std::string_view stem = name.substr(0, name.size() - kSuffix.size());
  const std::size_t dot = stem.rfind('.');
  return dot != 0 && dot != std::string_view::npos && PidOf(stem.substr(dot + 1)) > 0;
}

int RemoveDeadTemporaryFiles(const std::string& folder) {
  const std::string host = "." + HostTag() + ".";
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return 0;
  int removed = 0;
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (error) break;
    const std::string entry = entries->path().filename().string();
    if (!IsTemporaryOutputName(entry)) continue;
    // ".<name>.<host>.<pid>-<tag>.kavrimo-tmp": this machine's, and its process has ended.
    const std::string_view stem = std::string_view(entry).substr(0, entry.size() - kSuffix.size());
    const std::size_t dot = stem.rfind('.');
    if (!EndsWith(stem.substr(0, dot + 1), host) || dot + 1 < host.size() + 1) continue;
    const long pid = PidOf(stem.substr(dot + 1));
    if (pid <= 0 || ProcessRuns(pid)) continue;
    if (::unlink(entries->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace kavrimo
