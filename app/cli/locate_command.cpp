// kavrimo-cli locate IMAGE [COLUMN ROW]...: latitude and longitude of pixel positions of an image, one
// "LATITUDE LONGITUDE" line per position, the positions taken from the arguments or, when there are
// none, from standard input, one "COLUMN ROW" pair per line (blank lines skipped). A line is read
// up to kMaxLine bytes only: an endless one (/dev/zero) is rejected, not gathered.
#include <array>
#include <charconv>
#include <cmath>
#include <istream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/image_file.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{.name = "locate",
                        .synopsis = "IMAGE [COLUMN ROW]...",
                        .description =
                            "Prints the latitude and longitude of pixel positions (in cells, real-valued) of a\n"
                            "Miradel image; with no positions given, reads COLUMN ROW pairs from standard input.",
                        .arguments = {.min = 1, .step = 2},
                        .file_arguments = 1,
                        .numbers = true};

// A finite number written out whole ("nan" and "inf" are no positions).
bool ParsePosition(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

constexpr std::size_t kShownLine = 80;  // of a rejected line, the bytes the message shows
constexpr std::size_t kMaxLine = 4096;  // longer lines hold no position

Error NotAPosition(const std::string& text) {
  return Error("'" + Printable(text, kShownLine) + "' is not a pixel position (COLUMN ROW)");
}

// The next line of in, without its line break, into line; false at the end of the input. A line
// longer than kMaxLine raises as not a position.
bool ReadLine(std::istream& in, std::string& line) {
  std::array<char, kMaxLine + 1> buffer;  // and the terminating NUL
  in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  const auto count = static_cast<std::size_t>(in.gcount());
  if (in.fail() && !in.eof()) throw NotAPosition(std::string(buffer.data(), kMaxLine));  // no line break in reach
  if (count == 0 && in.eof()) return false;
  line.assign(buffer.data(), in.eof() ? count : count - 1);  // the line break is counted, not stored
  return true;
}

// The image's positions, from the arguments or else one pair a line from standard input.
int Locate(const std::vector<std::string>& positionals, TKelImg& image, Streams& io) {
  auto locate = [&](const std::string& column_text, const std::string& row_text) {
    double column = 0, row = 0;
    if (!ParsePosition(column_text, column) || !ParsePosition(row_text, row)) {
      throw NotAPosition(column_text + " " + row_text);
    }
    double longitude = 0, latitude = 0;
    image.PixelToGeo(column, row, longitude, latitude);
    io.out << ShortestText(latitude) << " " << ShortestText(longitude) << "\n";
  };
  if (positionals.size() > 1) {
    for (std::size_t i = 1; i + 1 < positionals.size(); i += 2) locate(positionals[i], positionals[i + 1]);
    return 0;
  }
  io.in.exceptions(std::ios::badbit);  // a failed read raises what the stream's buffer raised
  for (std::string line; ReadLine(io.in, line);) {
    std::istringstream words(line);
    std::string column, row, extra;
    if (!(words >> column)) continue;  // blank line
    if (!(words >> row) || (words >> extra)) {
      throw NotAPosition(line);
    }
    locate(column, row);
  }
  return 0;
}

}  // namespace

int RunLocate(const std::vector<std::string>& args, Streams& io) {
  return RunOnImage(kSpec, args, io,
                    [&](const ParsedArgs& parsed, TKelImg& image) { return Locate(parsed.Arguments(), image, io); });
}

}  // namespace kavrimo::cli
