// kavrimo-cli as a process: its exit statuses and standard streams, output lost to a full disk or
// waited for on a non-blocking pipe, the progress bar on a terminal, a conversion and an export stopped
// by a signal, and a link the kernel will not follow.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/interrupt.h"
#include "runtime/standard_streams.h"
#include "runtime/temporary_output.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// The command's status is the program's, and its streams are the program's.
TEST_F(CliTest, ProgramExitsWithTheCommandsStatus) {
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  const struct {
    std::string arguments;
    int status;
    std::string out, err;
  } cases[] = {
      {"convert " + Quote(File("dem.flt")) + " " + Quote(File("dem.IMG")), 0,
       "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
       "Image created succesfully\n",
       ""},
      {"convert " + Quote(File("none.flt")) + " " + Quote(File("o.IMG")), 1, "",
       "kavrimo-cli: Cannot open file " + File("none.hdr") + ".\n"},
      {"frobnicate", 2, "", "kavrimo-cli: unknown command 'frobnicate' (try --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CliResult r = Process(c.arguments);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(ReadBytes(File("dem.IMG")).size(), 515u);
}

// Standard output is checked before exit: results lost to a full disk are an error.
TEST_F(CliTest, LostOutputIsAWriteError) {
  const std::string image = ExampleImage();
  const std::string out = Folder("out");
  for (const std::string& command : {"info " + Quote(image), "locate " + Quote(image) + " 1 1",
                                     "convert --out-dir " + Quote(out) + " " + Quote(File("dem.flt"))}) {
    SCOPED_TRACE(command);
    const CliResult r = Process(command, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: write error: No space left on device.\n");
  }
}

// Standard output that another process made non-blocking: a slow reader still gets every byte.
TEST_F(CliTest, NonBlockingOutputIsWaitedFor) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::string received;
  std::thread reader([&] {
    char block[4096];
    for (ssize_t n; (n = ::read(ends[0], block, sizeof block)) > 0; ::usleep(100)) received.append(block, n);
  });
  std::string sent(1 << 20, ' ');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i % 26);
  {
    DescriptorBuffer buffer(ends[1]);
    std::ostream out(&buffer);
    out << sent << std::flush;
    EXPECT_EQ(buffer.Error(), 0) << std::strerror(buffer.Error());
  }
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);
  EXPECT_EQ(received, sent);
}

// On a terminal the progress bar keeps a line of its own: it is cleared before every status line.
TEST_F(CliTest, ProgressOnATerminalNeverSharesALine) {
  WriteGrid(File("dem"), 2000, 1000, std::vector<float>(2000 * 1000, 7.0f));
  const std::string screen = OnTerminal({"convert", File("dem"), File("dem.IMG")});
  EXPECT_NE(screen.find("%"), std::string::npos) << screen;  // a bar was drawn
  std::vector<std::string> lines;
  std::istringstream text(screen);
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the terminal's CR LF
    const std::size_t cleared = line.rfind("\r\x1b[K");
    lines.push_back(cleared == std::string::npos ? line : line.substr(cleared + 4));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Step 1 of 2", "Max = 7 and Min = 0",
                                             "Slope = 0.0276679843664169 and Intecept = 0", "Step 2 of 2",
                                             "Image created succesfully"}));
  EXPECT_NE(OnTerminal({"convert", "--out-dir", Folder("out"), File("dem.flt")}).find("[0 of 1 grids] "),
            std::string::npos);
}

// Stopped while the conversion runs (here: blocked writing a status line into a full pipe), by
// SIGTERM or by the pipe's reader going away: the program's handlers remove the temporary files, the
// earlier output stays, the status is 128 + the signal. The same for a GeoTIFF, whose reading runs in
// the GeoTIFF module (which shares the program's handlers).
TEST_F(CliTest, StoppedConversionLeavesNothingBehind) {
  ASSERT_EQ(Cli({"export", GeographicImage(), File("dem.tif")}).status, 0);
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  const std::string out = Folder("out");
  WriteText(out + "/dem.IMG", "earlier");
  for (const auto& [input, signal] : {std::pair{"dem", SIGTERM}, {"dem", SIGPIPE}, {"dem.tif", SIGTERM}}) {
    SCOPED_TRACE(std::string(input) + " " + std::to_string(signal));
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
    while (::write(pipe_ends[1], "x", 1) == 1) {
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipe_ends[0]);
      ::dup2(pipe_ends[1], STDOUT_FILENO);
      ::fcntl(STDOUT_FILENO, F_SETFL, 0);
      ::execl(KAVRIMO_CLI_PATH, KAVRIMO_CLI_PATH, "convert", "--template", TemplatePath().c_str(), File(input).c_str(),
              (out + "/dem.IMG").c_str(), nullptr);
      ::_exit(127);
    }
    ::close(pipe_ends[1]);
    for (int wait = 0; wait < 1000 && ListFolder(out).size() < 2; ++wait) ::usleep(10000);
    ASSERT_EQ(ListFolder(out).size(), 2u);  // the temporary file is there
    if (signal == SIGPIPE) {
      ::close(pipe_ends[0]);
    } else {
      ::kill(child, signal);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (signal != SIGPIPE) ::close(pipe_ends[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
    EXPECT_EQ(ListFolder(out), std::vector<std::string>{"dem.IMG"});
    EXPECT_EQ(ReadText(out + "/dem.IMG"), "earlier");
  }
}

// A signal that comes once the new image is in place (raised through the commit's test seam) lets
// the command finish: status 0, the image complete, as kavrimo-cli's handlers are installed.
TEST_F(CliTest, SignalAfterTheImageIsInPlaceEndsInSuccess) {
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  WriteText(File("dem.IMG"), "earlier");
  const std::string report = InChild(
      [&] {
        InstallInterruptHandlers(AfterCommit::kFinish);
        TemporaryOutput::ObserveCommitsForTests([](const std::string&) { ::raise(SIGTERM); });
        const CliResult r = Cli({"convert", File("dem"), File("dem.IMG")});
        return std::to_string(r.status) + " " + r.out;
      },
      false, 20);
  EXPECT_EQ(report,
            "0 Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
            "Image created succesfully\n");
  EXPECT_EQ(ReadText(File("dem.IMG")).size(), 512u + 3);
}

// An export replaces its .hdr and .flt together. Its .flt has a second hard link, so it is rewritten in
// place; SIGTERM is sent as soon as that rewrite is seen to begin. The program may end before both files
// are replaced or after, but never between: the header always describes the cells beside it.
TEST_F(CliTest, InterruptedExportReplacesBothFilesOrNeither) {
  WriteGrid(File("small"), 2, 1, {1, 2});
  WriteGrid(File("big"), 3000, 2000, std::vector<float>(3000 * 2000, 5.0f));
  ASSERT_EQ(Cli({"convert", "-q", File("small"), File("small.IMG")}).status, 0);
  ASSERT_EQ(Cli({"convert", "-q", File("big"), File("big.IMG")}).status, 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    std::filesystem::remove_all(File("back"));
    const std::string back = Folder("back") + "/g";
    ASSERT_EQ(Cli({"export", File("small.IMG"), back}).status, 0);
    std::filesystem::create_hard_link(back + ".flt", File("back/other-name.flt"));
    struct stat before {};
    ASSERT_EQ(::stat((back + ".flt").c_str(), &before), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl(KAVRIMO_CLI_PATH, KAVRIMO_CLI_PATH, "export", File("big.IMG").c_str(), back.c_str(), nullptr);
      ::_exit(127);
    }
    // The rewrite begins when the .flt's modification time changes.
    for (int spin = 0; spin < 2'000'000; ++spin) {
      struct stat now {};
      if (::stat((back + ".flt").c_str(), &now) == 0 &&
          (now.st_mtim.tv_nsec != before.st_mtim.tv_nsec || now.st_mtim.tv_sec != before.st_mtim.tv_sec)) {
        break;
      }
      if (::waitpid(child, nullptr, WNOHANG) != 0) break;
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string header = ReadText(back + ".hdr");
    const auto cells = std::filesystem::file_size(back + ".flt");
    if (header.starts_with("ncols         3000\n")) {
      EXPECT_EQ(cells, 3000u * 2000 * 4) << "new header beside old cells";
    } else {
      EXPECT_TRUE(header.starts_with("ncols         2\n")) << header;
      EXPECT_EQ(cells, 8u) << "old header beside new cells";
    }
    EXPECT_EQ(std::filesystem::file_size(File("back/other-name.flt")), cells);
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 128 + SIGTERM)) << status;
    EXPECT_EQ(ListFolder(File("back")), (std::vector<std::string>{"g.flt", "g.hdr", "g.prj", "other-name.flt"}));
  }
}

// With the kernel's protection of links in sticky world-writable folders, a link that another user
// planted there is not followed by root (cp refuses it too). Convert, preview and export refuse it
// before anything is replaced: the file it points to, root's, stays as it was.
TEST_F(CliTest, ProtectedLinkInAStickyFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to plant a link owned by another user";
  const std::string setting = "/proc/sys/fs/protected_symlinks";
  const std::string was = ReadText(setting);
  if (::access(setting.c_str(), W_OK) != 0) GTEST_SKIP() << "cannot set " << setting;
  WriteText(setting, "1\n");
  if (ReadText(setting) != "1\n") GTEST_SKIP() << "the kernel did not take " << setting << " = 1";
  const std::string image = ExampleImage();
  const std::string sticky = Folder("sticky");
  ::chmod(sticky.c_str(), 01777);
  const struct {
    const char* link;  // in the sticky folder, owned by nobody, to root's File("target")
    std::string arguments;
  } cases[] = {{"out.IMG", "convert " + Quote(File("dem")) + " " + Quote(sticky + "/out.IMG")},
               {"out.png", "preview " + Quote(image) + " " + Quote(sticky + "/out.png")},
               {"g.flt", "export " + Quote(image) + " " + Quote(sticky + "/g")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    WriteText(File("target"), "root's file");
    const std::string link = sticky + "/" + c.link;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(File("target"), link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    const CliResult r = Process(c.arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: " + link + ": File access denied.\n");
    EXPECT_EQ(ReadText(File("target")), "root's file");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);
    EXPECT_EQ(ListFolder(sticky), std::vector<std::string>{});
  }
  WriteText(setting, was);
}

}  // namespace
}  // namespace kavrimo
