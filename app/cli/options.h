// Option parsing for the subcommands, on Qt's command-line parser.
#pragma once

#include <QCommandLineParser>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace kavrimo::cli {

// Parses args for the subcommand; handles --help (prints help, status 0) and parse errors (prints the
// error, status 2). Returns the status to exit with, or nothing when the command should run. With
// numeric_positionals, a negative number ("-0.5") and everything after it are positional arguments.
std::optional<int> ParseCommandLine(QCommandLineParser& parser, const char* command, const char* syntax,
                                    const std::vector<std::string>& args, Streams& io,
                                    bool numeric_positionals = false);

std::vector<std::string> Positionals(const QCommandLineParser& parser);
std::string Value(const QCommandLineParser& parser, const char* name);

}  // namespace kavrimo::cli
