// The subcommands' options and arguments, parsed from the bytes as given.
//
// Nothing converts an argument through a text type: a file name reaches the system exactly as typed,
// whatever bytes it holds. Options are "--name" (values as "--name VALUE" or "--name=VALUE"), a few
// have a one-letter form ("-q"); "--" ends the options; "-" alone is an argument.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace kavrimo::cli {

struct OptionSpec {
  const char* name;        // without the leading "--"
  char letter;             // one-letter form ("-q"), or 0
  const char* value_name;  // "FILE", "MIN MAX", ...; nullptr for a flag
  int values;              // how many values follow the option (0 for a flag); taken as they come,
                           // so a value may begin with "-" ("--range -100 2500")
  const char* help;
};

struct CommandSpec {
  const char* name;         // "convert"
  const char* synopsis;     // the usage lines after "kavrimo-cli <name> ", "\n" between forms
  const char* description;  // one paragraph
  std::vector<OptionSpec> options;
  // With numbers set, an argument that begins with a single "-" and is not one of the command's own
  // options is an argument, not an option: "-0.5", "-inf".
  bool numbers = false;
};

class ParsedArgs {
 public:
  bool IsSet(const std::string& name) const { return values_.count(name) != 0; }
  // The value(s) of an option that was given (the last time it was given).
  const std::string& Value(const std::string& name) const { return values_.at(name).front(); }
  const std::vector<std::string>& Values(const std::string& name) const { return values_.at(name); }
  const std::vector<std::string>& Arguments() const { return arguments_; }

 private:
  friend std::optional<int> ParseCommandLine(const CommandSpec&, const std::vector<std::string>&, Streams&,
                                             ParsedArgs&);
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> arguments_;
};

// Parses args for the command. "-h" or "--help" prints the command's help to standard output and gives
// status 0; an unknown option, a missing or empty value gives a usage error (status 2). Returns the
// status to exit with, or nothing when the command should run.
std::optional<int> ParseCommandLine(const CommandSpec& command, const std::vector<std::string>& args, Streams& io,
                                    ParsedArgs& parsed);

// The usage error "usage: kavrimo-cli <command> <first synopsis line>..." for a command.
int CommandUsageError(const CommandSpec& command, Streams& io);

// The command's help: usage lines, description and options.
std::string HelpText(const CommandSpec& command);

}  // namespace kavrimo::cli
