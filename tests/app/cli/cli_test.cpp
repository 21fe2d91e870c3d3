// kavrimo-cli as a user runs it: output lines, exit statuses, error lines. The commands run in-process
// through cli::Run; a few cases run the program itself.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include <QJsonDocument>

#include "app/cli/cli.h"
#include "runtime/standard_streams.h"
#include "app/conversion/cell_coding.h"
#include "image/kel_img.h"
#include "kavrimo_version.h"
#include "projection/dispatcher.h"
#include "runtime/number_text.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class CliTest : public testing::Test {
 protected:
  // kavrimo-cli called in-process; a convert gets the build's template unless it names one.
  Result Cli(std::vector<std::string> args, const std::string& input = "") {
    if (!args.empty() && args[0] == "convert" &&
        std::find(args.begin(), args.end(), "--template") == args.end()) {
      args.insert(args.begin() + 1, {"--template", testing_support::TemplatePath()});
    }
    std::istringstream in(input);
    std::ostringstream out, err;
    cli::Streams io{in, out, err};
    const int status = cli::Run(args, io);
    return {status, out.str(), err.str()};
  }
  // The program in a process of its own, for what only a process shows: its exit status and what
  // reaches its standard streams. A convert gets the build's template.
  Result Process(std::string arguments, const std::string& out = "", const std::string& in = "/dev/null") {
    if (arguments.starts_with("convert ")) arguments.insert(8, "--template " + Quote(testing_support::TemplatePath()) + " ");
    const std::string out_file = out.empty() ? dir_.File("stdout.txt") : out, err = dir_.File("stderr.txt");
    const std::string command = std::string(KAVRIMO_CLI_PATH) + " " + arguments + " <" + Quote(in) + " >" +
                                Quote(out_file) + " 2>" + Quote(err);
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out.empty() ? ReadText(out_file) : "", ReadText(err)};
  }
  // What the program shows on a terminal (standard output and error both on one), a convert with the
  // build's template.
  std::string OnTerminal(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--template", testing_support::TemplatePath()});
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
      std::vector<char*> argv{const_cast<char*>(KAVRIMO_CLI_PATH)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(KAVRIMO_CLI_PATH, argv.data());
      ::_exit(127);
    }
    std::string screen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<std::size_t>(n));
    ::close(terminal);
    ::waitpid(child, nullptr, 0);
    return screen;
  }
  TempDir dir_;
};

TEST_F(CliTest, ConvertPrintsTheStatusTextsInOrder) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const Result r = Cli({"convert", dir_.File("dem.flt"), dir_.File("dem.IMG")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
            "Image created succesfully\n");
  EXPECT_EQ(r.err, "");  // no progress bar: standard error is not a terminal
  const auto image = ReadBytes(dir_.File("dem.IMG"));
  ASSERT_EQ(image.size(), 515u);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 512, image.end()), (std::vector<std::uint8_t>{13, 126, 253}));
}

TEST_F(CliTest, ErrorsAreOneLineWithTheFullStopRule) {
  const Result missing = Cli({"convert", dir_.File("none.flt"), dir_.File("o.IMG")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "kavrimo-cli: Cannot open file " + dir_.File("none.hdr") + ".\n");
  WriteText(dir_.File("bad.hdr"), "ncols 12 \n");
  const Result bad = Cli({"convert", dir_.File("bad"), dir_.File("o.IMG")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "kavrimo-cli: ' 12 ' is not a valid integer value.\n");
}

TEST_F(CliTest, UsageErrorsHelpAndVersion) {
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"convert", "only-one"},
                           Args{"convert", "--no-such-option", "a", "b"}, Args{"convert", "--jobs", "0", "--out-dir", "x", "a"},
                           Args{"locate", "img", "1"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Cli(args).status, 2);
  }
  const Result help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("convert"), std::string::npos);
  for (const char* command : {"convert", "info", "locate", "preview", "export"}) {
    SCOPED_TRACE(command);
    const Result h = Cli({command, "--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find(std::string("kavrimo-cli ") + command), std::string::npos);
  }
  EXPECT_EQ(Cli({"--version"}).out, "kavrimo-cli " + std::string(kVersion) + "\n");
}

// What only the program itself shows: its exit statuses and streams, and the template found beside it.
TEST_F(CliTest, ProgramExitsWithTheCommandsStatus) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const Result ok = Process("convert " + Quote(dir_.File("dem.flt")) + " " + Quote(dir_.File("dem.IMG")));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out.substr(0, 12), "Step 1 of 2\n");
  const Result failed = Process("convert " + Quote(dir_.File("none.flt")) + " " + Quote(dir_.File("o.IMG")));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "kavrimo-cli: Cannot open file " + dir_.File("none.hdr") + ".\n");
  EXPECT_EQ(Process("frobnicate").status, 2);
}

// Standard output is checked before exit: results lost to a full disk are an error.
TEST_F(CliTest, LostOutputIsAWriteError) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  std::filesystem::create_directory(dir_.File("out"));
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  for (const std::string& command : {"info " + Quote(dir_.File("dem.IMG")), "locate " + Quote(dir_.File("dem.IMG")) + " 1 1",
                                     "convert --out-dir " + Quote(dir_.File("out")) + " " + Quote(dir_.File("dem.flt"))}) {
    SCOPED_TRACE(command);
    const Result r = Process(command, "/dev/full");
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
  WriteGrid(dir_.File("dem"), 2000, 1000, std::vector<float>(2000 * 1000, 7.0f));
  const std::string screen = OnTerminal({"convert", dir_.File("dem"), dir_.File("dem.IMG")});
  EXPECT_NE(screen.find("%"), std::string::npos) << screen;  // a bar was drawn
  std::vector<std::string> lines;
  std::istringstream text(screen);
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the terminal's CR LF
    const std::size_t cleared = line.rfind("\r\x1b[K");
    lines.push_back(cleared == std::string::npos ? line : line.substr(cleared + 4));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Step 1 of 2", "Max = 7 and Min = 0", "Slope = 0.0276679843664169 and Intecept = 0",
                                             "Step 2 of 2", "Image created succesfully"}));
  std::filesystem::create_directory(dir_.File("out"));
  EXPECT_NE(OnTerminal({"convert", "--out-dir", dir_.File("out"), dir_.File("dem.flt")}).find("[0 of 1 grids] "),
            std::string::npos);
}

// Stopped while the conversion runs (here: blocked writing a status line into a full pipe), by
// SIGTERM or by the pipe's reader going away: the temporary file goes, the earlier output stays, the
// status is 128 + the signal.
TEST_F(CliTest, StoppedConversionLeavesNothingBehind) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  std::filesystem::create_directory(dir_.File("out"));
  WriteText(dir_.File("out/dem.IMG"), "earlier");
  for (const int signal : {SIGTERM, SIGPIPE}) {
    SCOPED_TRACE(signal);
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
      ::execl(KAVRIMO_CLI_PATH, KAVRIMO_CLI_PATH, "convert", "--template", testing_support::TemplatePath().c_str(),
              dir_.File("dem").c_str(), dir_.File("out/dem.IMG").c_str(), nullptr);
      ::_exit(127);
    }
    ::close(pipe_ends[1]);
    for (int wait = 0; wait < 1000 && testing_support::ListFolder(dir_.File("out")).size() < 2; ++wait) ::usleep(10000);
    ASSERT_EQ(testing_support::ListFolder(dir_.File("out")).size(), 2u);  // the temporary file is there
    if (signal == SIGPIPE) {
      ::close(pipe_ends[0]);
    } else {
      ::kill(child, signal);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (signal != SIGPIPE) ::close(pipe_ends[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
    EXPECT_EQ(testing_support::ListFolder(dir_.File("out")), std::vector<std::string>{"dem.IMG"});
    EXPECT_EQ(ReadBytes(dir_.File("out/dem.IMG")), (std::vector<std::uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
  }
}

TEST_F(CliTest, TemplateOptionAndInvalidTemplate) {
  WriteGrid(dir_.File("dem"), 2, 1, {1, 2});
  WriteText(dir_.File("t.bin"), "short");
  const Result r = Cli({"convert", "--template", dir_.File("t.bin"), dir_.File("dem"), dir_.File("o.IMG")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kavrimo-cli: Template " + dir_.File("t.bin") + " is not a valid image.\n");
}

// Results in input order: successes on standard output, failures on standard error; status 1 when any
// failed; control characters of a name escaped in both. A folder that cannot take the images is one
// error before any grid is read.
TEST_F(CliTest, BatchConvertsEachGridIntoTheDirectory) {
  WriteGrid(dir_.File("a"), 2, 1, {1, 2});
  WriteGrid(dir_.File("b\n\x1b[2J"), 2, 2, {1, 2, 3, 4});
  std::filesystem::create_directory(dir_.File("out"));
  const std::string a = dir_.File("a.flt"), b = dir_.File("b\n\x1b[2J.flt"), c = dir_.File("c.flt");
  const Result r = Cli({"convert", "--jobs", "2", "--out-dir", dir_.File("out"), a, c, b});
  EXPECT_EQ(r.status, 1);  // c does not exist
  EXPECT_EQ(r.out, a + ": Image created succesfully\n" + dir_.File("b\\x0a\\x1b[2J.flt") + ": Image created succesfully\n");
  EXPECT_EQ(r.err, "kavrimo-cli: " + c + ": Cannot open file " + dir_.File("c.hdr") + ".\n");
  EXPECT_EQ(ReadBytes(dir_.File("out/a.IMG")).size(), 514u);
  EXPECT_EQ(ReadBytes(dir_.File("out/b\n\x1b[2J.IMG")).size(), 516u);
  const Result quiet = Cli({"convert", "-q", "--out-dir", dir_.File("out"), a, b});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");

  const Result missing = Cli({"convert", "--out-dir", dir_.File("none"), a, b});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "kavrimo-cli: " + dir_.File("none") + ": Invalid filename.\n");
}

// The file an error concerns is named, as the user named it or as derived from that name; outputs that
// must not be written are refused.
TEST_F(CliTest, ErrorsNameTheirFile) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  WriteGrid(dir_.File("nodata"), 3, 1, {1, 2, 3});
  std::filesystem::remove(dir_.File("nodata.flt"));
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0666), 0);
  const std::string image = dir_.File("dem.IMG");
  using Args = std::vector<std::string>;
  const struct {
    Args args;
    std::string err;
  } cases[] = {
      {{"convert", dir_.File("nodata"), dir_.File("o.IMG")}, dir_.File("nodata.flt") + ": File not found"},
      {{"convert", dir_.File("dem"), dir_.File("none/o.IMG")}, dir_.File("none/o.IMG") + ": Invalid filename"},
      {{"convert", "--template", dir_.File("no.bin"), dir_.File("dem"), dir_.File("o.IMG")}, dir_.File("no.bin") + ": File not found"},
      {{"convert", dir_.File("dem"), dir_.File("fifo")}, dir_.File("fifo") + " is not a regular file"},
      {{"convert", dir_.File("dem"), dir_.File("dem.hdr")}, "Cannot write over " + dir_.File("dem.hdr") + ", which this command reads"},
      {{"info", dir_.File("fifo")}, dir_.File("fifo") + ": File access denied"},
      {{"info", dir_.File("none.IMG")}, dir_.File("none.IMG") + ": File not found"},
      {{"preview", image, image}, "Cannot write over " + image + ", which this command reads"},
      {{"preview", image, dir_.File("fifo")}, dir_.File("fifo") + " is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Result r = Cli(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: " + c.err + ".\n");
  }
  EXPECT_EQ(ReadBytes(image).size(), 515u);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("o.IMG")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("q.png")));
}

// An image whose header promises 32767 x 32767 pixels on a file of three: the size is checked before
// a gigabyte is set aside for them (the preview runs with 300 MB of address space).
TEST_F(CliTest, PreviewChecksTheFileSizeBeforeAllocating) {
  if (testing_support::UnderAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer reserves the address space";
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  auto bytes = ReadBytes(dir_.File("dem.IMG"));
  bytes[30] = bytes[32] = 0xff;
  bytes[31] = bytes[33] = 0x7f;
  WriteText(dir_.File("huge.IMG"), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(testing_support::InChild([&] {
              const rlimit limit{300u << 20, 300u << 20};
              ::setrlimit(RLIMIT_AS, &limit);
              return Cli({"preview", dir_.File("huge.IMG"), dir_.File("q.png")}).err;
            }),
            "kavrimo-cli: " + dir_.File("huge.IMG") + " holds 3 pixels; its header promises 1073676289.\n");
}

// File names are bytes: a name that is not UTF-8 reaches the system unchanged.
TEST_F(CliTest, NamesThatAreNotUtf8AreKeptToTheByte) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  WriteText(dir_.File("victim\xef\xbf\xbd.IMG"), "unrelated");
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("victim\xff.IMG")}).status, 0);
  EXPECT_EQ(ReadBytes(dir_.File("victim\xff.IMG")).size(), 515u);
  EXPECT_EQ(ReadBytes(dir_.File("victim\xef\xbf\xbd.IMG")).size(), 9u);

  WriteGrid(dir_.File("g\xfe"), 2, 1, {1, 2});
  WriteGrid(dir_.File("g\xff"), 3, 1, {1, 2, 3});
  std::filesystem::create_directory(dir_.File("out"));
  const Result batch = Cli({"convert", "--out-dir", dir_.File("out"), dir_.File("g\xfe.flt"), dir_.File("g\xff.flt")});
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(ReadBytes(dir_.File("out/g\xfe.IMG")).size(), 514u);
  EXPECT_EQ(ReadBytes(dir_.File("out/g\xff.IMG")).size(), 515u);
}

TEST_F(CliTest, QuietThreadsAndEmptyNames) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const Result quiet = Cli({"convert", "-q", "--threads", "1", dir_.File("dem"), dir_.File("dem.IMG")});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");
  EXPECT_EQ(ReadBytes(dir_.File("dem.IMG")).size(), 515u);
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{"convert", "--template", "", dir_.File("dem"), dir_.File("o.IMG")},
                           Args{"convert", "", dir_.File("o.IMG")}, Args{"convert", "--threads", "0", "a", "b"},
                           Args{"convert", "--threads", "2", "--out-dir", "d", "a"}, Args{"preview", "", "x.png"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Cli(args).status, 2);
  }
}

// An ASCII grid and a float grid over one fixed range: no first step, the given range as Max and Min,
// and the count line before the success line; in a batch, each grid's count line before its own.
TEST_F(CliTest, ConvertOverAFixedRangeCountsTheCellsOutsideIt) {
  WriteText(dir_.File("a.asc"), "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n100 1000 2000\n");
  WriteGrid(dir_.File("b"), 2, 1, {-100, 1500});
  const CellScale scale = ScaleFor({1500, -100});
  const std::string scale_line =
      "Slope = " + FormatReal(scale.slope) + " and Intecept = " + FormatReal(scale.intercept) + "\n";
  const Result one = Cli({"convert", "--range", "-100", "1500", dir_.File("a.asc"), dir_.File("a.IMG")});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "Max = 1500 and Min = -100\n" + scale_line +
                         "Step 2 of 2\n0 cells below the range coded 0 and 1 above it coded 253\nImage created succesfully\n");
  std::filesystem::create_directory(dir_.File("out"));
  const std::string a = dir_.File("a.asc"), b = dir_.File("b.flt");
  const Result batch = Cli({"convert", "--out-dir", dir_.File("out"), "--range", "-100", "1500.0", a, b});
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(batch.out, a + ": 0 cells below the range coded 0 and 1 above it coded 253\n" + a +
                           ": Image created succesfully\n" + b + ": Image created succesfully\n");
  EXPECT_EQ(ReadBytes(dir_.File("out/a.IMG")), ReadBytes(dir_.File("a.IMG")));
  using Args = std::vector<std::string>;
  for (const Args& range : {Args{"5", "1"}, Args{"1", "1"}, Args{"x", "1"}, Args{"-1e39", "0"}, Args{"0", "1,5"}, Args{"1"}}) {
    SCOPED_TRACE(testing::PrintToString(range));
    Args args = {"convert", "--range"};
    args.insert(args.end(), range.begin(), range.end());
    args.insert(args.end(), {a, dir_.File("x.IMG")});
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--range needs"), std::string::npos) << r.err;
  }
}

TEST_F(CliTest, ExportWritesAFloatGridOrOneErrorLine) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result r = Cli({"export", "--nodata", "-32768", dir_.File("dem.IMG"), dir_.File("back")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadBytes(dir_.File("back.flt")).size(), 12u);
  EXPECT_EQ(ReadText(dir_.File("back.hdr")).substr(0, 32), "ncols         3\nnrows         1\n");
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{"export", "--nodata", "x", dir_.File("dem.IMG"), dir_.File("g")},
                           Args{"export", "--nodata", "16777217", dir_.File("dem.IMG"), dir_.File("g")},
                           Args{"export", dir_.File("dem.IMG")}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Cli(args).status, 2);
  }
  const Result refused = Cli({"export", dir_.File("dem.flt"), dir_.File("g")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "kavrimo-cli: " + dir_.File("dem.flt") + " is not a valid Miradel image.\n");
}

TEST_F(CliTest, InfoPrintsEveryPropertyAndDerivedValue) {
  WriteGrid(dir_.File("dem"), 20, 10, std::vector<float>(200, 3.0f), "NODATA_value -9999\n", false, 30, 35, 0.5f);
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result text = Cli({"info", dir_.File("dem.IMG")});
  ASSERT_EQ(text.status, 0) << text.err;
  std::vector<std::string> names;
  std::istringstream lines(text.out);
  for (std::string line; std::getline(lines, line);) names.push_back(line.substr(0, line.find(':')));
  const std::vector<std::string> expected = {
      "State",        "ImageType",     "Projection",   "Rows",        "Columns",      "Comment",     "RefLatitude",
      "RefLongitude", "RefColumn",     "RefRow",       "ColumnSpacing", "RowSpacing", "ProjParam1",  "ProjParam2",
      "MinValue",     "MaxValue",      "MissingValue", "Gain",        "Offset",       "Decimals",    "CellWidthKm",
      "MinLatitude",  "MaxLatitude",   "MinLongitude", "MaxLongitude"};
  EXPECT_EQ(names, expected);
  EXPECT_NE(text.out.find("State: ValidImage\n"), std::string::npos);
  EXPECT_NE(text.out.find("RefLatitude: 40\n"), std::string::npos);
  EXPECT_NE(text.out.find("MaxLongitude: 39.5\n"), std::string::npos);
  EXPECT_NE(text.out.find("MinLatitude: 35.5\n"), std::string::npos);
  const Result json = Cli({"info", "--json", dir_.File("dem.IMG")});
  ASSERT_EQ(json.status, 0);
  for (const std::string& key : expected) EXPECT_NE(json.out.find("\"" + key + "\":"), std::string::npos) << key;
  EXPECT_NE(json.out.find("\"State\": \"ValidImage\""), std::string::npos);

  // A Comment holding terminal controls is shown escaped.
  auto bytes = ReadBytes(dir_.File("dem.IMG"));
  const std::string comment = "\x1b]0;owned\x07\x1b[2J";
  std::copy(comment.begin(), comment.end(), bytes.begin() + 38);
  WriteText(dir_.File("controls.IMG"), std::string(bytes.begin(), bytes.end()));
  const Result controls = Cli({"info", dir_.File("controls.IMG")});
  EXPECT_NE(controls.out.find("Comment: \\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << controls.out;
  EXPECT_EQ(controls.out.find('\x1b'), std::string::npos);

  WriteText(dir_.File("junk.IMG"), std::string(600, 'j'));
  const Result invalid = Cli({"info", dir_.File("junk.IMG")});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_EQ(invalid.err, "kavrimo-cli: " + dir_.File("junk.IMG") + " is not a valid Miradel image.\n");
}

// info --json prints JSON or nothing, for images of every projection, corners in and out of the
// projection's domain; the azimuthal projection's report line goes to standard error.
TEST_F(CliTest, InfoJsonIsJsonForEveryProjection) {
  SetProjectionReportStream(stderr);
  for (const int projection : {0, 2, 3, 4, 5, 6, 7, 8, 9}) {
    for (const double spacing : {0.001, 1000.0, 1e6}) {
      SCOPED_TRACE(std::to_string(projection) + " " + std::to_string(spacing));
      const std::string image = dir_.File("p.IMG");
      std::filesystem::copy_file(testing_support::TemplatePath(), image, std::filesystem::copy_options::overwrite_existing);
      testing_support::RecordingHost host;
      TKelImg writer(host);
      writer.SetFileName(image);
      writer.SetProjection(static_cast<std::uint8_t>(projection));
      writer.SetColumns(100);
      writer.SetRows(100);
      writer.SetColumnSpacing(spacing);
      writer.SetRowSpacing(spacing);
      const Result r = Cli({"info", "--json", image});
      if (r.status != 0) {
        EXPECT_EQ(r.out, "");
        continue;
      }
      QJsonParseError error{};
      QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
      EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
    }
  }
  std::filesystem::copy_file(testing_support::TemplatePath(), dir_.File("lamaz.IMG"));
  testing_support::RecordingHost host;
  TKelImg writer(host);
  writer.SetFileName(dir_.File("lamaz.IMG"));
  writer.SetProjection(6);
  writer.SetColumns(100);
  writer.SetColumnSpacing(1e6);
  const Result lamaz = Process("info --json " + Quote(dir_.File("lamaz.IMG")));
  EXPECT_EQ(lamaz.status, 0);
  EXPECT_EQ(lamaz.out.substr(0, 1), "{");
  EXPECT_NE(lamaz.err.find("Error in lamaz_inverse\n"), std::string::npos);
}

TEST_F(CliTest, LocateFromArgumentsAndFromStandardInput) {
  WriteGrid(dir_.File("dem"), 20, 10, std::vector<float>(200, 3.0f), "NODATA_value -9999\n", false, 30, 35, 0.5f);
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const std::string image = dir_.File("dem.IMG");
  const Result args = Cli({"locate", image, "0", "0", "4", "2", "-0.5", "3"});
  EXPECT_EQ(args.status, 0) << args.err;
  EXPECT_EQ(args.out, "40 30\n39 32\n-1 -1\n");
  const Result piped = Cli({"locate", image}, "1 1\n\n0.25 0.5\n");
  EXPECT_EQ(piped.out, "39.5 30.5\n39.75 30.125\n");
  // Positions are finite numbers; "--" ends the options once; rejected text is escaped and cut short.
  const struct {
    std::vector<std::string> args;
    std::string input, shown;
  } rejected[] = {
      {{"locate", image, "nan", "0"}, "", "nan 0"},
      {{"locate", image, "1", "inf"}, "", "1 inf"},
      {{"locate", image, "-inf", "2"}, "", "-inf 2"},
      {{"locate", image, "--", "--", "2"}, "", "-- 2"},
      {{"locate", image}, "1 x\n", "1 x"},
      {{"locate", image}, "1 2 \x1b[2J\n", "1 2 \\x1b[2J"},
      {{"locate", image}, "1 2 " + std::string(100000, 'z') + "\n", "1 2 " + std::string(76, 'z') + "..."},
      {{"locate", image}, "0 0\n1 2 " + std::string(100000, 'z'), "1 2 " + std::string(76, 'z') + "..."},
  };
  for (const auto& c : rejected) {
    SCOPED_TRACE(c.shown.substr(0, 20));
    const Result r = Cli(c.args, c.input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: '" + c.shown + "' is not a pixel position (COLUMN ROW)\n");
  }
  // Standard input that never ends a line is rejected without being gathered; one that cannot be
  // read is an error, not an empty success.
  std::string zeros;
  for (int i = 0; i < 80; ++i) zeros += "\\x00";
  EXPECT_EQ(Process("locate " + Quote(image), "", "/dev/zero").err,
            "kavrimo-cli: '" + zeros + "...' is not a pixel position (COLUMN ROW)\n");
  const Result folder = Process("locate " + Quote(image), "", dir_.Path());
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "kavrimo-cli: read error: Is a directory.\n");
}

TEST_F(CliTest, PreviewWritesAPngOfTheImageSize) {
  WriteGrid(dir_.File("dem"), 7, 3, std::vector<float>(21, 3.0f));
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result r = Cli({"preview", dir_.File("dem.IMG"), dir_.File("q.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto png = ReadBytes(dir_.File("q.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  EXPECT_EQ(png[19], 7);  // IHDR width
  EXPECT_EQ(png[23], 3);  // IHDR height
  const Result piped = Cli({"preview", dir_.File("dem.IMG"), "-"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, std::string(png.begin(), png.end()));
  std::istringstream in;
  std::ostringstream on_terminal, err;
  cli::Streams terminal{in, on_terminal, err, true, true};
  EXPECT_EQ(cli::Run({"preview", dir_.File("dem.IMG"), "-"}, terminal), 1);
  EXPECT_EQ(on_terminal.str() + err.str(),
            "kavrimo-cli: will not write a PNG to a terminal: redirect standard output or name a file.\n");
}

}  // namespace
}  // namespace kavrimo
