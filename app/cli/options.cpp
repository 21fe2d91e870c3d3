// The subcommands' option parsing: long and one-letter options, values taken verbatim, "--" and
// negative numbers as arguments, help, and every parse error as a usage error.
#include "app/cli/options.h"

#include <algorithm>
#include <sstream>

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

}  // namespace

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
      return UsageError(io.err, "option '" + Display(*option) + "' needs " + option->value_name + ", not an empty text");
    }
    parsed.values_[option->name] = std::move(values);
  }
  return std::nullopt;
}

int CommandUsageError(const CommandSpec& command, Streams& io) {
  std::string synopsis = command.synopsis;
  std::string lines;
  std::istringstream forms(synopsis);
  for (std::string form; std::getline(forms, form);) {
    lines += (lines.empty() ? "usage: kavrimo-cli " : "\n       kavrimo-cli ") + std::string(command.name) + " " + form;
  }
  return UsageError(io.err, lines);
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
    std::string head = o->letter != 0 ? std::string("-") + o->letter + ", --" + o->name : std::string("    --") + o->name;
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
