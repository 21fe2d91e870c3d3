// kavrimo-cli mosaic: one image from many grids of any kind, on one lattice, cut to a box (--bounds) and
// coarsened (--cell-size), with the status lines of convert after a first line that says what it holds.
// --inputs-from names the grids of a folder of thousands without a long command line.
#include <limits.h>

#include <cstring>
#include <istream>

#include "app/cli/cli.h"
#include "app/cli/conversion_options.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/conversion/conversion.h"
#include "app/program_files/program_files.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/number_text.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{
    .name = "mosaic",
    .synopsis =
        "[-q] [--template FILE] [--range MIN MAX] [--threads N] [--bounds WEST SOUTH EAST NORTH] "
        "[--cell-size SIZE] [--inputs-from FILE] INPUT... OUTPUT",
    .description =
        "Makes one Miradel image of many grids: float grids, ESRI ASCII grids and GeoTIFFs, each named as\n"
        "convert names it. The first grid sets the lattice: every other must have its cell size and lie on\n"
        "its lines. A cell takes the value of the first grid, in the order given, whose cell there is valid;\n"
        "cells no grid covers are no-data. The image is the one convert makes of the merged grid. --bounds\n"
        "keeps the cells that overlap a box, --cell-size coarsens to cells of SIZE (a whole multiple of the\n"
        "grids' cell size, anchored at the first grid's upper-left corner), each the mean of its valid cells.\n"
        "The grids are streamed, never held in memory; those outside the box are not read past their headers.",
    .options = {QuietOption("No status lines, success line or progress; errors still on standard error."),
                TemplateOption(),
                RangeOption(),
                ThreadsOption("Threads (default: the number of processors)."),
                BoundsOption(),
                CellSizeOption(),
                {.name = "inputs-from",
                 .value_name = "FILE",
                 .values = 1,
                 .help = "More INPUTs from FILE, one name a line, after those given (- reads standard input; empty "
                         "lines skipped).",
                 .once = true}},
    .arguments = {.min = 1}};

// The names of an --inputs-from list, taken piece by piece as they are read: one a line, byte for byte,
// empty lines skipped. A line that holds a NUL byte, or more bytes than the longest path the system
// opens, names no file: the list is refused there, so that a device without end (/dev/zero) is not
// read on.
class NameLines {
 public:
  explicit NameLines(std::string list) : list_(std::move(list)) {}
  void Take(const char* bytes, std::size_t count) {
    for (const char* end = bytes + count; bytes < end;) {
      const auto* newline = static_cast<const char*>(std::memchr(bytes, '\n', static_cast<std::size_t>(end - bytes)));
      const char* stop = newline != nullptr ? newline : end;
      if (std::memchr(bytes, '\0', static_cast<std::size_t>(stop - bytes)) != nullptr) {
        Refuse("holds a NUL byte, which no file name holds");
      }
      if (current_.size() + static_cast<std::size_t>(stop - bytes) > kLongestPath) {
        Refuse("is longer than " + std::to_string(kLongestPath) + " bytes, the longest file name");
      }
      current_.append(bytes, stop);
      if (newline == nullptr) break;
      EndLine();
      bytes = newline + 1;
    }
  }
  std::vector<std::string> Names() && {
    EndLine();
    return std::move(names_);
  }

 private:
  static constexpr std::size_t kLongestPath = PATH_MAX - 1;
  void EndLine() {
    if (!current_.empty()) names_.push_back(std::move(current_));
    current_.clear();
    ++line_;
  }
  [[noreturn]] void Refuse(const std::string& what) const {
    throw ECommandError(list_ + ": line " + std::to_string(line_) + " " + what);
  }
  std::string list_;
  std::string current_;
  std::int64_t line_ = 1;
  std::vector<std::string> names_;
};

std::vector<std::string> ReadNames(const std::string& path, std::istream& in) {
  NameLines lines(path == "-" ? "standard input" : path);
  const auto take = [&](const char* bytes, std::size_t count) { lines.Take(bytes, count); };
  if (path != "-") {
    if (ReadStream(path, take) != WholeFile::kRead) throw EFOpenError(path);
    return std::move(lines).Names();
  }
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) take(buffer, static_cast<std::size_t>(in.gcount()));
  return std::move(lines).Names();
}

}  // namespace

int RunMosaic(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  SetDecimalSeparator('.');  // the grids' headers and the status texts use the full stop, whatever the locale
  std::vector<std::string> inputs = parsed.Arguments();
  const std::string output = inputs.back();
  inputs.pop_back();
  if (const std::string refusal = CheckOutput(output); !refusal.empty()) return UsageError(io.err, refusal);
  std::string listed;
  if (parsed.IsSet("inputs-from")) {
    listed = parsed.Value("inputs-from");
    for (std::string& name : ReadNames(listed, io.in)) inputs.push_back(std::move(name));
  }
  if (inputs.empty()) return UsageError(io.err, "mosaic needs at least one INPUT");
  const int threads = parsed.IsSet("threads") ? PositiveWholeNumber(parsed.Value("threads")) : DefaultThreadCount();
  ConversionRequest request{inputs.front(), output,
                            parsed.IsSet("template") ? parsed.Value("template") : LocateProgramFiles().template_path,
                            threads};
  if (parsed.IsSet("range")) request.fixed_range = ParseRange(parsed.Values("range"));
  request.mosaic = AreaRequest(parsed, std::move(inputs));
  if (listed != "-") request.mosaic->inputs_from = listed;
  TerminalHost host(io.out, io.err, io.err_is_terminal, parsed.IsSet("quiet"));
  TKelImg image(host);
  Convert(request, image, host);
  return 0;
}

}  // namespace kavrimo::cli
