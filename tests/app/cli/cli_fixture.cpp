#include "tests/app/cli/cli_fixture.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/cli/cli.h"
#include "tests/support/grid_files.h"

namespace kavrimo::testing_support {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CliResult CliTest::Cli(Args args, const std::string& input) const {
  if (!args.empty() && (args[0] == "convert" || args[0] == "mosaic") &&
      std::find(args.begin(), args.end(), "--template") == args.end()) {
    args.insert(args.begin() + 1, {"--template", TemplatePath()});
  }
  std::istringstream in(input);
  std::ostringstream out, err;
  cli::Streams io{in, out, err};
  const int status = cli::Run(args, io);
  return {status, out.str(), err.str()};
}

CliResult CliTest::Process(std::string arguments, const std::string& out, const std::string& in) const {
  for (const std::string command : {"convert ", "mosaic "}) {
    if (arguments.starts_with(command)) arguments.insert(command.size(), "--template " + Quote(TemplatePath()) + " ");
  }
  const std::string out_file = out.empty() ? File("stdout.txt") : out, err_file = File("stderr.txt");
  const std::string command = std::string(KAVRIMO_CLI_PATH) + " " + arguments + " <" + Quote(in) + " >" +
                              Quote(out_file) + " 2>" + Quote(err_file);
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out.empty() ? ReadText(out_file) : "", ReadText(err_file)};
}

std::string CliTest::OnTerminal(Args args) const {
  args.insert(args.begin() + 1, {"--template", TemplatePath()});
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
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
    screen.append(buffer, static_cast<std::size_t>(n));
  ::close(terminal);
  ::waitpid(child, nullptr, 0);
  return screen;
}

std::string CliTest::Folder(const std::string& name) const {
  std::filesystem::create_directories(File(name));
  return File(name);
}

std::string CliTest::ExampleImage() const {
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  const CliResult converted = Cli({"convert", File("dem"), File("dem.IMG")});
  EXPECT_EQ(converted.status, 0) << converted.err;
  return File("dem.IMG");
}

std::string CliTest::GeographicImage() const {
  WriteGrid(File("dem"), 20, 10, std::vector<float>(200, 3.0f), "NODATA_value -9999\n", false, 30, 35, 0.5f);
  const CliResult converted = Cli({"convert", File("dem"), File("dem.IMG")});
  EXPECT_EQ(converted.status, 0) << converted.err;
  return File("dem.IMG");
}

}  // namespace kavrimo::testing_support
