// The subcommands' option parsing on Qt's command-line parser: help, parse errors as usage errors,
// and negative numbers taken as positions rather than options.
#include "app/cli/options.h"

#include <QStringList>
#include <cctype>

namespace kavrimo::cli {

std::optional<int> ParseCommandLine(QCommandLineParser& parser, const char* command, const char* syntax,
                                    const std::vector<std::string>& args, Streams& io,
                                    bool numeric_positionals) {
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
  parser.addOption(help);
  QStringList list{QString("kavrimo-cli ") + command};
  bool positional_only = false;
  for (const std::string& a : args) {
    const bool negative_number = a.size() > 1 && a[0] == '-' && (std::isdigit(static_cast<unsigned char>(a[1])) || a[1] == '.');
    if (numeric_positionals && negative_number && !positional_only) {
      list << "--";
      positional_only = true;
    }
    list << QString::fromLocal8Bit(a.c_str());
  }
  if (!parser.parse(list)) {
    return UsageError(io.err, parser.errorText().toStdString());
  }
  if (parser.isSet(help)) {
    io.out << "Usage: kavrimo-cli " << command << " " << syntax << "\n\n"
           << parser.helpText().section('\n', 2).toStdString();
    return 0;
  }
  return std::nullopt;
}

std::vector<std::string> Positionals(const QCommandLineParser& parser) {
  std::vector<std::string> result;
  for (const QString& s : parser.positionalArguments()) result.push_back(s.toLocal8Bit().toStdString());
  return result;
}

std::string Value(const QCommandLineParser& parser, const char* name) {
  return parser.value(name).toLocal8Bit().toStdString();
}

}  // namespace kavrimo::cli
