// kavrimo-cli convert: one grid (a float grid, an ASCII grid or a GeoTIFF) with the status lines the window shows, or
// many grids into a folder
// (--out-dir), several at once, each reported in the order given: successes on standard output,
// failures on standard error. Over a fixed range (--range) the tiles of a mosaic share one scale. On a
// terminal, a progress bar (one grid) or "n of m grids" (many) on standard error.
#include <charconv>
#include <filesystem>
#include <map>

#include "app/cli/cli.h"
#include "app/cli/conversion_options.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/conversion/chunk_runner.h"
#include "app/conversion/conversion.h"
#include "app/program_files/program_files.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/number_text.h"
#include "runtime/path.h"

namespace kavrimo::cli {
namespace {

constexpr char kJobs[] = "jobs";

const CommandSpec kSpec{
    .name = "convert",
    .synopsis =
        "[-q] [--template FILE] [--range MIN MAX] [--threads N] [--bounds WEST SOUTH EAST NORTH] "
        "[--cell-size SIZE] INPUT OUTPUT\n"
        "[-q] [--template FILE] [--range MIN MAX] [--jobs N] [--cell-size SIZE] --out-dir DIR INPUT...",
    .description =
        "Converts ArcGIS float grids, ESRI ASCII grids and GeoTIFFs to 8-bit Miradel images. INPUT names the\n"
        "grid: an ASCII grid when it ends in .asc, a GeoTIFF when it ends in .tif or .tiff (any letter case;\n"
        "one band, in latitude and longitude), else a float grid whose .hdr and .flt files are named after it.\n"
        "With --out-dir, every INPUT becomes DIR/<base name>.IMG. With --range, every image is\n"
        "scaled over MIN to MAX instead of its grid's range, so that tiles share Gain and Offset; cells below\n"
        "MIN are coded 0 and cells above MAX 253, and their numbers are printed. --bounds and --cell-size\n"
        "make the image of a region of the grid or of coarser cells, as mosaic makes it of one grid; with\n"
        "--out-dir, --cell-size applies to every grid.",
    .options =
        {QuietOption("No status lines, success lines or progress; errors still on standard error."),
         TemplateOption(),
         RangeOption(),
         ThreadsOption("Threads for one grid (default: the number of processors).", "out-dir"),
         {.name = "out-dir", .value_name = "DIR", .values = 1, .help = "Convert every INPUT to DIR/<base name>.IMG."},
         {.name = "jobs",
          .value_name = "N",
          .values = 1,
          .help = "Grids converted at once with --out-dir (default: the number of processors).",
          .needs = "out-dir",
          .check = CheckPositiveWholeNumber<kJobs>},
         BoundsOption("out-dir"),
         CellSizeOption()},
    .arguments = {.min = 2, .max = 2},
    .form_option = "out-dir",
    .form_arguments = {.min = 1}};
constexpr const char* kSuccess = "Image created succesfully";

// What the options say of every grid of one command.
struct ConvertOptions {
  std::string template_path;
  std::optional<CellRange> range;
  bool quiet = false;
  const ParsedArgs* area = nullptr;  // set when --bounds or --cell-size was given
};

ConversionRequest RequestFor(const std::string& input, const std::string& output, const ConvertOptions& options,
                             int threads) {
  ConversionRequest request{input, output, options.template_path, threads};
  request.fixed_range = options.range;
  if (options.area != nullptr) request.mosaic = AreaRequest(*options.area, {input});
  return request;
}

int ConvertOne(const std::string& input, const std::string& output, const ConvertOptions& options, int threads,
               Streams& io) {
  const ConversionRequest request = RequestFor(input, output, options, threads);
  // A value of the grid's header that does not convert, a NaN cell or an overflow names no file: the
  // line names the grid, as each line of a batch does. A mosaic names its grids itself.
  const auto naming_grid = [&](const std::exception& e) {
    if (request.mosaic) throw;
    PrintFailure(io.err, e, input);
    return kExitFailure;
  };
  try {
    TerminalHost host(io.out, io.err, io.err_is_terminal, options.quiet);
    TKelImg image(host);
    Convert(request, image, host);
  } catch (const EConvertError& e) {
    return naming_grid(e);
  } catch (const EMathError& e) {
    return naming_grid(e);
  }
  return 0;
}

// The "n of m grids" line of a batch on a terminal, redrawn after every result line.
class BatchProgress {
 public:
  BatchProgress(std::ostream& err, bool shown, std::size_t total) : err_(err), shown_(shown), total_(total) {}
  ~BatchProgress() {
    if (shown_) err_ << kClearLine << std::flush;
  }
  // With the stream lock held.
  void Started(const std::string& input) {
    current_ = input;
    Draw();
  }
  void Clear() {
    if (shown_) err_ << kClearLine;
  }
  void Finished() {
    ++done_;
    Draw();
  }

 private:
  void Draw() {
    if (!shown_) return;
    err_ << kClearLine << "[" << done_ << " of " << total_ << " grids] " << Printable(current_, 60) << std::flush;
  }
  std::ostream& err_;
  bool shown_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::string current_;
};

// Converts each input to dir/<base name>.IMG, jobs grids at once on one thread each, and reports one
// line per grid in the order given, as soon as it and every grid before it are done. Two inputs that
// would write the same output are refused rather than written over each other.
int ConvertMany(const std::vector<std::string>& inputs, const std::string& dir, const ConvertOptions& options, int jobs,
                Streams& io) {
  CheckWritableFolder(dir);  // before any grid is read
  struct Grid {
    std::string output;
    std::string refusal;
    OutsideCounts outside;
    std::exception_ptr failure;
  };
  std::vector<Grid> grids(inputs.size());
  std::map<std::string, std::string> claimed;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string base = std::filesystem::path(inputs[i]).filename().string();
    grids[i].output = (std::filesystem::path(dir) / ReplaceExtension(base, ".IMG")).string();
    if (auto [it, fresh] = claimed.emplace(grids[i].output, inputs[i]); !fresh) {
      grids[i].refusal = "the output " + grids[i].output + " is already taken by " + it->second;
    }
  }

  SweptFolders swept;  // the output folder is swept for leftovers once, not once per grid
  BatchProgress progress(io.err, io.err_is_terminal && !options.quiet, inputs.size());
  bool any_failed = false;
  RunChunks(
      static_cast<std::int64_t>(inputs.size()), jobs,
      [&](std::int64_t index, int) {
        Grid& grid = grids[static_cast<std::size_t>(index)];
        if (!grid.refusal.empty()) return;
        const std::string& input = inputs[static_cast<std::size_t>(index)];
        {
          std::lock_guard lock(StreamMutex());
          progress.Started(input);
        }
        try {
          TerminalHost host(io.out, io.err, false, true, input + ": ");  // silent but for the image's errors
          TKelImg image(host);
          ConversionRequest request = RequestFor(input, grid.output, options, 1);
          request.swept = &swept;
          grid.outside = Convert(request, image, host).outside;
        } catch (const std::exception&) {
          grid.failure = std::current_exception();
        }
      },
      [&](std::int64_t index) {
        const Grid& grid = grids[static_cast<std::size_t>(index)];
        const std::string& input = inputs[static_cast<std::size_t>(index)];
        std::lock_guard lock(StreamMutex());
        progress.Clear();
        if (!grid.refusal.empty()) {
          PrintError(io.err, input + ": " + grid.refusal);
        } else if (grid.failure) {
          try {
            std::rethrow_exception(grid.failure);
          } catch (const std::exception& e) {
            PrintFailure(io.err, e, input);
          }
        } else if (!options.quiet) {
          if (grid.outside.below != 0 || grid.outside.above != 0) {
            io.out << Printable(input) << ": " << OutsideCountsText(grid.outside) << "\n";
          }
          io.out << Printable(input) << ": " << kSuccess << std::endl;
        }
        any_failed = any_failed || grid.failure || !grid.refusal.empty();
        progress.Finished();
      });
  return any_failed ? kExitFailure : 0;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  SetDecimalSeparator('.');  // the grids' headers and the status texts use the full stop, whatever the locale
  const std::vector<std::string>& inputs = parsed.Arguments();
  if (!parsed.IsSet("out-dir")) {
    if (const std::string refusal = CheckOutput(inputs[1]); !refusal.empty()) return UsageError(io.err, refusal);
  }
  ConvertOptions options;
  options.quiet = parsed.IsSet("quiet");
  options.template_path = parsed.IsSet("template") ? parsed.Value("template") : LocateProgramFiles().template_path;
  if (parsed.IsSet("range")) options.range = ParseRange(parsed.Values("range"));
  if (parsed.IsSet("bounds") || parsed.IsSet("cell-size")) options.area = &parsed;
  if (!parsed.IsSet("out-dir")) {
    const int threads = parsed.IsSet("threads") ? PositiveWholeNumber(parsed.Value("threads")) : DefaultThreadCount();
    return ConvertOne(inputs[0], inputs[1], options, threads, io);
  }
  const int jobs = parsed.IsSet("jobs") ? PositiveWholeNumber(parsed.Value("jobs")) : DefaultThreadCount();
  return ConvertMany(inputs, parsed.Value("out-dir"), options, jobs, io);
}

}  // namespace kavrimo::cli
