// Files: open modes, errno mapping onto the runtime's codes, transferred counts.
#include "runtime/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kavrimo-file-" + std::to_string(::getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    SetFileMode(OpenMode::ReadWrite);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::all);
    fs::remove_all(dir_);
    SetFileMode(OpenMode::ReadWrite);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static int CodeOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const EInOutError& e) {
      return e.ErrorCode();
    }
    return 0;
  }
  fs::path dir_;
};

TEST(FileMode, StartsAsReadWrite) { EXPECT_EQ(FileMode(), OpenMode::ReadWrite); }

TEST(ErrnoMapping, UsersSeeTheRuntimeWords) {
  const std::pair<int, int> table[] = {{ENOENT, 2}, {ENOTDIR, 3},  {ENAMETOOLONG, 3}, {EMFILE, 4},
                                       {ENFILE, 4}, {EACCES, 5},   {EPERM, 5},        {EROFS, 5},
                                       {EISDIR, 5}, {ENOSPC, 101}, {EFBIG, 101},      {EIO, EIO}};
  for (const auto& [error_number, code] : table) {
    SCOPED_TRACE(error_number);
    EXPECT_EQ(IoCodeFromErrno(error_number), code);
  }
}

// Each failure names the file; a missing folder on the way is 3, a missing file 2; anything but a
// regular file is refused at once (a FIFO with no writer would block a plain open or read forever).
TEST_F(FileTest, OpeningFailuresRaiseTheMappedCodeAndNameTheFile) {
  const std::string file = Write("plain", "x");
  const std::string fifo = (dir_ / "fifo").string(), socket_path = (dir_ / "socket").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::mknod(socket_path.c_str(), S_IFSOCK | 0666, 0), 0);
  struct Case {
    std::string path;
    bool create;
    int code;
  };
  const Case cases[] = {
      {(dir_ / "missing").string(), false, 2},
      {(dir_ / "no-such-dir" / "f").string(), false, 3},
      {(dir_ / "no-such-dir" / "f").string(), true, 3},
      {file + "/below-a-file", false, 3},
      {(dir_ / std::string(300, 'n')).string(), false, 3},
      {"", false, 3},
      {dir_.string(), false, 5},
      {dir_.string(), true, 5},
      {fifo, false, 5},
      {fifo, true, 5},
      {socket_path, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + (c.create ? " (create)" : ""));
    for (const OpenMode mode : {OpenMode::ReadOnly, OpenMode::ReadWrite}) {
      try {
        if (c.create) {
          BinaryFile::Create(c.path);
        } else {
          BinaryFile::OpenExisting(c.path, mode);
        }
        ADD_FAILURE() << "opened";
      } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.Path(), c.path);
      }
    }
  }
  EXPECT_EQ(CodeOf([&] { BinaryFile::OpenExisting(std::string("a\0b", 3)); }), 3);
  EXPECT_TRUE(fs::is_fifo(fifo));  // nothing replaced the FIFO
}

TEST_F(FileTest, ReadOnlyFileRefusesWriteModesUnlessRoot) {
  const std::string file = Write("ro", "abc");
  fs::permissions(file, fs::perms::owner_read);
  EXPECT_NO_THROW(BinaryFile::OpenExisting(file, OpenMode::ReadOnly));
  if (::geteuid() == 0) GTEST_SKIP() << "root opens read-only files for writing";
  EXPECT_EQ(CodeOf([&] { BinaryFile::OpenExisting(file, OpenMode::ReadWrite); }), 5);
  SetFileMode(OpenMode::WriteOnly);
  EXPECT_EQ(CodeOf([&] { BinaryFile::OpenExisting(file); }), 5);
}

TEST_F(FileTest, ProcessWideModeGovernsOpenExisting) {
  const std::string file = Write("m", "abc");
  SetFileMode(OpenMode::ReadOnly);
  BinaryFile read_only = BinaryFile::OpenExisting(file);
  char c;
  EXPECT_EQ(read_only.Read(&c, 1), 1u);
  EXPECT_EQ(CodeOf([&] { read_only.Write("z", 1); }), EBADF);
  SetFileMode(OpenMode::WriteOnly);
  BinaryFile write_only = BinaryFile::OpenExisting(file);
  EXPECT_EQ(CodeOf([&] { write_only.Read(&c, 1); }), EBADF);
}

TEST_F(FileTest, ReadsReportTheTransferredCount) {
  const std::string file = Write("r", "hello");
  BinaryFile f = BinaryFile::OpenExisting(file, OpenMode::ReadOnly);
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, 3), 3u);
  EXPECT_EQ(f.Read(buffer, 16), 2u);
  EXPECT_EQ(std::string(buffer, 2), "lo");
  EXPECT_EQ(f.Read(buffer, 16), 0u);
  EXPECT_EQ(f.ReadAt(1, buffer, 16), 4u);
  EXPECT_EQ(std::string(buffer, 4), "ello");
  f.Seek(0);
  EXPECT_EQ(CodeOf([&] { f.ReadExactly(buffer, 6); }), 100);
  EXPECT_EQ(f.Size(), 5);
}

TEST_F(FileTest, CreateReplacesAndWritesLandAtTheirOffsets) {
  const std::string file = Write("w", "previous content");
  BinaryFile f = BinaryFile::Create(file);
  EXPECT_EQ(f.Size(), 0);
  f.WriteExactly("abcdef", 6);
  f.WriteExactlyAt(2, "XY", 2);
  f.Seek(6);
  EXPECT_EQ(f.Write("!", 1), 1u);
  f.Close();
  f.Close();  // a second close does nothing
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abXYef!");
}

TEST_F(FileTest, FileExistsIsForFilesOnly) {
  EXPECT_TRUE(FileExists(Write("e", "")));
  EXPECT_FALSE(FileExists(dir_.string()));
  EXPECT_FALSE(FileExists((dir_ / "none").string()));
  EXPECT_FALSE(FileExists(""));
}

// A program started with its standard descriptors closed: files it opens later do not take their
// places, and its reads and writes there still fail as on a closed descriptor.
TEST(StandardDescriptors, ClosedOnesAreReservedAndStillFail) {
  const pid_t child = ::fork();
  if (child == 0) {
    for (int fd = 0; fd <= 2; ++fd) ::close(fd);
    ReserveStandardDescriptors();
    char byte = 0;
    const bool reserved = ::open("/dev/zero", O_RDONLY) > 2 && ::read(0, &byte, 1) == -1 && errno == EBADF &&
                          ::write(1, "x", 1) == -1 && errno == EBADF && ::write(2, "x", 1) == -1 && errno == EBADF;
    ::_exit(reserved ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace kavrimo
