// kavrimo-cli convert: one grid with status lines, or many grids into a directory side by side.
#include <QCommandLineParser>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <thread>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/core/conversion.h"
#include "app/core/grid_header.h"
#include "runtime/errors.h"

namespace kavrimo::cli {
namespace {

constexpr const char* kSyntax = "[--template FILE] INPUT OUTPUT\n"
                                "       kavrimo-cli convert [--template FILE] [--jobs N] --out-dir DIR INPUT...";
constexpr const char* kSuccess = "Image created succesfully";

int ConvertOne(const std::string& input, const std::string& output, const std::string& template_path,
               Streams& io) {
  TerminalHost host(io.out, io.err, io.err_is_terminal);
  TKelImg image(host);
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  Convert({input, output, template_path, threads}, image, host);
  return 0;
}

// Converts each input to dir/<base name>.IMG with jobs conversions at once; prints one line per grid,
// in the order given, as soon as it and every grid before it are done.
int ConvertMany(const std::vector<std::string>& inputs, const std::string& dir, const std::string& template_path,
                unsigned jobs, Streams& io) {
  std::vector<std::string> outputs, results(inputs.size());
  std::vector<char> done(inputs.size(), 0), failed(inputs.size(), 0), refused(inputs.size(), 0);
  std::map<std::string, std::string> claimed;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string base = std::filesystem::path(inputs[i]).filename().string();
    outputs.push_back((std::filesystem::path(dir) / ReplaceExtension(base, ".IMG")).string());
    if (auto [it, fresh] = claimed.emplace(outputs[i], inputs[i]); !fresh) {
      results[i] = "the output " + outputs[i] + " is already taken by " + it->second;
      done[i] = failed[i] = refused[i] = 1;
    }
  }

  std::mutex mutex;
  std::size_t next_to_print = 0;
  auto print_ready = [&] {  // with mutex held
    for (; next_to_print < inputs.size() && done[next_to_print]; ++next_to_print) {
      std::lock_guard lock(StreamMutex());
      io.out << inputs[next_to_print] << ": " << results[next_to_print] << std::endl;
    }
  };
  std::atomic<std::size_t> next_job{0};
  auto worker = [&] {
    for (std::size_t i; (i = next_job++) < inputs.size();) {
      if (refused[i]) continue;
      std::string result = kSuccess;
      bool fail = false;
      try {
        TerminalHost host(io.out, io.err, false, true, inputs[i] + ": ");
        TKelImg image(host);
        Convert({inputs[i], outputs[i], template_path, 1}, image, host);
      } catch (const Error& e) {
        result = e.Message();
        fail = true;
      }
      std::lock_guard lock(mutex);
      results[i] = result;
      failed[i] = fail;
      done[i] = 1;
      print_ready();
    }
  };
  {
    std::lock_guard lock(mutex);
    print_ready();
  }
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs && t < inputs.size(); ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  std::lock_guard lock(mutex);
  print_ready();
  for (char f : failed) {
    if (f) return kExitFailure;
  }
  return 0;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, Streams& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription("Converts ArcGIS float grids to 8-bit Miradel images.");
  parser.addOption({"template", "Header template (default: header.bin beside the program).", "FILE"});
  parser.addOption({"out-dir", "Convert every INPUT to DIR/<base name>.IMG.", "DIR"});
  parser.addOption({"jobs", "Conversions at once with --out-dir (default: the number of processors).", "N"});
  parser.addPositionalArgument("INPUT", "The grid: its .hdr and .flt files are named after it.");
  if (auto status = ParseCommandLine(parser, "convert", kSyntax, args, io)) return *status;

  const std::vector<std::string> positionals = Positionals(parser);
  const std::string template_path =
      parser.isSet("template") ? Value(parser, "template") : ExecutableDirectory() + "header.bin";
  if (!parser.isSet("out-dir")) {
    if (positionals.size() != 2 || parser.isSet("jobs")) {
      PrintError(io.err, std::string("usage: kavrimo-cli convert ") + kSyntax);
      return kExitUsage;
    }
    return ConvertOne(positionals[0], positionals[1], template_path, io);
  }
  if (positionals.empty()) {
    PrintError(io.err, std::string("usage: kavrimo-cli convert ") + kSyntax);
    return kExitUsage;
  }
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  if (parser.isSet("jobs")) {
    bool ok = false;
    const int n = parser.value("jobs").toInt(&ok);
    if (!ok || n < 1) {
      PrintError(io.err, "--jobs needs a whole number of at least 1");
      return kExitUsage;
    }
    jobs = static_cast<unsigned>(n);
  }
  return ConvertMany(positionals, Value(parser, "out-dir"), template_path, jobs, io);
}

}  // namespace kavrimo::cli
