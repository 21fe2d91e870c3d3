// TIniFile: parsing, key lookup and the replace-by-rename writer of the settings file.
#include "app/window/ini_file.h"

#include <optional>
#include <string_view>
#include <vector>

#include "runtime/ascii_case.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/path.h"
#include "runtime/temporary_output.h"

namespace kavrimo {
namespace {

struct Line {
  std::string text;        // without its line break
  std::string line_break;  // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    Line line{content.substr(start, end - start), "\n"};
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.line_break = "\r\n";
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool InQuotes(std::string_view value) { return value.size() >= 2 && value.front() == '"' && value.back() == '"'; }

// A value as the file holds it: in quotes when it begins or ends with a blank, which reading would
// otherwise drop, or when it is itself in quotes, which reading would otherwise take off.
std::string AsStored(const std::string& value) {
  if (value.empty() || !(IsBlank(value.front()) || IsBlank(value.back()) || InQuotes(value))) return value;
  return '"' + value + '"';
}

// A stored value (blanks around it removed) as it was written: without its quotes, if it has them.
std::string_view AsWritten(std::string_view stored) {
  return InQuotes(stored) ? stored.substr(1, stored.size() - 2) : stored;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(const std::string& line) {
  const std::string_view text = TrimBlanks(line);
  if (text.empty() || text.front() != '[') return std::nullopt;
  const std::size_t close = text.find(']');
  return TrimBlanks(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// Key and value of a "key=value" line, or nothing for a line without "=".
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return std::nullopt;
  const std::string_view text = line;
  return std::make_pair(TrimBlanks(text.substr(0, equals)), TrimBlanks(text.substr(equals + 1)));
}

// Where a section lies: its "[name]" line and the index just past its last line.
struct SectionRange {
  std::size_t header;
  std::size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines, const std::string& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i].text);
    if (!name || !SameName(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text)) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, SectionRange range, const std::string& key) {
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    const auto entry = KeyValue(lines[i].text);
    if (entry && SameName(entry->first, key)) return i;
  }
  return std::nullopt;
}

// Replaces the file's content as every output is replaced (runtime/temporary_output.h): through a
// temporary file, keeping its mode and its links, rewritten in place where the folder takes no new
// files; the content is on disk before it takes the file's place.
void Replace(const std::string& path, const std::string& content) {
  TemporaryOutput output(path);
  output.Reserve();
  output.Build([&] {
    BinaryFile file = BinaryFile::OpenExisting(output.Path(), OpenMode::WriteOnly);
    file.WriteExactly(content.data(), content.size());
    file.Sync();
    file.Close();
  });
  output.Commit();
}

}  // namespace

TIniFile::TIniFile(std::string file_name, Folder folder) : file_name_(std::move(file_name)), folder_(folder) {}

TIniFile::~TIniFile() { UpdateFile(); }

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& default_value) const {
  std::string content;
  try {
    if (ReadWholeFile(file_name_, content) != WholeFile::kRead) return default_value;
  } catch (const Error&) {
    return default_value;
  }
  const std::vector<Line> lines = SplitLines(content);
  const auto range = FindSection(lines, section);
  if (!range) return default_value;
  const auto index = FindKey(lines, *range, key);
  if (!index) return default_value;
  return std::string(AsWritten(KeyValue(lines[*index].text)->second));
}

bool TIniFile::CanKeep(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const auto fail = [this]() { throw EIniFileException("Unable to write to " + file_name_); };
  if (!CanKeep(value)) throw EIniFileException("Unable to write to " + file_name_ + ": the value holds a line break");
  if (folder_ == Folder::CreateMissing && !MakePrivateFolders(FolderOf(file_name_))) fail();
  std::string content;
  try {
    if (ReadWholeFile(file_name_, content) == WholeFile::kRefused) fail();
  } catch (const EInOutError&) {
    fail();
  }

  std::vector<Line> lines = SplitLines(content);
  const std::string line_break =
      lines.empty() || lines.front().line_break.empty() ? std::string("\n") : lines.front().line_break;
  const std::string entry = key + "=" + AsStored(value);
  const auto terminate = [&](std::size_t index) {
    if (lines[index].line_break.empty()) lines[index].line_break = line_break;
  };

  if (const auto range = FindSection(lines, section)) {
    if (const auto index = FindKey(lines, *range, key)) {
      lines[*index].text = entry;
      terminate(*index);
    } else {
      std::size_t last = range->end - 1;  // the last line of the section that is not blank
      while (last > range->header && TrimBlanks(lines[last].text).empty()) --last;
      terminate(last);
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{entry, line_break});
    }
  } else {
    if (!lines.empty()) terminate(lines.size() - 1);
    lines.push_back({"[" + section + "]", line_break});
    lines.push_back({entry, line_break});
  }

  std::string updated;
  for (const Line& line : lines) updated += line.text + line.line_break;
  try {
    Replace(file_name_, updated);
  } catch (const Error&) {
    fail();
  }
}

void TIniFile::UpdateFile() const { SyncFileQuietly(file_name_); }

}  // namespace kavrimo
