// TemporaryOutput on real files: what its checks refuse before anything is written, the temporary
// file's name and place, what a commit keeps of the file it replaces (mode, owner, symbolic and hard
// links), the rewrite in place where the folder takes no new files, failures that name the output, and
// which leftovers of killed runs are removed. As root, what a user who is not root meets runs in a
// forked child as the user nobody; limits are changed only in children.
#include "runtime/temporary_output.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using Names = std::vector<std::string>;

const std::string kEarlier(700, 'e');
const std::string kNew = "the new content";
constexpr uid_t kNobody = 65534;

struct Stat {
  explicit Stat(const std::string& path, bool follow = true) {
    ok = (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
  }
  bool ok;
  struct stat st {};
};

bool Root() { return ::geteuid() == 0; }

mode_t Umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
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

// What run raised, with the code and file an EInOutError carries; "no error" when nothing.
std::string Outcome(const std::function<void()>& run) {
  try {
    run();
  } catch (const EInOutError& e) {
    return e.Message() + " (" + std::to_string(e.ErrorCode()) + ") naming " + e.Path();
  } catch (const ECommandError& e) {
    return "refused: " + e.Message();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "no error";
}

// Everything under folder as the system shows it: names, kinds, modes, inodes, link texts and the
// content of regular files.
std::string Snapshot(const fs::path& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    const Stat s(path, false);
    std::string line = path + " " + std::to_string(s.st.st_mode) + " " + std::to_string(s.st.st_ino);
    if (S_ISLNK(s.st.st_mode)) line += " -> " + fs::read_symlink(path).string();
    if (S_ISREG(s.st.st_mode)) line += " " + ReadText(path);
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The temporary files anywhere under folder.
Names Temporaries(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (IsTemporaryOutputName(entry.path().filename().string())) names.push_back(entry.path().string());
  }
  return names;
}

// A folder the user nobody can reach, holding "out", "other" and "tmp", which anyone may write into.
class TemporaryOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_.Path(), fs::perms::all);
    for (const char* folder : {"out", "other", "tmp"}) Folder(folder, 0777);
  }
  void TearDown() override {
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
      if (entry.is_directory() && !entry.is_symlink()) fs::permissions(entry.path(), fs::perms::all);
    }
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Folder(const std::string& name, mode_t mode) const {
    fs::create_directories(File(name));
    ::chmod(File(name).c_str(), mode);
    return File(name);
  }
  // An earlier file of kEarlier with mode.
  std::string Earlier(const std::string& name, mode_t mode) const {
    WriteText(File(name), kEarlier);
    ::chmod(File(name).c_str(), mode);
    return File(name);
  }
  TempDir dir_;
};

// Each refusal comes from the constructor, names what the user named, and leaves every file as it was.
TEST_F(TemporaryOutputTest, ChecksRefuseOutputsBeforeAnythingIsWritten) {
  const std::string grid = File("out/grid");
  WriteText(grid, "cells");
  const auto not_regular = [](const std::string& output) { return "refused: " + output + " is not a regular file"; };
  const auto io_error = [](const char* message, int code) {
    return [=](const std::string& output) { return message + (" (" + std::to_string(code) + ") naming ") + output; };
  };
  const auto reads_it = [](const std::string& read) {
    return [=](const std::string&) { return "refused: Cannot write over " + read + ", which this command reads"; };
  };
  struct Case {
    const char* name;
    std::function<std::string()> make;  // makes what is there; returns the output's name
    Names reads;
    std::function<std::string(const std::string& output)> outcome;
    bool as_nobody = false;
  };
  const Case cases[] = {
      {"a FIFO", [&] { return ::mkfifo(File("out/fifo").c_str(), 0666), File("out/fifo"); }, {}, not_regular},
      {"a socket",
       [&] { return ::mknod(File("out/socket").c_str(), S_IFSOCK | 0666, 0), File("out/socket"); },
       {},
       not_regular},
      {"a character device", [] { return std::string("/dev/null"); }, {}, not_regular},
      {"a folder", [&] { return fs::create_directory(File("out/folder")), File("out/folder"); }, {}, not_regular},
      {"a symbolic link to a FIFO",
       // clang-format off
       [&] { return ::mkfifo(File("out/f").c_str(), 0666), fs::create_symlink("f", File("out/to-fifo")), File("out/to-fifo"); },
       {}, not_regular},
      // clang-format on
      {"the file read", [&] { return grid; }, {grid}, reads_it(grid)},
      {"a hard link to the file read",
       [&] { return fs::create_hard_link(grid, File("other/hard")), File("other/hard"); },
       {grid},
       reads_it(grid)},
      {"a symbolic link to the file read, read by another name",
       [&] { return fs::create_symlink("../out/grid", File("other/soft")), File("other/soft"); },
       {File("other/../out/grid")},
       reads_it(File("other/../out/grid"))},
      {"a missing folder", [&] { return File("out/none/x.IMG"); }, {}, io_error("Invalid filename", 3)},
      {"an empty name", [] { return std::string(); }, {}, io_error("Invalid filename", 3)},
      {"a name ending in a slash", [&] { return File("out/new/"); }, {}, io_error("Invalid filename", 3)},
      {"a dangling link into a missing folder",
       [&] { return fs::create_symlink("none/x.IMG", File("out/nowhere")), File("out/nowhere"); },
       {},
       io_error("Invalid filename", 3)},
      // clang-format off
      {"a file no one may write", [&] { return Earlier("out/read-only", 0444); }, {}, io_error("File access denied", 5)},
      {"a file only its owner may write, for another user", [&] { return Earlier("out/owners", 0644); }, {},
       io_error("File access denied", 5), true},
      {"a writable file beside the files read", [&] { return Earlier("out/fine", 0644); },
       {grid, "", File("out/missing")}, [](const std::string&) { return std::string("no error"); }},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.as_nobody && !Root()) continue;
    const std::string output = c.make();
    const std::string before = Snapshot(dir_.Path());
    EXPECT_EQ(InChild([&] { return Outcome([&] { TemporaryOutput checked(output, c.reads); }); }, c.as_nobody),
              c.outcome(output));
    EXPECT_EQ(Snapshot(dir_.Path()), before);
  }
}

// ".<output name>.<host>.<pid>-<ten of 0-9a-z>.kavrimo-tmp", empty, beside the output, private while it
// would replace a file; removed when the output is destroyed uncommitted.
TEST_F(TemporaryOutputTest, ReserveMakesAHiddenEmptyFileBesideTheOutputUntilDestroyed) {
  const std::string long_name(250, 'n');
  const struct {
    const char* name;
    std::string output;
    bool existed;
  } cases[] = {
      {"a new file", File("out/new.IMG"), false},
      {"a file replaced", Earlier("out/old.IMG", 0644), true},
      {"a name of 250 bytes", File("out/" + long_name), false},
  };
  const std::string process = "." + HostName() + "." + std::to_string(::getpid()) + "-";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string temporary;
    {
      TemporaryOutput output(c.output);
      EXPECT_EQ(output.Path(), "");
      output.Reserve();
      temporary = output.Path();
      EXPECT_EQ(output.Output(), c.output);
      EXPECT_EQ(fs::path(temporary).parent_path(), fs::path(c.output).parent_path());
      const std::string name = fs::path(temporary).filename().string(), stem = fs::path(c.output).filename().string();
      EXPECT_LE(name.size(), 255u);
      EXPECT_TRUE(IsTemporaryOutputName(name)) << name;
      // The output's name, cut short where the whole would not fit, then this process.
      const std::size_t at = name.find(process);
      ASSERT_NE(at, std::string::npos) << name;
      const std::string kept = name.substr(1, at - 1);
      EXPECT_TRUE(name.starts_with(".") && stem.starts_with(kept) && (kept == stem || kept.size() >= 100)) << name;
      EXPECT_EQ(name.size(), at + process.size() + 10 + std::string(".kavrimo-tmp").size()) << name;
      const Stat s(temporary);
      ASSERT_TRUE(s.ok && S_ISREG(s.st.st_mode));
      EXPECT_EQ(s.st.st_size, 0);
      EXPECT_EQ(s.st.st_mode & 07777, c.existed ? 0600u : 0666u & ~Umask());
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(fs::exists(c.output), c.existed);
    EXPECT_EQ(c.existed ? ReadText(c.output) : kEarlier, kEarlier);
  }
}

// An error of the temporary file leaves Build naming the output; any other passes unchanged.
TEST_F(TemporaryOutputTest, BuildNamesTheOutputInErrorsOfTheTemporaryFile) {
  const std::string output = File("out/x.IMG");
  const struct {
    const char* name;
    std::function<void(const std::string& temporary)> write;
    std::string outcome;
  } cases[] = {
      {"a write error of the temporary file", [](const std::string& temporary) { throw EInOutError(101, temporary); },
       "Disk full (101) naming " + output},
      {"an error of another file", [&](const std::string&) { throw EInOutError(2, File("grid")); },
       "File not found (2) naming " + File("grid")},
      {"another error", [](const std::string&) { throw ECommandError("bad cells"); }, "refused: bad cells"},
      {"none", [](const std::string& temporary) { WriteText(temporary, kNew); }, "no error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TemporaryOutput temporary(output);
      temporary.Reserve();
      EXPECT_EQ(Outcome([&] { temporary.Build([&] { c.write(temporary.Path()); }); }), c.outcome);
      EXPECT_EQ(ReadText(temporary.Path()), c.outcome == "no error" ? kNew : "");
    }
    EXPECT_EQ(ListFolder(File("out")), Names{});
  }
}

// Whatever the output is, the new content lands where the user's name leads, the file keeps what the
// user set on it, and no temporary file is left anywhere (the system's temporary folder included).
TEST_F(TemporaryOutputTest, CommitKeepsModeOwnerAndLinksOfTheFileReplaced) {
  const auto mode = [](const std::string& path) { return Stat(path).st.st_mode & 07777; };
  const auto inode = [](const std::string& path) { return Stat(path).st.st_ino; };
  struct Case {
    const char* name;
    std::function<std::string()> make;  // returns the output's name
    std::function<void(const std::string& output)> check;
    bool as_nobody = false;
    bool root_only = false;
  };
  ino_t earlier_inode = 0;
  const auto remember = [&](const std::string& path) { return earlier_inode = inode(path), path; };
  const Case cases[] = {
      {"a new file", [&] { return File("out/new.IMG"); },
       [&](const std::string& output) { EXPECT_EQ(mode(output), 0666u & ~Umask()); }},
      {"a private file, replaced by a new one", [&] { return remember(Earlier("out/private.IMG", 0600)); },
       [&](const std::string& output) {
         EXPECT_EQ(mode(output), 0600u);
         EXPECT_NE(inode(output), earlier_inode);
       }},
      {"a set-user-ID file", [&] { return Earlier("out/setuid.IMG", 04755); },
       [&](const std::string& output) { EXPECT_EQ(mode(output), 04755u); }},
      {"another user's file",
       [&] {
         const std::string output = Earlier("out/owned.IMG", 0640);
         EXPECT_EQ(::chown(output.c_str(), kNobody, kNobody), 0);
         return output;
       },
       [&](const std::string& output) {
         EXPECT_EQ(mode(output), 0640u);
         EXPECT_EQ(Stat(output).st.st_uid, kNobody);
         EXPECT_EQ(Stat(output).st.st_gid, kNobody);
       },
       false, true},
      {"root's file, replaced by a user who may write it but not give it away",
       [&] { return Earlier("out/roots.IMG", 0666); },
       [&](const std::string& output) {
         EXPECT_EQ(Stat(output).st.st_uid, kNobody);
         EXPECT_EQ(mode(output), 0606u);  // the group's bits go with the group that could not be kept
       },
       true, true},
      {"a symbolic link to a file in another folder",
       [&] {
         Earlier("other/real.IMG", 0640);
         return fs::create_symlink("../other/real.IMG", File("out/link.IMG")), File("out/link.IMG");
       },
       [&](const std::string& output) {
         EXPECT_EQ(fs::read_symlink(output), "../other/real.IMG");
         EXPECT_EQ(ReadText(File("other/real.IMG")), kNew);
         EXPECT_EQ(mode(File("other/real.IMG")), 0640u);
       }},
      {"a chain of relative links across folders",
       [&] {
         Earlier("other/end.IMG", 0604);
         fs::create_symlink("end.IMG", File("other/middle.IMG"));
         return fs::create_symlink("../other/middle.IMG", File("out/start.IMG")), File("out/start.IMG");
       },
       [&](const std::string& output) {
         EXPECT_EQ(fs::read_symlink(output), "../other/middle.IMG");
         EXPECT_EQ(fs::read_symlink(File("other/middle.IMG")), "end.IMG");
         EXPECT_EQ(ReadText(File("other/end.IMG")), kNew);
         EXPECT_EQ(mode(File("other/end.IMG")), 0604u);
       }},
      {"a dangling symbolic link",
       [&] { return fs::create_symlink("made.IMG", File("out/dangling.IMG")), File("out/dangling.IMG"); },
       [&](const std::string& output) {
         EXPECT_EQ(fs::read_symlink(output), "made.IMG");
         EXPECT_EQ(ReadText(File("out/made.IMG")), kNew);
       }},
      {"a file with a second hard link",
       [&] {
         remember(Earlier("out/a.IMG", 0640));
         return fs::create_hard_link(File("out/a.IMG"), File("other/b.IMG")), File("out/a.IMG");
       },
       [&](const std::string& output) {
         EXPECT_EQ(ReadText(File("other/b.IMG")), kNew);
         EXPECT_EQ(inode(output), earlier_inode);
         EXPECT_EQ(inode(File("other/b.IMG")), earlier_inode);
         EXPECT_EQ(mode(output), 0640u);
       }},
      {"a writable file in a folder that takes no new files",
       [&] {
         Folder("locked", 0777);
         remember(Earlier("locked/w.IMG", 0666));
         return Folder("locked", 0555), File("locked/w.IMG");
       },
       [&](const std::string& output) {
         EXPECT_EQ(inode(output), earlier_inode);
         EXPECT_EQ(mode(output), 0666u);
         EXPECT_EQ(ListFolder(File("locked")), Names{"w.IMG"});
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.root_only && !Root()) continue;
    const std::string output = c.make();
    EXPECT_EQ(InChild(
                  [&] {
                    ::setenv("TMPDIR", File("tmp").c_str(), 1);
                    return Outcome([&] {
                      TemporaryOutput temporary(output);
                      temporary.Reserve();
                      temporary.Build([&] { WriteText(temporary.Path(), kNew); });
                      temporary.Commit();
                    });
                  },
                  c.as_nobody),
              "no error");
    EXPECT_EQ(ReadText(output), kNew);
    c.check(output);
    EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  }
}

// A failure names the output, and the earlier file stays byte for byte; nothing temporary is left.
TEST_F(TemporaryOutputTest, FailuresNameTheOutputAndKeepTheEarlierFile) {
  // A folder of nobody's (as root), which the child running as nobody may lock and unlock.
  const std::string own = Folder("own", 0777);
  if (Root()) {
    ASSERT_EQ(::chown(own.c_str(), kNobody, kNobody), 0);
  }
  struct Case {
    const char* name;
    std::function<std::string()> make;  // returns the output's name
    std::function<void()> before_commit;
    std::string outcome;  // with the output's name after it
    bool as_nobody = false;
  };
  const Case cases[] = {
      {"a new file in a folder that takes no new files", [&] { return Folder("locked", 0555) + "/x.IMG"; }, [] {},
       "File access denied (5) naming ", true},
      {"a folder that stops taking changes before the commit", [&] { return Earlier("own/x.IMG", 0666); },
       [&] { ::chmod(own.c_str(), 0555); }, "File access denied (5) naming ", true},
      {"a rewrite in place beyond the file-size limit",
       [&] {
         const std::string output = Earlier("out/a.IMG", 0644);
         return fs::create_hard_link(output, File("out/b.IMG")), output;
       },
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{kEarlier.size() + 100, kEarlier.size() + 100};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       "Disk full (101) naming "},
  };
  const std::string bigger(2000, 'n');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = c.make();
    const bool existed = fs::exists(output);
    EXPECT_EQ(InChild(
                  [&] {
                    TemporaryOutput temporary(output);
                    const std::string outcome = Outcome([&] {
                      temporary.Reserve();
                      temporary.Build([&] { WriteText(temporary.Path(), bigger); });
                      c.before_commit();
                      temporary.Commit();
                    });
                    ::chmod(own.c_str(), 0777);  // for the destructor's removal
                    return outcome;
                  },
                  c.as_nobody),
              c.outcome + output);
    EXPECT_EQ(fs::exists(output), existed);
    EXPECT_EQ(existed ? ReadText(output) : kEarlier, kEarlier);
    EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  }
  EXPECT_EQ(ReadText(File("out/b.IMG")), kEarlier);
}

// Files that belong together (a grid's header and cells) are replaced together: when the second cannot
// be put in place (its rewrite in place beyond the file-size limit, its target turned into a folder), the
// first, rewritten in place or renamed, keeps its earlier content too; otherwise both are replaced.
TEST_F(TemporaryOutputTest, FilesCommittedTogetherAreAllReplacedOrNone) {
  const struct {
    const char* name;
    bool first_linked;  // the first is rewritten in place (another hard link), else renamed
    std::function<void()> before_commit;
    std::string outcome;  // "" or the second's failure, naming it
  } cases[] = {
      {"both replaced", true, [] {}, ""},
      {"second beyond the file-size limit, first rewritten", true,
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{kEarlier.size() + 100, kEarlier.size() + 100};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       "Disk full (101) naming "},
      {"second beyond the file-size limit, first renamed", false,
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{kEarlier.size() + 100, kEarlier.size() + 100};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       "Disk full (101) naming "},
      {"second's target turned into a folder", true,
       [&] {
         fs::remove(File("out/g.flt"));
         fs::create_directory(File("out/g.flt"));
       },
       "File access denied (5) naming "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"out/g.hdr", "out/g.flt", "other/g.hdr", "other/g.flt"}) fs::remove_all(File(name));
    const std::string first = Earlier("out/g.hdr", 0644), second = Earlier("out/g.flt", 0644);
    if (c.first_linked) fs::create_hard_link(first, File("other/g.hdr"));
    fs::create_hard_link(second, File("other/g.flt"));  // the second is always rewritten in place
    const std::string outcome = InChild([&] {
      TemporaryOutput header(first), cells(second);
      return Outcome([&] {
        for (TemporaryOutput* output : {&header, &cells}) {
          output->Reserve();
          // A small header within any limit here, cells beyond the limit of the cases that set one.
          output->Build([&] { WriteText(output->Path(), std::string(output == &header ? 10 : 1000, 'n')); });
        }
        c.before_commit();
        TemporaryOutput::CommitTogether({&header, &cells});
      });
    });
    EXPECT_EQ(outcome, c.outcome.empty() ? "no error" : c.outcome + second);
    EXPECT_EQ(ReadText(first), c.outcome.empty() ? std::string(10, 'n') : kEarlier);
    if (!fs::is_directory(second)) {
      EXPECT_EQ(ReadText(second), c.outcome.empty() ? std::string(1000, 'n') : kEarlier);
    }
    EXPECT_EQ(Temporaries(dir_.Path()), Names{});
  }
}

TEST(TemporaryOutputName, FollowsThePatternExactly) {
  const std::string tag = "-abcdefghij.kavrimo-tmp";
  const struct {
    std::string name;
    bool temporary;
  } cases[] = {
      {".out.IMG.host.123" + tag, true},
      {".a.b.1" + tag, true},
      {".out.IMG.host.2147483647-0123456789.kavrimo-tmp", true},
      {"out.IMG.host.123" + tag, false},                     // not hidden
      {".123" + tag, false},                                 // no output name
      {".out.IMG.host.0" + tag, false},                      // no process 0
      {".out.IMG.host.2147483648" + tag, false},             // beyond any process number
      {".out.IMG.host.12345678901" + tag, false},            // eleven digits
      {".out.IMG.host.12a" + tag, false},                    // not a number
      {".out.IMG.host.-abcdefghij.kavrimo-tmp", false},      // no number
      {".out.IMG.host.123-abc.kavrimo-tmp", false},          // a short tag
      {".out.IMG.host.123-ABCDEFGHIJ.kavrimo-tmp", false},   // capitals
      {".out.IMG.host.123-abcdefghijk.kavrimo-tmp", false},  // a long tag
      {".out.IMG.host.123" + tag + ".bak", false},           // another ending
      {".out.IMG.kavrimo-tmp", false},
      {".kavrimo-tmp", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTemporaryOutputName(c.name), c.temporary) << c.name;
}

// Only leftovers of this machine whose process has ended are removed, whatever output they were for;
// everything else stays, and what cannot be removed is neither counted nor raised.
TEST_F(TemporaryOutputTest, SweepRemovesOnlyLeftoversOfEndedProcessesOfThisMachine) {
  const std::string host = HostName(), dead = std::to_string(DeadPid()), tag = "-abcdefghij.kavrimo-tmp";
  std::string long_leftover;  // what a process that ended left for an output of 250 bytes
  {
    TemporaryOutput output(File("out/" + std::string(250, 'n')));
    output.Reserve();
    const std::string name = fs::path(output.Path()).filename().string();
    long_leftover = name.substr(0, name.rfind('.' + std::to_string(::getpid()) + '-') + 1) + dead + tag;
  }
  const struct {
    std::string name;
    bool removed;
  } cases[] = {
      {".out.IMG." + host + "." + dead + tag, true},
      {".other.IMG." + host + "." + dead + "-0123456789.kavrimo-tmp", true},
      {long_leftover, true},
      {".out.IMG." + host + "." + std::to_string(::getppid()) + tag, false},  // a process that runs
      {".out.IMG." + host + "." + std::to_string(::getpid()) + tag, false},   // this one
      {".out.IMG.elsewhere." + dead + tag, false},                            // another machine
      {".out.IMG.x" + host + "." + dead + tag, false},                        // another machine
      {".out.IMG." + host + "." + dead + "-abc.kavrimo-tmp", false},          // not the pattern
      {"out.IMG." + host + "." + dead + tag, false},                          // not the pattern
  };
  for (const auto& c : cases) WriteText(File("out/" + c.name), "left");
  const std::string folder = ".dir." + host + "." + dead + tag;  // cannot be unlinked
  fs::create_directory(File("out/" + folder));
  EXPECT_EQ(RemoveDeadTemporaryFiles(File("out")), 3);
  for (const auto& c : cases) EXPECT_EQ(fs::exists(File("out/" + c.name)), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(File("out/" + folder)));
  EXPECT_EQ(RemoveDeadTemporaryFiles(File("out")), 0);
  EXPECT_EQ(RemoveDeadTemporaryFiles(File("none")), 0);
}

// Reserve sweeps the folder it writes into, and a run of several outputs sweeps each folder once.
TEST_F(TemporaryOutputTest, ReserveSweepsEachFolderOncePerRun) {
  const std::string leftover =
      "." + std::string("x.IMG.") + HostName() + "." + std::to_string(DeadPid()) + "-abcdefghij.kavrimo-tmp";
  const auto reserve = [&](const std::string& output, SweptFolders* swept) {
    for (const char* folder : {"out", "other"}) WriteText(File(folder) + "/" + leftover, "left");
    TemporaryOutput temporary(File(output), {}, swept);
    temporary.Reserve();
    return std::string(fs::exists(File("out/" + leftover)) ? "out kept" : "out swept") +
           (fs::exists(File("other/" + leftover)) ? ", other kept" : ", other swept");
  };
  SweptFolders swept;
  EXPECT_EQ(reserve("out/a.IMG", &swept), "out swept, other kept");
  EXPECT_EQ(reserve("out/b.IMG", &swept), "out kept, other kept");
  EXPECT_EQ(reserve("other/c.IMG", &swept), "out kept, other swept");
  EXPECT_EQ(reserve("out/d.IMG", nullptr), "out swept, other kept");
}

}  // namespace
}  // namespace kavrimo
