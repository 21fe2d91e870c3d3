// The subcommands' option parsing: long and one-letter options, values taken verbatim, "--" and
// negative numbers as arguments, help, and every parse error as a usage error.
#include "app/cli/options.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "runtime/errors.h"

namespace kavrimo::cli {
namespace {

const OptionSpec kHelp{"help", 'h', nullptr, 0, "Show this help."};

const OptionSpec* FindLong(const CommandSpec& command, const std::string& name) {
  if (name == kHelp.name) return &kHelp;
  for (const OptionSpec& o : command.options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const OptionSpec* FindLetter(const CommandSpec& command, char letter) {
  if (letter == kHelp.letter) return &kHelp;
  for (const OptionSpec& o : command.options) {
    if (o.letter != 0 && letter == o.letter) return &o;
  }
  return nullptr;
}

std::string Display(const OptionSpec& o) { return std::string("--") + o.name; }

// The usage errors of options that need or exclude others; nothing when every option given fits.
std::optional<int> CheckCompanions(const CommandSpec& command, const ParsedArgs& parsed, Streams& io) {
  for (const OptionSpec& o : command.options) {
    if (!parsed.IsSet(o.name)) continue;
    if (o.needs != nullptr && !parsed.IsSet(o.needs)) {
      return UsageError(io.err, "option '" + Display(o) + "' needs --" + o.needs);
    }
    if (o.excludes != nullptr && parsed.IsSet(o.excludes)) {
      return UsageError(io.err, "option '" + Display(o) + "' cannot go with --" + o.excludes);
    }
  }
  return std::nullopt;
}

}  // namespace

bool IsPositiveWholeNumber(const std::string& text) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  return error == std::errc() && end == text.data() + text.size() && n >= 1;
}

int PositiveWholeNumber(const std::string& text) {
  int n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

bool ArgumentCount::Allows(std::size_t count) const {
  const auto n = static_cast<long long>(count);
  return n >= min && (max == kAny || n <= max) && (n - min) % step == 0;
}

std::optional<int> ParseCommandLine(const CommandSpec& command, const std::vector<std::string>& args, Streams& io,
                                    ParsedArgs& parsed) {
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || a.size() < 2 || a[0] != '-') {
      parsed.arguments_.push_back(a);
      continue;
    }
    if (a == "--") {
      options_ended = true;
      continue;
    }
    const OptionSpec* option = nullptr;
    std::optional<std::string> attached;  // "--name=value"
    if (a[1] == '-') {
      const std::size_t equals = a.find('=');
      option = FindLong(command, a.substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
      if (equals != std::string::npos) attached = a.substr(equals + 1);
    } else if (a.size() == 2) {
      option = FindLetter(command, a[1]);
    }
    if (option == nullptr) {
      if (command.numbers && a[1] != '-') {
        parsed.arguments_.push_back(a);
        continue;
      }
      return UsageError(io.err, "unknown option '" + a + "' (try kavrimo-cli " + command.name + " --help)");
    }
    if (option == &kHelp) {
      io.out << HelpText(command);
      return 0;
    }
    if (option->once && parsed.IsSet(option->name)) {
      return UsageError(io.err, "option '" + Display(*option) + "' may be given only once");
    }
    std::vector<std::string> values;
    if (attached) {
      if (option->values != 1) return UsageError(io.err, "option '" + Display(*option) + "' takes no '=' value");
      values.push_back(*attached);
    }
    while (static_cast<int>(values.size()) < option->values) {
      if (++i >= args.size()) {
        return UsageError(io.err, "option '" + Display(*option) + "' needs " + option->value_name);
      }
      values.push_back(args[i]);
    }
    if (std::any_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); })) {
      return UsageError(io.err,
                        "option '" + Display(*option) + "' needs " + option->value_name + ", not an empty text");
    }
    if (option->check != nullptr) {
      if (const std::string reason = option->check(values); !reason.empty()) return UsageError(io.err, reason);
    }
    parsed.values_[option->name] = std::move(values);
  }
  if (auto status = CheckCompanions(command, parsed, io)) return status;
  const bool other_form = command.form_option != nullptr && parsed.IsSet(command.form_option);
  if (!(other_form ? command.form_arguments : command.arguments).Allows(parsed.arguments_.size())) {
    return CommandUsageError(command, io);
  }
  const std::size_t files = command.file_arguments == ArgumentCount::kAny
                                ? parsed.arguments_.size()
                                : std::min(parsed.arguments_.size(), static_cast<std::size_t>(command.file_arguments));
  for (std::size_t i = 0; i < files; ++i) {
    if (parsed.arguments_[i].empty()) return UsageError(io.err, "an empty name is no file");
  }
  return std::nullopt;
}

int CommandUsageError(const CommandSpec& command, Streams& io) {
  // Our own text, so each form gets a line of its own; only the last line ends with the full stop.
  std::istringstream forms(command.synopsis);
  std::vector<std::string> lines;
  for (std::string form; std::getline(forms, form);)
    lines.push_back("kavrimo-cli " + std::string(command.name) + " " + form);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    io.err << (i == 0 ? "kavrimo-cli: usage: " : "                    ") << lines[i] << "\n";
  }
  if (lines.size() > 1) {
    io.err << "                    " << WithFullStop(lines.back()) << std::endl;
    return kExitUsage;
  }
  return UsageError(io.err, "usage: " + lines.back());
}

std::string HelpText(const CommandSpec& command) {
  std::ostringstream text;
  std::istringstream forms(command.synopsis);
  bool first = true;
  for (std::string form; std::getline(forms, form); first = false) {
    text << (first ? "Usage: kavrimo-cli " : "       kavrimo-cli ") << command.name << " " << form << "\n";
  }
  text << "\n" << command.description << "\n\nOptions:\n";
  std::vector<const OptionSpec*> all;
  for (const OptionSpec& o : command.options) all.push_back(&o);
  all.push_back(&kHelp);
  std::vector<std::string> heads;
  std::size_t width = 0;
  for (const OptionSpec* o : all) {
    std::string head =
        o->letter != 0 ? std::string("-") + o->letter + ", --" + o->name : std::string("    --") + o->name;
    if (o->value_name != nullptr) head += std::string(" ") + o->value_name;
    width = std::max(width, head.size());
    heads.push_back(std::move(head));
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    text << "  " << heads[i] << std::string(width - heads[i].size() + 2, ' ') << all[i]->help << "\n";
  }
  return text.str();
}

}  // namespace kavrimo::cli
