// kavrimo-cli convert: one grid with the status lines the window shows, or many grids into a folder
// (--out-dir), several at once, each reported in the order given: successes on standard output,
// failures on standard error. Over a fixed range (--range) the tiles of a mosaic share one scale. On a
// terminal, a progress bar (one grid) or "n of m grids" (many) on standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "runtime/file.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{
    "convert",
    "[-q] [--template FILE] [--range MIN MAX] [--threads N] INPUT OUTPUT\n"
    "[-q] [--template FILE] [--range MIN MAX] [--jobs N] --out-dir DIR INPUT...",
    "Converts ArcGIS float grids and ESRI ASCII grids to 8-bit Miradel images. INPUT names the grid: an\n"
    "ASCII grid when it ends in .asc (any letter case), else a float grid whose .hdr and .flt files are\n"
    "named after it. With --out-dir, every INPUT becomes DIR/<base name>.IMG. With --range, every image is\n"
    "scaled over MIN to MAX instead of its grid's range, so that tiles share Gain and Offset; cells below\n"
    "MIN are coded 0 and cells above MAX 253, and their numbers are printed.",
    {{"quiet", 'q', nullptr, 0, "No status lines, success lines or progress; errors still on standard error."},
     {"template", 0, "FILE", 1, "Header template (default: header.bin beside the program or in ../share/kavrimo)."},
     {"range", 0, "MIN MAX", 2, "Scale over MIN to MAX (reals, MIN < MAX, \".\" as decimal separator)."},
     {"threads", 0, "N", 1, "Threads for one grid (default: the number of processors)."},
     {"out-dir", 0, "DIR", 1, "Convert every INPUT to DIR/<base name>.IMG."},
     {"jobs", 0, "N", 1, "Grids converted at once with --out-dir (default: the number of processors)."}}};
constexpr const char* kSuccess = "Image created succesfully";
constexpr const char* kOutsideLine = " cells below the range";  // in the status line of a fixed range

struct Settings {
  std::string template_path;
  std::optional<CellRange> range;
  bool quiet = false;
};

// A whole number of at least 1 for option name, or nothing after printing the usage error.
std::optional<int> Count(const ParsedArgs& parsed, const char* name, int fallback, Streams& io) {
  if (!parsed.IsSet(name)) return fallback;
  const std::string& text = parsed.Value(name);
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < 1) {
    UsageError(io.err, std::string("--") + name + " needs a whole number of at least 1");
    return std::nullopt;
  }
  return n;
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

ConversionRequest Request(const std::string& input, const std::string& output, const Settings& settings,
                          int threads) {
  ConversionRequest request{input, output, settings.template_path, threads};
  request.fixed_range = settings.range;
  return request;
}

int ConvertOne(const std::string& input, const std::string& output, const Settings& settings, int threads,
               Streams& io) {
  TerminalHost host(io.out, io.err, io.err_is_terminal, settings.quiet);
  TKelImg image(host);
  Convert(Request(input, output, settings, threads), image, host);
  return 0;
}

// The host of one grid of a batch: silent, but it keeps the count line of a fixed range for the
// batch's own report.
class BatchHost : public TerminalHost {
 public:
  BatchHost(Streams& io, const std::string& input) : TerminalHost(io.out, io.err, false, true, input + ": ") {}
  void SetStatus(const std::string& text) override {
    if (text.find(kOutsideLine) != std::string::npos) outside_line = text;
  }
  std::string outside_line;
};

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

// The folder must exist and take new files before any grid is read.
void CheckOutputFolder(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) RaiseIoErrorFromErrno(errno == ENOENT ? ENOTDIR : errno, dir);
  if (!S_ISDIR(st.st_mode)) throw EInOutError(3, dir);
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) RaiseIoErrorFromErrno(errno, dir);
}

// Converts each input to dir/<base name>.IMG, jobs grids at once on one thread each, and reports one
// line per grid in the order given, as soon as it and every grid before it are done. Two inputs that
// would write the same output are refused rather than written over each other.
int ConvertMany(const std::vector<std::string>& inputs, const std::string& dir, const Settings& settings, int jobs,
                Streams& io) {
  CheckOutputFolder(dir);
  struct Grid {
    std::string output;
    std::string refusal;
    std::string outside_line;
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
  BatchProgress progress(io.err, io.err_is_terminal && !settings.quiet, inputs.size());
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
          BatchHost host(io, input);
          TKelImg image(host);
          ConversionRequest request = Request(input, grid.output, settings, 1);
          request.swept = &swept;
          Convert(request, image, host);
          grid.outside_line = host.outside_line;
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
        } else if (!settings.quiet) {
          if (!grid.outside_line.empty()) io.out << Printable(input) << ": " << grid.outside_line << "\n";
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
  const std::vector<std::string>& inputs = parsed.Arguments();
  Settings settings;
  settings.quiet = parsed.IsSet("quiet");
  settings.template_path = parsed.IsSet("template") ? parsed.Value("template") : LocateProgramFiles().template_path;
  if (std::any_of(inputs.begin(), inputs.end(), [](const std::string& a) { return a.empty(); })) {
    return UsageError(io.err, "an empty name is no file");
  }
  if (parsed.IsSet("range")) {
    settings.range = ParseRange(parsed.Values("range"));
    if (!settings.range) return UsageError(io.err, "--range needs two numbers MIN and MAX, MIN less than MAX");
  }
  if (!parsed.IsSet("out-dir")) {
    if (inputs.size() != 2 || parsed.IsSet("jobs")) return CommandUsageError(kSpec, io);
    const std::optional<int> threads = Count(parsed, "threads", DefaultThreadCount(), io);
    if (!threads) return kExitUsage;
    return ConvertOne(inputs[0], inputs[1], settings, *threads, io);
  }
  if (inputs.empty() || parsed.IsSet("threads")) return CommandUsageError(kSpec, io);
  const std::optional<int> jobs = Count(parsed, "jobs", DefaultThreadCount(), io);
  if (!jobs) return kExitUsage;
  return ConvertMany(inputs, parsed.Value("out-dir"), settings, *jobs, io);
}

}  // namespace kavrimo::cli
