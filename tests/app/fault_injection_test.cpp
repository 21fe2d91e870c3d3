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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/core/conversion.h"
#include "app/core/ini_file.h"
#include "app/core/temporary_output.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::RecordingHost;
using testing_support::TempDir;
using testing_support::WriteGrid;
using testing_support::WriteText;

constexpr uid_t kNobody = 65534;

// What a forked child reported, and how it ended.
struct ChildOutcome {
  std::string report;
  int status = 0;
  bool Exited() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// Runs body in a forked child and returns the text it produced. The child never returns into the
// test: it ends with _exit, so nothing it changed (limits, signals, user) reaches this process.
ChildOutcome InChild(const std::function<std::string()>& body) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return {"pipe failed", -1};
  const pid_t child = ::fork();
  if (child < 0) return {"fork failed", -1};
  if (child == 0) {
    ::close(pipe_ends[0]);
    std::string report;
    try {
      report = body();
    } catch (const std::exception& e) {
      report = std::string("uncaught: ") + e.what();
    }
    for (std::size_t done = 0; done < report.size();) {
      const ssize_t n = ::write(pipe_ends[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipe_ends[1]);
  ChildOutcome outcome;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    outcome.report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_ends[0]);
  while (::waitpid(child, &outcome.status, 0) < 0 && errno == EINTR) {
  }
  return outcome;
}

// In a child: as root, become the user nobody, for whom permission bits count. Returns "" or why not.
std::string BecomeUnprivileged() {
  if (::geteuid() != 0) return "";
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
    return "cannot become nobody";
  }
  return ::geteuid() == kNobody ? "" : "still root";
}

// The error message of a conversion, "" when it succeeded.
std::string ConvertMessage(const ConversionRequest& request, ConversionHost& host) {
  TKelImg image(host);
  try {
    Convert(request, image, host);
  } catch (const Error& e) {
    return e.Message();
  }
  return "";
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  WriteText(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<std::string> Temporaries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const std::string& name : ListFolder(dir)) {
    if (IsTemporaryOutputName(name)) names.push_back(name);
  }
  return names;
}

std::string HostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

std::vector<float> Ramp(std::size_t count) {
  std::vector<float> cells(count);
  for (std::size_t i = 0; i < count; ++i) cells[i] = static_cast<float>(i % 1000) - 250;
  return cells;
}

// A folder that the user nobody can reach, holding the grid "dem", a copy of the template and an
// earlier output "out.IMG" that must survive every failure.
class FaultTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(testing_support::TemplatePath(), Template());
    WriteBytes(Output(), earlier_);
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
  void ExpectEarlierOutputIntact() const { EXPECT_EQ(ReadBytes(Output()), earlier_); }
  void ExpectFolder(const std::vector<std::string>& names) const { EXPECT_EQ(ListFolder(dir_.Path()), names); }

  TempDir dir_;
  const std::vector<std::uint8_t> earlier_ = Pattern(1000);
};

// ---- the output's folder refuses new files

TEST_F(FaultTest, OutputFolderNotWritableSaysAccessDeniedAndKeepsTheEarlierOutput) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const fs::path out_dir = dir_.Path() / "out";
  fs::create_directory(out_dir);
  const std::string output = (out_dir / "out.IMG").string();
  WriteBytes(output, earlier_);
  fs::permissions(out_dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const ChildOutcome child = InChild([&] {
    if (std::string why = BecomeUnprivileged(); !why.empty()) return why;
    RecordingHost host;
    const std::string message = ConvertMessage({Grid(), output, Template(), 1}, host);
    return message + "|" + host.statuses.back() + "|" + (host.busy ? "busy" : "idle");
  });
  ASSERT_TRUE(child.Exited());
  // Pass 1 ran; the refusal came when the new image was to be made, and the cursor came back.
  EXPECT_EQ(child.report, "File access denied|Slope = 7.90513849258423 and Intecept = 0|idle");
  EXPECT_EQ(ListFolder(out_dir), std::vector<std::string>{"out.IMG"});
  EXPECT_EQ(ReadBytes(output), earlier_);
}

// ---- the file-size limit is reached while the output is written

struct SizeLimitCase {
  const char* name;
  rlim_t limit;  // bytes
  int threads;
};

class FileSizeLimit : public FaultTest, public testing::WithParamInterface<SizeLimitCase> {};

TEST_P(FileSizeLimit, SaysDiskFullAndLeavesNoTemporaryFile) {
  const SizeLimitCase& c = GetParam();
  // 1.5 million cells: two shares of work, so with two threads the second share's write starts
  // beyond the limit while the first one is cut short; the first in cell order is reported.
  WriteGrid(dir_.File("dem"), 1500, 1000, Ramp(1500 * 1000));
  const ChildOutcome child = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{c.limit, c.limit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
    RecordingHost host;
    return ConvertMessage(Request(c.threads), host) + (host.busy ? "|busy" : "");
  });
  ASSERT_TRUE(child.Exited());
  EXPECT_EQ(child.report, "Disk full");
  ExpectEarlierOutputIntact();
  ExpectFolder({"dem.flt", "dem.hdr", "header.bin", "out.IMG"});
}

INSTANTIATE_TEST_SUITE_P(Limits, FileSizeLimit,
                         testing::Values(SizeLimitCase{"InsideTheHeader", 300, 1},
                                         SizeLimitCase{"HalfWayThroughThePixels", 512 + 750000 + 123, 1},
                                         SizeLimitCase{"HalfWayWithTwoThreads", 512 + 750000 + 123, 2}),
                         [](const testing::TestParamInfo<SizeLimitCase>& param_info) { return param_info.param.name; });

// ---- the data file changes between the passes

// Runs a fault when the engine lets the window process its messages: call 1 comes before pass 1,
// call 2 just before pass 2.
class FaultingHost : public RecordingHost {
 public:
  FaultingHost(int at_call, std::function<void()> fault) : at_call_(at_call), fault_(std::move(fault)) {}
  void ProcessMessages() override {
    RecordingHost::ProcessMessages();
    if (++calls_ == at_call_) fault_();
  }

 private:
  int at_call_;
  int calls_ = 0;
  std::function<void()> fault_;
};

struct ShrinkCase {
  const char* name;
  std::uintmax_t size;  // bytes left in the data file
  int threads;
};

class DataFileShrinks : public FaultTest, public testing::WithParamInterface<ShrinkCase> {};

TEST_P(DataFileShrinks, BetweenThePassesSaysReadBeyondEndOfFile) {
  const ShrinkCase& c = GetParam();
  WriteGrid(dir_.File("dem"), 1200, 1000, Ramp(1200 * 1000));
  FaultingHost host(2, [&] { fs::resize_file(Grid(), c.size); });
  EXPECT_EQ(ConvertMessage(Request(c.threads), host), "Read beyond end of file");
  EXPECT_EQ(host.statuses.back(), "Step 2 of 2");
  EXPECT_FALSE(host.busy);
  ExpectEarlierOutputIntact();
  ExpectFolder({"dem.flt", "dem.hdr", "header.bin", "out.IMG"});
}

INSTANTIATE_TEST_SUITE_P(Sizes, DataFileShrinks,
                         testing::Values(ShrinkCase{"ToNothing", 0, 1}, ShrinkCase{"ToHalf", 2400000, 1},
                                         ShrinkCase{"ToHalfWithTwoThreads", 2400000, 2},
                                         ShrinkCase{"ByHalfACell", 4800000 - 2, 1},
                                         ShrinkCase{"ByHalfACellWithTwoThreads", 4800000 - 2, 2}),
                         [](const testing::TestParamInfo<ShrinkCase>& param_info) { return param_info.param.name; });

// The engine holds the data file open from before pass 1 to the end of pass 2, so a grid that is
// deleted or replaced meanwhile is still read as it was when the command opened it: both passes see
// the same cells, and the user gets a correct image of them and the success box.
struct VanishCase {
  const char* name;
  int at_call;
  bool replace;  // a different grid is renamed over the old one instead of deleting it
};

class DataFileVanishes : public FaultTest, public testing::WithParamInterface<VanishCase> {};

TEST_P(DataFileVanishes, WhileOpenTheGridAsOpenedIsConverted) {
  const VanishCase& c = GetParam();
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  WriteGrid(dir_.File("other"), 3, 1, {-5, 7, 1e6f});
  FaultingHost host(c.at_call, [&] {
    if (c.replace) {
      fs::rename(dir_.File("other.flt"), Grid());
      fs::rename(dir_.File("other.hdr"), dir_.File("dem.hdr"));
    } else {
      fs::remove(Grid());
      fs::remove(dir_.File("dem.hdr"));
    }
  });
  ASSERT_EQ(ConvertMessage(Request(), host), "");
  EXPECT_EQ(host.events.back(), "info Image created succesfully");
  const auto image = ReadBytes(Output());
  ASSERT_EQ(image.size(), 515u);
  // The worked example 100, 1000, 2000 codes as 13, 126, 253.
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 512, image.end()), (std::vector<std::uint8_t>{13, 126, 253}));
  EXPECT_EQ(Temporaries(dir_.Path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Moments, DataFileVanishes,
                         testing::Values(VanishCase{"DeletedBeforePassOne", 1, false},
                                         VanishCase{"DeletedBeforePassTwo", 2, false},
                                         VanishCase{"ReplacedBeforePassTwo", 2, true}),
                         [](const testing::TestParamInfo<VanishCase>& param_info) { return param_info.param.name; });

// ---- the settings file cannot be written

// Saves the names through the settings file, as the window does.
class SettingsHost : public RecordingHost {
 public:
  explicit SettingsHost(const std::string& ini) : ini_(ini) {}
  void SaveNames(const std::string& input, const std::string& output) override {
    RecordingHost::SaveNames(input, output);
    ini_.WriteString("files", "input", input);
    ini_.WriteString("files", "output", output);
  }

 private:
  TIniFile ini_;
};

struct SettingsCase {
  const char* name;
  const char* earlier;  // the settings file's text beforehand; nullptr: no file
  fs::perms file_mode;
  const char* message;  // "" for success
};

class SettingsFolderNotWritable : public FaultTest, public testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFolderNotWritable, FailsBeforeTheGridIsReadOrSavesInPlace) {
  const SettingsCase& c = GetParam();
  const fs::path settings_dir = dir_.Path() / "program";
  fs::create_directory(settings_dir);
  const std::string ini = (settings_dir / "kavrimo.ini").string();
  if (c.earlier != nullptr) {
    WriteText(ini, c.earlier);
    fs::permissions(ini, c.file_mode);
  }
  fs::permissions(settings_dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const bool succeeds = *c.message == '\0';
  // Without a grid, reading it would fail with "Cannot open file": the settings must fail first.
  if (succeeds) WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const fs::path out_dir = dir_.Path() / "out";
  fs::create_directory(out_dir);
  fs::permissions(out_dir, fs::perms::all);
  const std::string output = (out_dir / "out.IMG").string();

  const ChildOutcome child = InChild([&] {
    if (std::string why = BecomeUnprivileged(); !why.empty()) return why;
    SettingsHost host(ini);
    const std::string message = ConvertMessage({Grid(), output, Template(), 1}, host);
    std::string report = message + "|";
    for (const std::string& event : host.events) {
      if (event.rfind("save ", 0) != 0) report += event + ";";
    }
    return report;
  });
  ASSERT_TRUE(child.Exited());
  const std::string expected_message = succeeds ? "" : std::string(c.message) + ini;
  if (succeeds) {
    EXPECT_EQ(child.report.substr(0, 1), "|");
    EXPECT_NE(child.report.find("info Image created succesfully"), std::string::npos) << child.report;
    const auto text = ReadBytes(ini);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              std::string(c.earlier) + "input=" + Grid() + "\noutput=" + output + "\n");
    EXPECT_EQ(ListFolder(out_dir), std::vector<std::string>{"out.IMG"});
  } else {
    // Nothing but the busy cursor on and off: no status, no grid read, no file made.
    EXPECT_EQ(child.report, expected_message + "|busy 1;busy 0;");
    EXPECT_EQ(ListFolder(out_dir), std::vector<std::string>{});
    if (c.earlier != nullptr) {
      const auto text = ReadBytes(ini);
      EXPECT_EQ(std::string(text.begin(), text.end()), c.earlier);
    } else {
      EXPECT_FALSE(fs::exists(ini));
    }
    EXPECT_EQ(ListFolder(settings_dir).size(), c.earlier != nullptr ? 1u : 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsFolderNotWritable,
    testing::Values(SettingsCase{"NoSettingsFileYet", nullptr, fs::perms::none, "Unable to write to "},
                    SettingsCase{"ReadOnlySettingsFile", "[files]\ninput=old.flt\n", fs::perms::owner_read |
                                 fs::perms::group_read | fs::perms::others_read, "Unable to write to "},
                    SettingsCase{"WritableSettingsFileIsUpdatedInPlace", "[files]\n", fs::perms::all, ""}),
    [](const testing::TestParamInfo<SettingsCase>& param_info) { return param_info.param.name; });

// ---- the conversion is killed during pass 2

// Tells the parent through a pipe when pass 2 starts, then takes its time over the progress steps so
// the kill surely lands inside the pass.
class SignallingHost : public RecordingHost {
 public:
  explicit SignallingHost(int pipe) : pipe_(pipe) {}
  void SetStatus(const std::string& text) override {
    if (text == "Step 2 of 2") {
      in_pass_two_ = true;
      const char byte = '2';
      if (::write(pipe_, &byte, 1) != 1) ::_exit(3);
    }
  }
  void SetProgress(int) override {
    if (in_pass_two_) std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }

 private:
  int pipe_;
  bool in_pass_two_ = false;
};

TEST_F(FaultTest, KilledInPassTwoKeepsTheEarlierOutputAndTheNextRunClearsItsLeftover) {
  WriteGrid(dir_.File("dem"), 4000, 4000, Ramp(4000 * 4000));  // 64 MB of cells
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_ends[0]);
    SignallingHost host(pipe_ends[1]);
    ConvertMessage(Request(), host);
    ::_exit(4);  // reaching here means the kill came too late
  }
  ::close(pipe_ends[1]);
  char byte = 0;
  const ssize_t got = ::read(pipe_ends[0], &byte, 1);
  ::close(pipe_ends[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(got, 1) << "the child never reached pass 2";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

  ExpectEarlierOutputIntact();
  // The killed run could not remove its own temporary file: it stays, marked with the dead pid.
  const std::vector<std::string> leftovers = Temporaries(dir_.Path());
  ASSERT_EQ(leftovers.size(), 1u);
  EXPECT_EQ(leftovers[0].rfind(".out.IMG." + HostName() + "." + std::to_string(child) + "-", 0), 0u) << leftovers[0];

  // The next conversion to the same output removes it and leaves only its own finished image.
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  RecordingHost host;
  ASSERT_EQ(ConvertMessage(Request(), host), "");
  ExpectFolder({"dem.flt", "dem.hdr", "header.bin", "out.IMG"});
  const auto image = ReadBytes(Output());
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 512, image.end()), (std::vector<std::uint8_t>{13, 126, 253}));
}

// ---- leftovers of other runs: only those of this output, this machine and dead processes go

pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST_F(FaultTest, LeftoversOfLiveProcessesOtherMachinesAndOtherOutputsStay) {
  const std::string host = HostName();
  const std::string dead = std::to_string(DeadPid());
  const std::string alive = std::to_string(::getppid());
  const std::string dead_leftover = ".out.IMG." + host + "." + dead + "-abcdefghij.kavrimo-tmp";
  const std::vector<std::string> kept = {
      ".out.IMG." + host + "." + alive + "-abcdefghij.kavrimo-tmp",         // a running conversion
      ".out.IMG." + host + "." + std::to_string(::getpid()) + "-0123456789.kavrimo-tmp",  // this process
      ".out.IMG.elsewhere." + dead + "-abcdefghij.kavrimo-tmp",            // another machine
      ".other.IMG." + host + "." + dead + "-abcdefghij.kavrimo-tmp",       // another output
      ".out.IMG." + host + "." + dead + "-abc.kavrimo-tmp",                // not our pattern
      ".out.IMG." + host + "." + dead + "-ABCDEFGHIJ.kavrimo-tmp",         // not our pattern
  };
  WriteText(dir_.File(dead_leftover), "left by a killed run");
  for (const std::string& name : kept) WriteText(dir_.File(name), "keep");
  for (const std::string& name : kept) EXPECT_NE(name, dead_leftover);

  EXPECT_EQ(RemoveDeadTemporaryOutputs(Output()), 1);
  EXPECT_FALSE(fs::exists(dir_.File(dead_leftover)));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir_.File(name))) << name;
  EXPECT_EQ(RemoveDeadTemporaryOutputs(Output()), 0);
  EXPECT_TRUE(IsTemporaryOutputName(dead_leftover));
  EXPECT_FALSE(IsTemporaryOutputName("out.IMG"));
  EXPECT_FALSE(IsTemporaryOutputName(".out.IMG.kavrimo-tmp"));
}

// A name near the system's limit of 255 bytes still leaves room for the temporary name, which is cut
// short, and the leftovers of such an output are found again.
TEST_F(FaultTest, LongOutputNameConvertsAndItsLeftoversAreFound) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const std::string name(250, 'n');
  const std::string output = dir_.File(name);
  std::vector<std::string> seen;  // the temporary files while pass 2 runs
  FaultingHost host(2, [&] { seen = Temporaries(dir_.Path()); });
  ASSERT_EQ(ConvertMessage({Grid(), output, Template(), 1}, host), "");
  EXPECT_EQ(ReadBytes(output).size(), 515u);
  EXPECT_EQ(Temporaries(dir_.Path()), std::vector<std::string>{});
  ASSERT_EQ(seen.size(), 1u);
  const std::string& temporary = seen[0];
  EXPECT_LE(temporary.size(), 255u);
  EXPECT_EQ(temporary.rfind("." + name.substr(0, 100), 0), 0u) << temporary;

  // The same name made by a process that has ended is a leftover of this output.
  const std::string stem = temporary.substr(0, temporary.size() - std::string(".kavrimo-tmp").size());
  const std::string leftover =
      stem.substr(0, stem.rfind('.') + 1) + std::to_string(DeadPid()) + "-abcdefghij.kavrimo-tmp";
  ASSERT_LE(leftover.size(), 255u);
  WriteText(dir_.File(leftover), "left by a killed run");
  ASSERT_TRUE(fs::exists(dir_.File(leftover)));
  EXPECT_EQ(RemoveDeadTemporaryOutputs(output), 1);
  EXPECT_FALSE(fs::exists(dir_.File(leftover)));
}

// ---- found by fuzzing

// A cell size near the top of the header's range: every field fits, but the corner values of the
// finished image overflow when the component attaches it. The image is complete and in place by
// then, so the user must get the success box, not "Floating point overflow" over a replaced file.
TEST_F(FaultTest, CornerOverflowOfTheFinishedImageIsNoFailure) {
  std::vector<float> cells(100);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<float>(i);
  WriteGrid(dir_.File("dem"), 100, 1, cells, "NODATA_value -9999\n", false, 0, 0, 1e38f);
  RecordingHost host;
  TKelImg image(host);
  ASSERT_NO_THROW(Convert(Request(), image, host));
  EXPECT_EQ(host.events.back(), "info Image created succesfully");
  EXPECT_EQ(ReadBytes(Output()).size(), 612u);
  EXPECT_EQ(image.FileName(), Output());
  EXPECT_EQ(image.State(), ImageState::ValidImage);
  EXPECT_EQ(Temporaries(dir_.Path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kavrimo
