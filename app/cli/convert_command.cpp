// kavrimo-cli convert: one grid with the status lines the window shows, or many grids into a folder
// (--out-dir), several at once, each reported on one line in the order given.
#include <charconv>
#include <filesystem>
#include <map>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/conversion/chunk_runner.h"
#include "app/conversion/conversion.h"
#include "app/grid/grid_header.h"
#include "runtime/errors.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{
    "convert",
    "[--template FILE] INPUT OUTPUT\n[--template FILE] [--jobs N] --out-dir DIR INPUT...",
    "Converts ArcGIS float grids to 8-bit Miradel images. INPUT names the grid: its .hdr and .flt files are\n"
    "named after it. With --out-dir, every INPUT becomes DIR/<base name>.IMG.",
    {{"template", 0, "FILE", 1, "Header template (default: header.bin beside the program or in ../share/kavrimo)."},
     {"out-dir", 0, "DIR", 1, "Convert every INPUT to DIR/<base name>.IMG."},
     {"jobs", 0, "N", 1, "Conversions at once with --out-dir (default: the number of processors)."}}};
constexpr const char* kSuccess = "Image created succesfully";

int ConvertOne(const std::string& input, const std::string& output, const std::string& template_path,
               Streams& io) {
  TerminalHost host(io.out, io.err, io.err_is_terminal);
  TKelImg image(host);
  Convert({input, output, template_path, DefaultThreadCount()}, image, host);
  return 0;
}

// Converts each input to dir/<base name>.IMG, jobs grids at once on one thread each, and prints one
// line per grid in the order given, as soon as it and every grid before it are done. Two inputs that
// would write the same output are refused rather than written over each other.
int ConvertMany(const std::vector<std::string>& inputs, const std::string& dir, const std::string& template_path,
                int jobs, Streams& io) {
  struct Grid {
    std::string output;
    std::string result;
    bool failed = false;
    bool refused = false;
  };
  std::vector<Grid> grids(inputs.size());
  std::map<std::string, std::string> claimed;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string base = std::filesystem::path(inputs[i]).filename().string();
    grids[i].output = (std::filesystem::path(dir) / ReplaceExtension(base, ".IMG")).string();
    if (auto [it, fresh] = claimed.emplace(grids[i].output, inputs[i]); !fresh) {
      grids[i].result = "the output " + grids[i].output + " is already taken by " + it->second;
      grids[i].failed = grids[i].refused = true;
    }
  }

  bool any_failed = false;
  RunChunks(
      static_cast<std::int64_t>(inputs.size()), jobs,
      [&](std::int64_t index, int) {
        Grid& grid = grids[static_cast<std::size_t>(index)];
        if (grid.refused) return;
        const std::string& input = inputs[static_cast<std::size_t>(index)];
        grid.result = kSuccess;
        try {
          TerminalHost host(io.out, io.err, false, true, input + ": ");
          TKelImg image(host);
          Convert({input, grid.output, template_path, 1}, image, host);
        } catch (const Error& e) {
          grid.result = e.Message();
          grid.failed = true;
        }
      },
      [&](std::int64_t index) {
        const Grid& grid = grids[static_cast<std::size_t>(index)];
        any_failed = any_failed || grid.failed;
        std::lock_guard lock(StreamMutex());
        io.out << inputs[static_cast<std::size_t>(index)] << ": " << grid.result << std::endl;
      });
  return any_failed ? kExitFailure : 0;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  const std::vector<std::string>& inputs = parsed.Arguments();
  const std::string template_path =
      parsed.IsSet("template") ? parsed.Value("template") : LocateProgramFiles().template_path;
  if (!parsed.IsSet("out-dir")) {
    if (inputs.size() != 2 || parsed.IsSet("jobs")) return CommandUsageError(kSpec, io);
    return ConvertOne(inputs[0], inputs[1], template_path, io);
  }
  if (inputs.empty()) return CommandUsageError(kSpec, io);
  int jobs = DefaultThreadCount();
  if (parsed.IsSet("jobs")) {
    const std::string& text = parsed.Value("jobs");
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 1) {
      return UsageError(io.err, "--jobs needs a whole number of at least 1");
    }
  }
  return ConvertMany(inputs, parsed.Value("out-dir"), template_path, jobs, io);
}

}  // namespace kavrimo::cli
