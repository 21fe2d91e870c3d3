// Faults injected into whole conversions: the file-size limit, a data file that shrinks, vanishes or is
// replaced between the passes, and a conversion interrupted or killed outright. Each asserts what the
// user sees and that nothing is lost: an earlier output stays byte for byte, and no temporary file of a
// finished run is left behind.
//
// Rlimits and signal dispositions are changed only in forked children, which report back through a
// pipe.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
using Names = std::vector<std::string>;

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

// A folder holding the grid "dem", a copy of the template and an earlier output "out.IMG" that must
// survive every failure.
class FaultTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(testing_support::TemplatePath(), Template());
    WriteText(Output(), kEarlier);
  }

  std::string Grid() const { return dir_.File("dem.flt"); }
  std::string Template() const { return dir_.File("header.bin"); }
  std::string Output() const { return dir_.File("out.IMG"); }
  ConversionRequest Request(int threads = 1) const { return {Grid(), Output(), Template(), threads}; }
  void WriteExample() const { WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000}); }

  testing_support::TempDir dir_;
  const std::string kEarlier = std::string(1000, 'e');
};

// ---- failures half way: the file-size limit, a data file that shrinks between the passes

// 1.5 million cells make two shares of work, so with two threads the second share's write starts beyond
// the file-size limit while the first one is cut short: the first in cell order is reported.
TEST_F(FaultTest, FailureHalfWayKeepsTheEarlierOutputAndLeavesNoTemporaryFile) {
  const std::string full = "Disk full", beyond = "Read beyond end of file";
  // clang-format off
  const struct { const char* name; rlim_t limit; std::intmax_t shrink_to; int threads; std::string message; } cases[] = {
      {"size limit inside the header", 300, -1, 1, full}, {"size limit half way", 512 + 750000 + 123, -1, 1, full},
      {"size limit half way, two threads", 512 + 750000 + 123, -1, 2, full},
      {"data shrunk to nothing", 0, 0, 1, beyond}, {"data shrunk to half", 0, 3000000, 1, beyond},
      {"data shrunk to half, two threads", 0, 3000000, 2, beyond},
      {"data shrunk by half a cell", 0, 6000000 - 2, 1, beyond},
      {"data shrunk by half a cell, two threads", 0, 6000000 - 2, 2, beyond}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteGrid(dir_.File("dem"), 1500, 1000, std::vector<float>(1500 * 1000, 7.0f));
    EXPECT_EQ(InChild([&] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{c.limit, c.limit};
                if (c.limit != 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
                HookHost host;
                host.on_messages = [&](int call) {
                  if (call == 2 && c.shrink_to >= 0) fs::resize_file(Grid(), c.shrink_to);
                };
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
  // clang-format off
  const struct { const char* name; int at_call; bool replace; } cases[] = {// clang-format on
               {"deleted before pass 1", 1, false},
               {"deleted before pass 2", 2, false},
               {"replaced before pass 2", 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteExample();
    WriteGrid(dir_.File("other"), 3, 1, {-5, 7, 1e6f});
    HookHost host;
    host.on_messages = [&](int call) {
      for (const std::string extension : {".flt", ".hdr"}) {
        if (call != c.at_call) continue;
        if (c.replace)
          fs::rename(dir_.File("other" + extension), dir_.File("dem" + extension));
        else
          fs::remove(dir_.File("dem" + extension));
      }
    };
    ASSERT_EQ(ConvertMessage(Request(), host), "");
    EXPECT_EQ(host.events.back(), "info Image created succesfully");
    EXPECT_EQ(ImageCells(Output()), kExampleImage);
    EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  }
}

// ---- interruptions during pass 2

// The conversion stopped half way through pass 2 by each signal that ends it: the handlers remove the
// temporary file and end with 128 + the signal, while SIGKILL leaves it behind for the next conversion
// into the folder to remove. A signal the process was started with ignored (nohup) stays ignored, and
// the conversion ends as usual. The earlier output stays until a conversion completes.
TEST_F(FaultTest, InterruptionInPassTwoKeepsTheEarlierOutputAndTheNextRunLeavesNoTemporaryFile) {
  WriteGrid(dir_.File("dem"), 1000, 1000, std::vector<float>(1000 * 1000, 7.0f));
  const auto ended = [](int signal) { return "child failed: exit " + std::to_string(128 + signal) + " "; };
  // clang-format off
  const struct { const char* name; int signal; bool ignored_at_start; std::string report; std::size_t leftovers; } cases[] = {
      {"SIGINT", SIGINT, false, ended(SIGINT), 0}, {"SIGTERM", SIGTERM, false, ended(SIGTERM), 0},
      {"SIGHUP", SIGHUP, false, ended(SIGHUP), 0}, {"SIGPIPE", SIGPIPE, false, ended(SIGPIPE), 0},
      {"SIGHUP ignored at start", SIGHUP, true, "converted", 0},
      {"SIGKILL", SIGKILL, false, "child failed: signal " + std::to_string(SIGKILL) + " ", 1}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(Output(), kEarlier);
    EXPECT_EQ(InChild([&] {
                if (c.ignored_at_start) ::signal(c.signal, SIG_IGN);
                InstallInterruptHandlers();
                HookHost host;
                host.on_progress = [&](int position) {
                  if (host.calls == 2 && position >= 50) ::raise(c.signal);
                };
                const std::string message = ConvertMessage(Request(), host);
                return message.empty() ? "converted" : message;
              }),
              c.report);
    EXPECT_EQ(ReadText(Output()).size(), c.ignored_at_start ? 512u + 1000 * 1000 : kEarlier.size());
    EXPECT_EQ(Temporaries(dir_.Path()).size(), c.leftovers);
    RecordingHost next;
    ASSERT_EQ(ConvertMessage(Request(), next), "");
    EXPECT_EQ(ListFolder(dir_.Path()), kUntouched);
  }
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
