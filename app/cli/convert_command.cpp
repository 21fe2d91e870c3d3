// kavrimo-cli convert: one grid with the status lines the window shows, or many grids into a folder
// (--out-dir), several at once, each reported on one line in the order given; over a fixed range
// (--range) so that the tiles of a mosaic share one scale.
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/conversion/chunk_runner.h"
#include "app/conversion/conversion.h"
#include "app/grid/grid_header.h"
#include "runtime/errors.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{
    "convert",
    "[--template FILE] [--range MIN MAX] INPUT OUTPUT\n"
    "[--template FILE] [--range MIN MAX] [--jobs N] --out-dir DIR INPUT...",
    "Converts ArcGIS float grids and ESRI ASCII grids to 8-bit Miradel images. INPUT names the grid: an\n"
    "ASCII grid when it ends in .asc (any letter case), else a float grid whose .hdr and .flt files are\n"
    "named after it. With --out-dir, every INPUT becomes DIR/<base name>.IMG. With --range, every image is\n"
    "scaled over MIN to MAX instead of its grid's range, so that tiles share Gain and Offset; cells below\n"
    "MIN are coded 0 and cells above MAX 253, and their numbers are printed.",
    {{"template", 0, "FILE", 1, "Header template (default: header.bin beside the program)."},
     {"range", 0, "MIN MAX", 2, "Scale over MIN to MAX (reals, MIN < MAX, \".\" as decimal separator)."},
     {"out-dir", 0, "DIR", 1, "Convert every INPUT to DIR/<base name>.IMG."},
     {"jobs", 0, "N", 1, "Conversions at once with --out-dir (default: the number of processors)."}}};
constexpr const char* kSuccess = "Image created succesfully";

// The host of one grid of a batch: silent, but it keeps the count line of a fixed range for the
// batch's own report.
class BatchHost : public TerminalHost {
 public:
  BatchHost(Streams& io, const std::string& input) : TerminalHost(io.out, io.err, false, true, input + ": ") {}
  void SetStatus(const std::string& text) override { last_status = text; }
  std::string last_status;
};

int ConvertOne(const std::string& input, const std::string& output, const std::string& template_path,
               const std::optional<CellRange>& range, Streams& io) {
  TerminalHost host(io.out, io.err, io.err_is_terminal);
  TKelImg image(host);
  Convert({input, output, template_path, DefaultThreadCount(), range}, image, host);
  return 0;
}

// MIN and MAX of --range: reals by the number text rules with "." as separator, rounded to single,
// MIN < MAX. Nothing when they are not.
std::optional<CellRange> ParseRange(const std::vector<std::string>& texts) {
  SetDecimalSeparator('.');
  try {
    const float minimum = fp::ToSingle(ParseReal(texts[0]));
    const float maximum = fp::ToSingle(ParseReal(texts[1]));
    if (minimum < maximum) return CellRange{maximum, minimum};
  } catch (const Error&) {
  }
  return std::nullopt;
}

// Converts each input to dir/<base name>.IMG, jobs grids at once on one thread each, and prints one
// line per grid in the order given, as soon as it and every grid before it are done. Two inputs that
// would write the same output are refused rather than written over each other.
int ConvertMany(const std::vector<std::string>& inputs, const std::string& dir, const std::string& template_path,
                const std::optional<CellRange>& range, int jobs, Streams& io) {
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
          BatchHost host(io, input);
          TKelImg image(host);
          Convert({input, grid.output, template_path, 1, range}, image, host);
          if (host.last_status.find(" cells below the range") != std::string::npos) {
            grid.result = host.last_status + "\n" + input + ": " + kSuccess;
          }
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
      parsed.IsSet("template") ? parsed.Value("template") : ExecutableDirectory() + "header.bin";
  std::optional<CellRange> range;
  if (parsed.IsSet("range")) {
    range = ParseRange(parsed.Values("range"));
    if (!range) return UsageError(io.err, "--range needs two numbers MIN and MAX, MIN less than MAX");
  }
  if (!parsed.IsSet("out-dir")) {
    if (inputs.size() != 2 || parsed.IsSet("jobs")) return CommandUsageError(kSpec, io);
    return ConvertOne(inputs[0], inputs[1], template_path, range, io);
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
  return ConvertMany(inputs, parsed.Value("out-dir"), template_path, range, jobs, io);
}

}  // namespace kavrimo::cli
