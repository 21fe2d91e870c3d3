#include "runtime/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "runtime/errors.h"
#include "runtime/path.h"

namespace kavrimo {
namespace {

// One conversion runs on one thread, so for it the mode behaves process-wide; conversions that a batch
// runs side by side on several threads do not disturb each other's opens.
thread_local OpenMode g_file_mode = OpenMode::ReadWrite;

bool IsMalformedPath(const std::string& path) { return path.empty() || path.find('\0') != std::string::npos; }

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadOnly: return O_RDONLY;
    case OpenMode::WriteOnly: return O_WRONLY;
    case OpenMode::ReadWrite: return O_RDWR;
  }
  return O_RDWR;
}

// Opens a regular file. O_NONBLOCK keeps the open of a FIFO (or a device) from waiting for a peer;
// such a file is then refused, as is a folder. For a regular file the flag changes nothing.
int OpenChecked(const std::string& path, int flags) {
  if (IsMalformedPath(path)) throw EInOutError(3, path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw EInOutError(5, path);
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseIoErrorFromErrno(errno == ENXIO ? EACCES : errno, path);  // ENXIO: a FIFO without reader
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EInOutError(5, path);
  }
  return fd;
}

}  // namespace

OpenMode FileMode() { return g_file_mode; }
void SetFileMode(OpenMode mode) { g_file_mode = mode; }

int IoCodeFromErrno(int error_number) {
  switch (error_number) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return 5;
    case ENOSPC:
    case EFBIG: return 101;  // no space for the bytes: a full disk or the file-size limit
    default: return error_number;
  }
}

bool FolderOfPathMissing(const std::string& path) {
  struct stat st {};
  return ::stat(FolderOf(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

void CheckWritableFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) RaiseIoErrorFromErrno(errno == ENOENT ? ENOTDIR : errno, folder);
  if (!S_ISDIR(st.st_mode)) throw EInOutError(3, folder);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) RaiseIoErrorFromErrno(errno, folder);
}

bool MakePrivateFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (errno != ENOENT) return false;
  const std::string parent = FolderOf(folder);
  if (parent != folder && !MakePrivateFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

void RaiseIoErrorFromErrno(int error_number, const std::string& path) {
  if (error_number == ENOENT && !path.empty() && FolderOfPathMissing(path)) throw EInOutError(3, path);
  throw EInOutError(IoCodeFromErrno(error_number), path);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !IsMalformedPath(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return !IsMalformedPath(path) && ::stat(path.c_str(), &st) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !IsMalformedPath(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

WholeFile ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  if (IsMalformedPath(path)) return WholeFile::kRefused;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT ? WholeFile::kMissing : WholeFile::kRefused;
  BinaryFile file(fd, path);  // closes on every way out
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return WholeFile::kRefused;
  // One byte more than the file holds, in one read: a regular file's read stops short only at its end,
  // so a file that keeps its size is read whole by it; one that grew meanwhile is read on to its end.
  content.resize(static_cast<std::size_t>(st.st_size) + 1);
  ssize_t first;
  do {
    first = ::read(fd, content.data(), content.size());
  } while (first < 0 && errno == EINTR);
  if (first < 0) RaiseIoErrorFromErrno(errno, path);
  content.resize(static_cast<std::size_t>(first));
  if (content.size() <= static_cast<std::size_t>(st.st_size)) return WholeFile::kRead;
  char buffer[65536];
  while (const std::size_t got = file.Read(buffer, sizeof buffer)) content.append(buffer, got);
  return WholeFile::kRead;
}

WholeFile ReadStream(const std::string& path, const std::function<void(const char*, std::size_t)>& take) {
  if (IsMalformedPath(path)) return WholeFile::kRefused;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT ? WholeFile::kMissing : WholeFile::kRefused;
  BinaryFile file(fd, path);  // closes on every way out
  char buffer[65536];
  while (const std::size_t got = file.Read(buffer, sizeof buffer)) take(buffer, got);
  return WholeFile::kRead;
}

void SyncFileQuietly(const std::string& path) {
  if (IsMalformedPath(path)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) (void)::fsync(fd);
  ::close(fd);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

BinaryFile::~BinaryFile() {
  if (fd_ >= 0) ::close(fd_);
}

BinaryFile BinaryFile::OpenExisting(const std::string& path) { return OpenExisting(path, FileMode()); }

BinaryFile BinaryFile::OpenExisting(const std::string& path, OpenMode mode) {
  return BinaryFile(OpenChecked(path, OpenFlags(mode)), path);
}

BinaryFile BinaryFile::Create(const std::string& path) {
  return BinaryFile(OpenChecked(path, O_WRONLY | O_CREAT | O_TRUNC), path);
}

void BinaryFile::Seek(std::int64_t position) {
  if (::lseek(fd_, position, SEEK_SET) < 0) RaiseIoErrorFromErrno(errno, path_);
}

std::int64_t BinaryFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) RaiseIoErrorFromErrno(errno, path_);
  return st.st_size;
}

namespace {

// Repeats a read or write call until count bytes have moved, the call reports the end (0), or it
// fails. A failure after some bytes moved reports the short count when report_partial is set, as a
// write cut short by a full disk or a file-size limit does; otherwise it raises.
template <typename Call>
std::size_t Transfer(const std::string& path, std::size_t count, bool report_partial, Call call) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = call(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (report_partial && done > 0) break;
      RaiseIoErrorFromErrno(errno, path);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

std::size_t BinaryFile::Read(void* buffer, std::size_t count) {
  auto* out = static_cast<char*>(buffer);
  return Transfer(path_, count, false, [&](std::size_t done) { return ::read(fd_, out + done, count - done); });
}

std::size_t BinaryFile::ReadAt(std::int64_t position, void* buffer, std::size_t count) const {
  auto* out = static_cast<char*>(buffer);
  return Transfer(path_, count, false, [&](std::size_t done) {
    return ::pread(fd_, out + done, count - done, position + static_cast<std::int64_t>(done));
  });
}

std::size_t BinaryFile::Write(const void* buffer, std::size_t count) {
  const auto* in = static_cast<const char*>(buffer);
  return Transfer(path_, count, true, [&](std::size_t done) { return ::write(fd_, in + done, count - done); });
}

std::size_t BinaryFile::WriteAt(std::int64_t position, const void* buffer, std::size_t count) {
  const auto* in = static_cast<const char*>(buffer);
  return Transfer(path_, count, true, [&](std::size_t done) {
    return ::pwrite(fd_, in + done, count - done, position + static_cast<std::int64_t>(done));
  });
}

void BinaryFile::ReadExactly(void* buffer, std::size_t count) {
  if (Read(buffer, count) != count) throw EInOutError(100, path_);
}

void BinaryFile::WriteExactly(const void* buffer, std::size_t count) {
  if (Write(buffer, count) != count) throw EInOutError(101, path_);
}

void BinaryFile::WriteExactlyAt(std::int64_t position, const void* buffer, std::size_t count) {
  if (WriteAt(position, buffer, count) != count) throw EInOutError(101, path_);
}

void BinaryFile::Reserve(std::int64_t size) {
  if (size <= 0) return;
  int error;
  do {
    error = ::posix_fallocate(fd_, 0, size);
  } while (error == EINTR);
  if (error != 0) RaiseIoErrorFromErrno(error, path_);
}

std::int64_t BinaryFile::SpaceLeft() const {
  struct statvfs fs {};
  if (::fstatvfs(fd_, &fs) != 0) return -1;
  const auto blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  return static_cast<std::int64_t>(blocks) * static_cast<std::int64_t>(fs.f_frsize);
}

void BinaryFile::AdviseSequential(std::int64_t offset, std::int64_t length) const {
  (void)::posix_fadvise(fd_, offset, length, POSIX_FADV_SEQUENTIAL);
}

void BinaryFile::Sync() {
  if (::fsync(fd_) != 0) RaiseIoErrorFromErrno(errno, path_);
}

void BinaryFile::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) RaiseIoErrorFromErrno(errno, path_);
}

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is fd itself: the lower ones are open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (opened != fd && opened >= 0) ::close(opened);
  }
}

}  // namespace kavrimo
