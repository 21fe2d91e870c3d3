// Whatever file a user points the conversion at, nothing of theirs is lost or harmed: outputs that are
// special files or files the command reads are refused before the grid is read; inputs that are FIFOs,
// devices or folders are refused without blocking; a huge header costs memory of its size. What a
// replaced output keeps (mode, owner, links) is TemporaryOutput's, tested with it in tests/runtime.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/conversion/conversion.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kEarlier(700, 'e');
const std::string kNewCells = "\x0d\x7e\xfd";  // the cells 100, 1000 and 2000 coded

// The file itself (a link as a link), as the system shows it.
struct Stat {
  explicit Stat(const std::string& path) { ok = ::lstat(path.c_str(), &st) == 0; }
  bool ok;
  struct stat st {};
};

// A folder holding the grid "dem" (cells 100, 1000, 2000), a copy of the template and a folder "out".
class OutputSafetyTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
    fs::copy_file(testing_support::TemplatePath(), File("header.bin"));
    fs::create_directory(File("out"));
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
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
  testing_support::TempDir dir_;
};

// Refused before the grid is read, and the file is left as it was.
TEST_F(OutputSafetyTest, OutputsThatMustNotBeWrittenAreRefusedFirst) {
  struct Case {
    const char* name;
    std::function<std::string()> make;  // returns the output name
    std::function<std::string(const std::string& output)> message;
  };
  const auto not_regular = [](const std::string& output) { return output + " is not a regular file"; };
  const auto reads = [this](const char* name) {
    return
        [this, name](const std::string&) { return "Cannot write over " + File(name) + ", which this command reads"; };
  };
  const Case cases[] = {
      {"a FIFO", [&] { return ::mkfifo(File("out/fifo").c_str(), 0666), File("out/fifo"); }, not_regular},
      {"the data file", [&] { return File("dem.flt"); }, reads("dem.flt")},
      {"the header file", [&] { return File("dem.hdr"); }, reads("dem.hdr")},
      {"the template", [&] { return File("header.bin"); }, reads("header.bin")},
      // clang-format off
      {"a hard link to the data file", [&] { return fs::create_hard_link(File("dem.flt"), File("out/d.IMG")), File("out/d.IMG"); },
       reads("dem.flt")},
      {"a link to the header file", [&] { return fs::create_symlink("../dem.hdr", File("out/h.IMG")), File("out/h.IMG"); },
       reads("dem.hdr")},
      {"a read-only image", [&] { return WriteText(File("out/ro.IMG"), kEarlier), fs::permissions(File("out/ro.IMG"), fs::perms::owner_read | fs::perms::group_read), File("out/ro.IMG"); },
       // clang-format on
       [](const std::string&) { return std::string("File access denied"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = c.make();
    const Stat before(output);
    const std::string content = before.ok && S_ISREG(before.st.st_mode) ? ReadText(output) : "";
    EXPECT_EQ(Convert(output), c.message(output) + "|not read");
    const Stat after(output);
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

}  // namespace
}  // namespace kavrimo
