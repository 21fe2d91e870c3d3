// Files as byte streams, checked after every call.
//
// Every failing system call raises EInOutError with the code its errno maps to, so users see the same
// words on every platform, and with the file's name, so a front end can say which file failed.
// Existing files are opened in the process-wide open mode unless a caller names a mode; creating a
// file replaces any file of that name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kavrimo {

// The process-wide open mode for opening existing files: 0 read only, 1 write only, 2 read and write.
// It starts as 2. It is held per thread: each conversion runs on one thread.
enum class OpenMode : int { ReadOnly = 0, WriteOnly = 1, ReadWrite = 2 };
OpenMode FileMode();
void SetFileMode(OpenMode mode);

// The runtime code for an errno value: ENOENT 2; ENOTDIR, ENAMETOOLONG, EINVAL 3; EMFILE, ENFILE 4;
// EACCES, EPERM, EROFS, EISDIR 5; ENOSPC and EFBIG (the file-size limit) 101; anything else the errno
// value.
int IoCodeFromErrno(int error_number);
// Raises EInOutError for a failed call on path (which the error names). An ENOENT whose cause is a
// missing folder on the way to path is 3 "Invalid filename", a missing file 2 "File not found".
[[noreturn]] void RaiseIoErrorFromErrno(int error_number, const std::string& path = {});
// True when the folder that would hold path does not exist (or is not a folder).
bool FolderOfPathMissing(const std::string& path);
// Raises EInOutError naming folder unless it is an existing folder that takes new files: 3 "Invalid
// filename" when it is missing or not a folder, the code of the system's refusal (5 "File access
// denied") when it takes no new files.
void CheckWritableFolder(const std::string& folder);
// Makes folder and the missing folders on the way to it, each with mode 0700 (private, as a user's
// configuration folder). False when one cannot be made or a name on the way is not a folder.
bool MakePrivateFolders(const std::string& folder);

// Puts /dev/null on each of the descriptors 0, 1 and 2 the program was started without, so that no
// file opened later takes one of them and receives what is meant for standard output or error.
// /dev/null is opened the wrong way round (standard input for writing only, the others for reading
// only), so the program's reads and writes still fail there, as on a closed descriptor. Call once,
// at start.
void ReserveStandardDescriptors();

// True when path names an existing regular file.
bool FileExists(const std::string& path);
// True when path names anything that exists (after symbolic links).
bool PathExists(const std::string& path);
// True when path names an existing folder (after symbolic links).
bool FolderExists(const std::string& path);

// Reads a whole regular file into content without blocking: a FIFO, a device, a socket or a folder is
// neither waited on nor read. Returns kMissing when there is no such file, kRefused when it cannot be
// opened or is not a regular file (content is then empty); raises EInOutError naming path when a read
// fails after the file was opened.
enum class WholeFile { kRead, kMissing, kRefused };
WholeFile ReadWholeFile(const std::string& path, std::string& content);

// Reads a file or stream to its end, waiting on it as standard input is waited on: a regular file, a
// FIFO, a device or a process substitution (/dev/fd/N), each piece handed to take as it comes (take may
// raise to stop reading). Returns kMissing or kRefused when it cannot be opened; raises EInOutError
// naming path when a read fails (a folder, say).
WholeFile ReadStream(const std::string& path, const std::function<void(const char* bytes, std::size_t count)>& take);

// Asks the system to write a regular file's cached data to disk; does nothing for a missing file or
// anything else. Never raises.
void SyncFileQuietly(const std::string& path);

class BinaryFile {
 public:
  BinaryFile() = default;
  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  ~BinaryFile();  // closes without raising

  // Opens an existing regular file, positioned at byte 0. Anything else (a folder, a FIFO, a device,
  // a socket) is refused with 5 "File access denied", without blocking and without reading it.
  static BinaryFile OpenExisting(const std::string& path);  // in the process-wide mode
  static BinaryFile OpenExisting(const std::string& path, OpenMode mode);
  // Creates the file for writing, replacing any regular file of that name; refuses any other kind of
  // file as OpenExisting does.
  static BinaryFile Create(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }  // for the runtime's own system code
  const std::string& Path() const { return path_; }

  void Seek(std::int64_t position);
  std::int64_t Size() const;
  // Transfers up to count bytes and returns how many came; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t count);
  std::size_t ReadAt(std::int64_t position, void* buffer, std::size_t count) const;
  // Transfers up to count bytes and returns how many went; fewer only when the system stopped
  // part-way (disk full, file-size limit). A write that transfers nothing raises.
  std::size_t Write(const void* buffer, std::size_t count);
  std::size_t WriteAt(std::int64_t position, const void* buffer, std::size_t count);
  // As Read and Write, but a short transfer raises 100 "Read beyond end of file" or 101 "Disk full".
  void ReadExactly(void* buffer, std::size_t count);
  void WriteExactly(const void* buffer, std::size_t count);
  void WriteExactlyAt(std::int64_t position, const void* buffer, std::size_t count);
  // Sets aside space on the disk for the first size bytes of the file (the file grows to size if it is
  // shorter), so that later writes there cannot find the disk full. Raises 101 "Disk full" when there is
  // no space.
  void Reserve(std::int64_t size);
  // The bytes this process may still write on the file's file system (root's share included for root);
  // -1 when the system cannot say.
  std::int64_t SpaceLeft() const;
  // Tells the system that bytes [offset, offset + length) will be read from start to end (a hint;
  // failures are ignored).
  void AdviseSequential(std::int64_t offset, std::int64_t length) const;
  // Writes the file's data to the disk before returning; raises EInOutError when the system cannot.
  void Sync();
  void Close();  // checked

 private:
  friend WholeFile ReadWholeFile(const std::string& path, std::string& content);
  friend WholeFile ReadStream(const std::string& path, const std::function<void(const char*, std::size_t)>& take);
  BinaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
};

}  // namespace kavrimo
