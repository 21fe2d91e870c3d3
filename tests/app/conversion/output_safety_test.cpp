// Whatever file a user points the conversion at, nothing of theirs is lost or harmed: outputs that are
// special files or files the command reads are refused before the grid is read; replacing an output
// keeps its mode, owner and links; a folder that takes no new files still gets a writable output
// rewritten; inputs that are FIFOs, devices or folders are refused without blocking; a huge header
// costs memory of its size; an interruption removes the temporary file.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/conversion/conversion.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "runtime/temporary_output.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kEarlier(700, 'e');
const std::string kNewCells = "\x0d\x7e\xfd";  // the cells 100, 1000 and 2000 coded

struct Stat {
  explicit Stat(const std::string& path, bool follow = true) {
    ok = (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
  }
  bool ok;
  struct stat st {};
};

// A folder holding the grid "dem" (cells 100, 1000, 2000), a copy of the template and a folder "out"
// that anyone may write into; the whole tree reachable by the user nobody.
class OutputSafetyTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_.Path(), fs::perms::all);
    WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
    fs::copy_file(testing_support::TemplatePath(), File("header.bin"));
    Folder("out", fs::perms::all);
  }
  void TearDown() override {
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
      if (entry.is_directory() && !entry.is_symlink()) fs::permissions(entry.path(), fs::perms::all);
    }
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  void Folder(const std::string& name, fs::perms perms) const {
    fs::create_directories(File(name));
    fs::permissions(File(name), perms);
  }
  // Converts dem to output; "<message>|<pass started or not>".
  std::string Convert(const std::string& output) const {
    RecordingHost host;
    TKelImg image(host);
    std::string message;
    try {
      kavrimo::Convert({File("dem.flt"), output, File("header.bin"), 1}, image, host);
    } catch (const Error& e) {
      message = e.Message();
    }
    const bool started = !host.statuses.empty();
    return message + (started ? "|read" : "|not read");
  }
  static bool Root() { return ::geteuid() == 0; }
  testing_support::TempDir dir_;
};

// Refused before the grid is read, and the file is left as it was.
TEST_F(OutputSafetyTest, OutputsThatMustNotBeWrittenAreRefusedFirst) {
  struct Case {
    const char* name;
    std::function<std::string()> make;  // returns the output name
    std::function<std::string(const std::string& output)> message;
    bool root_only = false;
  };
  const auto not_regular = [](const std::string& output) { return output + " is not a regular file"; };
  const auto reads = [this](const char* name) {
    return [this, name](const std::string&) { return "Cannot write over " + File(name) + ", which this command reads"; };
  };
  const Case cases[] = {
      {"a FIFO", [&] { return ::mkfifo(File("out/fifo").c_str(), 0666), File("out/fifo"); }, not_regular},
      {"a socket", [&] { return ::mknod(File("out/sock").c_str(), S_IFSOCK | 0666, 0), File("out/sock"); }, not_regular},
      {"a character device", [&] { return ::mknod(File("out/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), File("out/null"); },
       not_regular, true},
      {"a folder", [&] { return fs::create_directory(File("out/dir")), File("out/dir"); }, not_regular},
      {"a link to a FIFO", [&] { return ::mkfifo(File("out/f").c_str(), 0666), fs::create_symlink("f", File("out/l")), File("out/l"); },
       not_regular},
      {"the data file", [&] { return File("dem.flt"); }, reads("dem.flt")},
      {"the header file", [&] { return File("dem.hdr"); }, reads("dem.hdr")},
      {"the template", [&] { return File("header.bin"); }, reads("header.bin")},
      {"a hard link to the data file", [&] { return fs::create_hard_link(File("dem.flt"), File("out/d.IMG")), File("out/d.IMG"); },
       reads("dem.flt")},
      {"a link to the header file", [&] { return fs::create_symlink("../dem.hdr", File("out/h.IMG")), File("out/h.IMG"); },
       reads("dem.hdr")},
      {"a missing folder", [&] { return File("out/none/x.IMG"); }, [](const std::string&) { return std::string("Invalid filename"); }},
      {"a read-only image", [&] { return WriteText(File("out/ro.IMG"), kEarlier), fs::permissions(File("out/ro.IMG"), fs::perms::owner_read | fs::perms::group_read), File("out/ro.IMG"); },
       [](const std::string&) { return std::string("File access denied"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.root_only && !Root()) continue;
    const std::string output = c.make();
    const Stat before(output, false);
    const std::string content = before.ok && S_ISREG(before.st.st_mode) ? ReadText(output) : "";
    EXPECT_EQ(Convert(output), c.message(output) + "|not read");
    const Stat after(output, false);
    EXPECT_EQ(after.ok, before.ok);
    EXPECT_EQ(after.st.st_mode, before.st.st_mode);
    EXPECT_EQ(after.st.st_ino, before.st.st_ino);
    if (S_ISREG(after.st.st_mode)) {
      EXPECT_EQ(ReadText(output), content);
    }
  }
  EXPECT_EQ(ReadText(File("dem.flt")).size(), 12u);
  EXPECT_EQ(ListFolder(dir_.Path()), (std::vector<std::string>{"dem.flt", "dem.hdr", "header.bin", "out"}));
}

// Replacing an image keeps what the user set on it; nothing temporary is left anywhere.
TEST_F(OutputSafetyTest, ReplacingKeepsModeOwnerAndLinks) {
  Folder("other", fs::perms::all);
  struct Case {
    const char* name;
    std::function<std::string()> make;
    std::function<void(const std::string& output)> check;
    bool root_only = false;
  };
  const auto earlier = [&](const std::string& name, mode_t mode) {
    WriteText(File(name), kEarlier);
    ::chmod(File(name).c_str(), mode);
    return File(name);
  };
  const Case cases[] = {
      {"mode 0600 stays", [&] { return earlier("out/private.IMG", 0600); },
       [](const std::string& output) { EXPECT_EQ(Stat(output).st.st_mode & 07777, 0600u); }},
      {"mode 0640 and owner nobody stay",
       [&] {
         const std::string output = earlier("out/owned.IMG", 0640);
         EXPECT_EQ(::chown(output.c_str(), 65534, 65534), 0);
         return output;
       },
       [](const std::string& output) {
         const Stat s(output);
         EXPECT_EQ(s.st.st_mode & 07777, 0640u);
         EXPECT_EQ(s.st.st_uid, 65534u);
         EXPECT_EQ(s.st.st_gid, 65534u);
       },
       true},
      {"a symbolic link to an image in another folder",
       [&] {
         earlier("other/real.IMG", 0644);
         fs::create_symlink("../other/real.IMG", File("out/link.IMG"));
         return File("out/link.IMG");
       },
       [&](const std::string& output) {
         EXPECT_TRUE(fs::is_symlink(output));
         EXPECT_EQ(fs::read_symlink(output), "../other/real.IMG");
         EXPECT_EQ(ReadText(File("other/real.IMG")).substr(512), kNewCells);
       }},
      {"a dangling symbolic link", [&] { return fs::create_symlink("made.IMG", File("out/dangling.IMG")), File("out/dangling.IMG"); },
       [&](const std::string& output) {
         EXPECT_TRUE(fs::is_symlink(output));
         EXPECT_EQ(ReadText(File("out/made.IMG")).substr(512), kNewCells);
       }},
      {"an image with a second hard link",
       [&] {
         const std::string output = earlier("out/a.IMG", 0644);
         fs::create_hard_link(output, File("out/b.IMG"));
         return output;
       },
       [&](const std::string& output) {
         EXPECT_EQ(ReadText(File("out/b.IMG")), ReadText(output));
         EXPECT_EQ(Stat(output).st.st_ino, Stat(File("out/b.IMG")).st.st_ino);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.root_only && !Root()) continue;
    const std::string output = c.make();
    EXPECT_EQ(Convert(output), "|read");
    EXPECT_EQ(ReadText(output).substr(512), kNewCells);
    c.check(output);
    for (const char* folder : {"out", "other"}) {
      for (const std::string& name : ListFolder(File(folder))) EXPECT_FALSE(IsTemporaryOutputName(name)) << name;
    }
  }
}

// A folder that takes no new files: a writable image in it is built elsewhere and rewritten in place;
// a read-only one is refused before the grid is read. (As root the conversion runs as nobody.)
TEST_F(OutputSafetyTest, FolderThatTakesNoNewFiles) {
  Folder("locked", fs::perms::all);
  WriteText(File("locked/w.IMG"), kEarlier);
  fs::permissions(File("locked/w.IMG"), fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
  WriteText(File("locked/r.IMG"), kEarlier);
  fs::permissions(File("locked/r.IMG"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(File("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const ino_t inode = Stat(File("locked/w.IMG")).st.st_ino;
  EXPECT_EQ(InChild([&] { return Convert(File("locked/w.IMG")) + ";" + Convert(File("locked/r.IMG")); }, true),
            "|read;File access denied|not read");
  EXPECT_EQ(ReadText(File("locked/w.IMG")).substr(512), kNewCells);
  EXPECT_EQ(Stat(File("locked/w.IMG")).st.st_ino, inode);
  EXPECT_EQ(Stat(File("locked/w.IMG")).st.st_mode & 07777, 0666u);
  EXPECT_EQ(ReadText(File("locked/r.IMG")), kEarlier);
  EXPECT_EQ(ListFolder(File("locked")), (std::vector<std::string>{"r.IMG", "w.IMG"}));
}

// Inputs that are not regular files fail at once; none is waited on (the child would time out).
TEST_F(OutputSafetyTest, InputsThatAreNotRegularFilesNeverBlock) {
  struct Case {
    const char* name;
    const char* replaced;  // the file replaced by a FIFO or a folder
    bool folder;
    std::string message;
  };
  const Case cases[] = {
      {"header FIFO", "dem.hdr", false, "Cannot open file " + File("dem.hdr")},
      {"header folder", "dem.hdr", true, "Cannot open file " + File("dem.hdr")},
      {"data FIFO", "dem.flt", false, "File access denied"},
      {"data folder", "dem.flt", true, "File access denied"},
      {"template FIFO", "header.bin", false, "File access denied"},
      {"template folder", "header.bin", true, "File access denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File(c.replaced);
    const std::string saved = ReadText(path);
    fs::remove(path);
    c.folder ? fs::create_directory(path) : (::mkfifo(path.c_str(), 0666) == 0);
    EXPECT_EQ(InChild([&] { return Convert(File("out/x.IMG")); }, false, 20).substr(0, c.message.size()), c.message);
    fs::remove(path);
    WriteText(path, saved);
  }
}

// A 50 MB header converts within 400 MB of address space: its reading costs the order of its size.
TEST_F(OutputSafetyTest, HugeHeaderConvertsInMemoryOfItsOrder) {
  if (testing_support::UnderAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer reserves the address space";
  {
    std::ofstream header(File("dem.hdr"), std::ios::binary);
    header << "ncols 3\nnrows 1\nNODATA_value -9999\n";
    const std::string filler = "x\n";
    for (int i = 0; i < 25 * 1024 * 1024; ++i) header << filler;
    header << "cellsize 1\n";
  }
  ASSERT_GT(fs::file_size(File("dem.hdr")), 50u * 1000 * 1000);
  EXPECT_EQ(InChild([&] {
              const rlimit limit{400u << 20, 400u << 20};
              ::setrlimit(RLIMIT_AS, &limit);
              return Convert(File("out/x.IMG"));
            }),
            "|read");
  EXPECT_EQ(ReadText(File("out/x.IMG")).substr(512), kNewCells);
}

// An interruption during pass 2: the temporary file is removed, the process ends with 128 + the
// signal, and the earlier output is intact. A signal the process was started with ignored (nohup)
// stays ignored, and the conversion ends as usual.
TEST_F(OutputSafetyTest, InterruptionRemovesTheTemporaryFile) {
  WriteGrid(File("dem"), 1000, 1000, std::vector<float>(1000 * 1000, 7.0f));
  const struct {
    int signal;
    bool ignored_at_start;
  } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGPIPE, false}, {SIGHUP, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.signal << (c.ignored_at_start ? " ignored" : ""));
    WriteText(File("out/x.IMG"), kEarlier);
    struct Interrupting : RecordingHost {
      void SetProgress(int position) override {
        RecordingHost::SetProgress(position);
        if (!statuses.empty() && statuses.back() == "Step 2 of 2" && position >= 50) ::kill(::getpid(), signal);
      }
      int signal = 0;
    };
    const std::string report = InChild([&] {
      if (c.ignored_at_start) ::signal(c.signal, SIG_IGN);
      InstallInterruptHandlers();
      Interrupting host;
      host.signal = c.signal;
      TKelImg image(host);
      kavrimo::Convert({File("dem.flt"), File("out/x.IMG"), File("header.bin"), 2}, image, host);
      return std::string("not interrupted");
    });
    EXPECT_EQ(report, c.ignored_at_start ? "not interrupted" : "child failed: exit " + std::to_string(128 + c.signal) + " ");
    EXPECT_EQ(ReadText(File("out/x.IMG")).size(), c.ignored_at_start ? 512u + 1000 * 1000 : kEarlier.size());
    EXPECT_EQ(ListFolder(File("out")), std::vector<std::string>{"x.IMG"});
  }
}

}  // namespace
}  // namespace kavrimo
