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

// Set by designated initialisers, so that each field is named where it is set.
struct OptionSpec {
  const char* name = nullptr;        // without the leading "--"
  char letter = 0;                   // one-letter form ("-q"), or 0
  const char* value_name = nullptr;  // "FILE", "MIN MAX", ...; nullptr for a flag
  int values = 0;                    // how many values follow the option (0 for a flag); taken as they
                                     // come, so a value may begin with "-" ("--range -100 2500")
  const char* help = "";
  const char* needs = nullptr;     // another option without which this one is a usage error
  const char* excludes = nullptr;  // another option that this one cannot go with
  // Why the values cannot be used ("" when they can); a reason is a usage error.
  std::string (*check)(const std::vector<std::string>& values) = nullptr;
  bool once = false;  // given twice: a usage error (else the last one counts)
};

// The reason "--<option> needs a whole number of at least 1", or "" for such a number in decimal digits.
template <const char* kOption>
std::string CheckPositiveWholeNumber(const std::vector<std::string>& values);
bool IsPositiveWholeNumber(const std::string& text);
// The number IsPositiveWholeNumber accepted.
int PositiveWholeNumber(const std::string& text);

template <const char* kOption>
std::string CheckPositiveWholeNumber(const std::vector<std::string>& values) {
  return IsPositiveWholeNumber(values.front()) ? ""
                                               : std::string("--") + kOption + " needs a whole number of at least 1";
}

// How many arguments a command takes: from min to max (kAny: no limit), in steps of step above min.
struct ArgumentCount {
  static constexpr int kAny = -1;
  int min = 0;
  int max = kAny;
  int step = 1;
  bool Allows(std::size_t count) const;
};

// Set by designated initialisers, as OptionSpec is.
struct CommandSpec {
  const char* name = nullptr;         // "convert"
  const char* synopsis = nullptr;     // the usage lines after "kavrimo-cli <name> ", "\n" between forms
  const char* description = nullptr;  // one paragraph
  std::vector<OptionSpec> options{};
  ArgumentCount arguments{};  // a count outside it is a usage error (the synopsis is printed)
  // A second form that an option selects: with form_option given, form_arguments apply instead.
  const char* form_option = nullptr;
  ArgumentCount form_arguments{};
  // How many leading arguments name files (kAny: all); an empty name there is a usage error.
  int file_arguments = ArgumentCount::kAny;
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
// status 0; an unknown option, a missing, empty or invalid value, an option without the option it needs or with
// one it excludes, a count of arguments the command does not take and an empty file name give a usage
// error (status 2). Returns the status to exit with, or nothing when the command should run.
std::optional<int> ParseCommandLine(const CommandSpec& command, const std::vector<std::string>& args, Streams& io,
                                    ParsedArgs& parsed);

// The usage error "usage: kavrimo-cli <command> <synopsis line>", one line per form, for a command.
int CommandUsageError(const CommandSpec& command, Streams& io);

// The command's help: usage lines, description and options.
std::string HelpText(const CommandSpec& command);

}  // namespace kavrimo::cli
