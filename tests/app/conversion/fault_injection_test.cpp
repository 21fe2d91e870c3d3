// Faults injected into whole conversions: folders that refuse writes, the file-size limit, a data file
// that shrinks, vanishes or is replaced between the passes, a settings file that cannot be written, and
// a conversion killed outright. Each asserts what the user sees and that nothing is lost: an earlier
// output stays byte for byte, and no temporary file of a finished run is left behind.
//
// Rlimits, signal dispositions and user ids are changed only in forked children, which report back
// through a pipe. As root, "not writable" is made real by running the child as the user nobody.
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/conversion/conversion.h"
#include "runtime/temporary_output.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using Names = std::vector<std::string>;

constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kNoWrites = kReadOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
const std::string kExampleImage = "\x0d\x7e\xfd";  // the cells 100, 1000 and 2000 coded: 13, 126, 253
const Names kUntouched = {"dem.flt", "dem.hdr", "header.bin", "out.IMG"};

// The cells of an image: what follows its 512-byte header.
std::string ImageCells(const std::string& path) { return ReadText(path).substr(512); }

// Records the engine's calls and runs a hook at each processing of the window's messages (call 1 comes
// before pass 1, call 2 just before pass 2) and at each progress step.
struct HookHost : RecordingHost {
  void ProcessMessages() override { RecordingHost::ProcessMessages(), on_messages(++calls); }
  void SetProgress(int position) override { RecordingHost::SetProgress(position), on_progress(position); }
  std::function<void(int call)> on_messages = [](int) {};
  std::function<void(int position)> on_progress = [](int) {};
  int calls = 0;
};

Names Temporaries(const fs::path& dir) {
  Names names = ListFolder(dir);
  std::erase_if(names, [](const std::string& name) { return !IsTemporaryOutputName(name); });
  return names;
}

std::string HostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// A folder that the user nobody can reach, holding the grid "dem", a copy of the template and an
// earlier output "out.IMG" that must survive every failure.
class FaultTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_.Path(), fs::perms::owner_all | kNoWrites);
    fs::copy_file(testing_support::TemplatePath(), Template());
    WriteText(Output(), kEarlier);
  }
  void TearDown() override {
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
      if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::all);
    }
  }

  std::string Grid() const { return dir_.File("dem.flt"); }
  std::string Template() const { return dir_.File("header.bin"); }
  std::string Output() const { return dir_.File("out.IMG"); }
  ConversionRequest Request(int threads = 1) const { return {Grid(), Output(), Template(), threads}; }
  void WriteExample() const { WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000}); }
  fs::path MakeFolder(const std::string& name) const {  // that anyone may write to
    fs::create_directory(dir_.Path() / name);
    fs::permissions(dir_.Path() / name, fs::perms::all);
    return dir_.Path() / name;
  }

  testing_support::TempDir dir_;
  const std::string kEarlier = std::string(1000, 'e');
};

// ---- failures half way: the file-size limit, a data file that shrinks between the passes

// 1.5 million cells make two shares of work, so with two threads the second share's write starts beyond
// the file-size limit while the first one is cut short: the first in cell order is reported.
TEST_F(FaultTest, FailureHalfWayKeepsTheEarlierOutputAndLeavesNoTemporaryFile) {
  const std::string full = "Disk full", beyond = "Read beyond end of file";
  const struct { const char* name; rlim_t limit; std::intmax_t shrink_to; int threads; std::string message; } cases[] = {
      {"size limit inside the header", 300, -1, 1, full}, {"size limit half way", 512 + 750000 + 123, -1, 1, full},
      {"size limit half way, two threads", 512 + 750000 + 123, -1, 2, full},
      {"data shrunk to nothing", 0, 0, 1, beyond}, {"data shrunk to half", 0, 3000000, 1, beyond},
      {"data shrunk to half, two threads", 0, 3000000, 2, beyond},
      {"data shrunk by half a cell", 0, 6000000 - 2, 1, beyond},
      {"data shrunk by half a cell, two threads", 0, 6000000 - 2, 2, beyond}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteGrid(dir_.File("dem"), 1500, 1000, std::vector<float>(1500 * 1000, 7.0f));
    EXPECT_EQ(InChild([&] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{c.limit, c.limit};
                if (c.limit != 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
                HookHost host;
                host.on_messages = [&](int call) { if (call == 2 && c.shrink_to >= 0) fs::resize_file(Grid(), c.shrink_to); };
                return ConvertMessage(Request(c.threads), host) + (host.busy ? "|busy" : "");
              }),
              c.message);
    EXPECT_EQ(ReadText(Output()), kEarlier);
    EXPECT_EQ(ListFolder(dir_.Path()), kUntouched);
  }
}

// ---- the data file vanishes

// The engine holds the data file open from before pass 1 to the end of pass 2, so a grid that is
// deleted or replaced meanwhile is still read as it was when the command opened it: both passes see
// the same cells, and the user gets a correct image of them and the success box.
TEST_F(FaultTest, DataFileVanishingWhileOpenIsConvertedAsOpened) {
  const struct { const char* name; int at_call; bool replace; } cases[] = {
      {"deleted before pass 1", 1, false}, {"deleted before pass 2", 2, false}, {"replaced before pass 2", 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteExample();
    WriteGrid(dir_.File("other"), 3, 1, {-5, 7, 1e6f});
    HookHost host;
    host.on_messages = [&](int call) {
      for (const std::string extension : {".flt", ".hdr"}) {
        if (call != c.at_call) continue;
        if (c.replace) fs::rename(dir_.File("other" + extension), dir_.File("dem" + extension));
        else fs::remove(dir_.File("dem" + extension));
      }
    };
    ASSERT_EQ(ConvertMessage(Request(), host), "");
    EXPECT_EQ(host.events.back(), "info Image created succesfully");
    EXPECT_EQ(ImageCells(Output()), kExampleImage);
    EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  }
}

// ---- the conversion is killed during pass 2, and leftovers of other runs

// The conversion kills itself half way through pass 2, as SIGKILL from outside would end it, and leaves
// its temporary file. The next conversion into the same folder removes that and every other leftover of
// a dead process of this machine, but not the leftovers of running processes (this one among them) or
// of other machines, nor other names.
TEST_F(FaultTest, KilledInPassTwoKeepsTheEarlierOutputAndTheNextRunClearsOnlyItsLeftover) {
  WriteGrid(dir_.File("dem"), 2000, 1000, std::vector<float>(2000 * 1000, 7.0f));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HookHost host;
    host.on_progress = [&](int position) { if (host.calls == 2 && position >= 50) ::raise(SIGKILL); };
    ConvertMessage(Request(), host);
    ::_exit(4);  // reaching here means the kill never came
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  EXPECT_EQ(ReadText(Output()), kEarlier);
  const std::string host = HostName(), dead = std::to_string(child), tag = "-abcdefghij.kavrimo-tmp";
  const Names leftovers = Temporaries(dir_.Path());
  ASSERT_EQ(leftovers.size(), 1u);
  EXPECT_TRUE(leftovers[0].starts_with(".out.IMG." + host + "." + dead + "-")) << leftovers[0];
  const Names kept = {".out.IMG." + host + "." + std::to_string(::getppid()) + tag,  // a running conversion
                      ".out.IMG." + host + "." + std::to_string(::getpid()) + "-0123456789.kavrimo-tmp",  // this one
                      ".out.IMG.elsewhere." + dead + tag,                             // another machine
                      ".out.IMG." + host + "." + dead + "-abc.kavrimo-tmp",           // not our pattern
                      ".out.IMG." + host + "." + dead + "-ABCDEFGHIJ.kavrimo-tmp",    // not our pattern
                      ".out.IMG.kavrimo-tmp"};                                        // not our pattern
  for (const std::string& name : kept) WriteText(dir_.File(name), "keep");
  WriteExample();
  RecordingHost recorder;
  const std::string other_output = ".other.IMG." + host + "." + dead + tag;
  WriteText(dir_.File(other_output), "left by a killed run to another output");
  ASSERT_EQ(ConvertMessage(Request(), recorder), "");
  EXPECT_EQ(ImageCells(Output()), kExampleImage);
  EXPECT_FALSE(fs::exists(dir_.File(leftovers[0])));
  EXPECT_FALSE(fs::exists(dir_.File(other_output)));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir_.File(name))) << name;
  EXPECT_EQ(ListFolder(dir_.Path()).size(), kUntouched.size() + kept.size());
  EXPECT_FALSE(IsTemporaryOutputName(".out.IMG.kavrimo-tmp"));
}

// A name near the system's limit of 255 bytes still leaves room for the temporary name, which is cut
// short, and the leftovers of such an output are found again.
TEST_F(FaultTest, LongOutputNameConvertsAndItsLeftoversAreFound) {
  WriteExample();
  const std::string name(250, 'n'), output = dir_.File(name);
  Names seen;  // the temporary files while pass 2 runs
  HookHost host;
  host.on_messages = [&](int call) { if (call == 2) seen = Temporaries(dir_.Path()); };
  ASSERT_EQ(ConvertMessage({Grid(), output, Template(), 1}, host), "");
  EXPECT_EQ(ImageCells(output), kExampleImage);
  EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_LE(seen[0].size(), 255u);
  EXPECT_TRUE(seen[0].starts_with("." + name.substr(0, 100))) << seen[0];
  // The same name made by a process that has ended is a leftover of this output.
  const std::string stem = seen[0].substr(0, seen[0].size() - std::string(".kavrimo-tmp").size());
  const std::string leftover = stem.substr(0, stem.rfind('.') + 1) + std::to_string(DeadPid()) + "-abcdefghij.kavrimo-tmp";
  WriteText(dir_.File(leftover), "left by a killed run");
  EXPECT_EQ(RemoveDeadTemporaryFiles(dir_.Path().string()), 1);
  EXPECT_FALSE(fs::exists(dir_.File(leftover)));
}

// ---- found by fuzzing

// A cell size near the top of the header's range: every field fits, but the corner values of the
// finished image overflow when the component attaches it. The image is complete and in place by
// then, so the user must get the success box, not "Floating point overflow" over a replaced file.
TEST_F(FaultTest, CornerOverflowOfTheFinishedImageIsNoFailure) {
  WriteGrid(dir_.File("dem"), 100, 1, std::vector<float>(100, 7.0f), "NODATA_value -9999\n", false, 0, 0, 1e38f);
  RecordingHost host;
  TKelImg image(host);
  ASSERT_NO_THROW(Convert(Request(), image, host));
  EXPECT_EQ(host.events.back(), "info Image created succesfully");
  EXPECT_EQ(ReadText(Output()).size(), 612u);
  EXPECT_EQ(image.FileName(), Output());
  EXPECT_EQ(image.State(), ImageState::ValidImage);
  EXPECT_EQ(Temporaries(dir_.Path()), Names{});
}

}  // namespace
}  // namespace kavrimo
