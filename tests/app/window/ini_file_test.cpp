// TIniFile: reading and writing keys of the settings file, failure to write, what stays untouched.
#include "app/window/ini_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/errors.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  // Replaces the settings file with content, or removes it for null.
  void Put(const char* content) const {
    fs::remove(path_);
    if (content != nullptr) std::ofstream(path_, std::ios::binary) << content;
  }
  std::string Get() const { return testing_support::ReadText(path_); }
  long FilesInDir() const { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }

  const testing_support::TempDir temporary_;
  const std::string dir_ = temporary_.Path().string(), path_ = dir_ + "/kavrimo.ini";
};

TEST_F(IniFileTest, ReadsValueOrDefault) {
  const struct {
    const char *name, *content, *key, *expected;
  } cases[] = {// content null: no file
               {"plain", "[files]\ninput=C:\\data\\dem.flt\noutput=C:\\data\\dem.IMG\n", "output", "C:\\data\\dem.IMG"},
               {"section and key in other case", "[FILES]\nInPut=a.flt\n", "input", "a.flt"},
               {"blanks around names and value", "  [ files ]  \n  input =  a b.flt \t\n", "input", "a b.flt"},
               {"quoted value", "[files]\ninput= \" a b.flt \" \n", "input", " a b.flt "},
               {"quotes in quotes", "[files]\ninput=\"\"a\"\"\n", "input", "\"a\""},
               {"quote at one end only", "[files]\ninput=\"a.flt\n", "input", "\"a.flt"},
               {"quote alone", "[files]\ninput=\"\n", "input", "\""},
               {"crlf lines", "[files]\r\ninput=x.flt\r\n", "input", "x.flt"},
               {"last line without break", "[files]\ninput=x.flt", "input", "x.flt"},
               {"empty value", "[files]\ninput=\n", "input", ""},
               {"equals sign in value", "[files]\ninput=a=b\n", "input", "a=b"},
               {"first of two keys", "[files]\ninput=one\ninput=two\n", "input", "one"},
               {"key in another section", "[other]\ninput=no\n[files]\noutput=o\n", "input", "<default>"},
               {"key before any section", "input=no\n[files]\n", "input", "<default>"},
               {"missing section", "[other]\ninput=x\n", "input", "<default>"},
               {"line without equals sign", "[files]\ninput\n", "input", "<default>"},
               {"empty file", "", "input", "<default>"},
               {"no file, none created", nullptr, "input", "<default>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(c.content);
    EXPECT_EQ(TIniFile(path_).ReadString("files", c.key, "<default>"), c.expected);
    EXPECT_EQ(fs::exists(path_), c.content != nullptr);
  }
}

// Every value that can be kept comes back byte for byte, however long; one with a line break is
// refused and the file left as it was.
TEST_F(IniFileTest, ValuesComeBackByteForByteOrAreRefused) {
  std::string long_value(5000, 'v');
  for (std::size_t i = 0; i < long_value.size(); ++i) long_value[i] = static_cast<char>('a' + i % 26);
  const std::string kept[] = {" lead.flt", "trail.IMG ", "\tboth\t", "   ",          "\"quoted\"",
                              "\"",        "a \"b\" c",  "",         "caf\xE9 \xFF", long_value};
  for (const std::string& value : kept) {
    SCOPED_TRACE(value.substr(0, 20));
    Put("[files]\ninput=earlier\n");
    TIniFile ini(path_);
    ASSERT_TRUE(TIniFile::CanKeep(value));
    ini.WriteString("files", "input", value);
    EXPECT_EQ(TIniFile(path_).ReadString("files", "input", "<default>"), value);
  }
  for (const std::string value : {"a\n[evil]\nb", "a.IMG\r", "\na", "a\r\nb"}) {
    SCOPED_TRACE(value);
    Put("[files]\ninput=earlier\n");
    EXPECT_FALSE(TIniFile::CanKeep(value));
    try {
      TIniFile(path_).WriteString("files", "input", value);
      ADD_FAILURE() << "no error raised";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.Message(), "Unable to write to " + path_ + ": the value holds a line break");
    }
    EXPECT_EQ(Get(), "[files]\ninput=earlier\n");
    EXPECT_EQ(FilesInDir(), 1);
  }
}

TEST_F(IniFileTest, WritesExactText) {
  // clang-format off
  const struct { const char *name, *before, *key, *value, *after; } cases[] = {  // before null: no file
      // clang-format on
      {"new file", nullptr, "input", "/d/dem.flt", "[files]\ninput=/d/dem.flt\n"},
      {"second key after first", "[files]\ninput=/d/dem.flt\n", "output", "/d/dem.IMG",
       "[files]\ninput=/d/dem.flt\noutput=/d/dem.IMG\n"},
      {"replace keeps other lines", "; note\n[files]\ninput=old\noutput=o\n[x]\ny=1\n", "input", "new",
       "; note\n[files]\ninput=new\noutput=o\n[x]\ny=1\n"},
      {"replace matches case of section and key", "[FILES]\nINPUT = old \n", "input", "new", "[FILES]\ninput=new\n"},
      {"key added at end of its section before blank line", "[files]\ninput=a\n\n[other]\nk=v\n", "output", "b",
       "[files]\ninput=a\noutput=b\n\n[other]\nk=v\n"},
      {"section appended to file without final break", "[other]\nk=v", "input", "a",
       "[other]\nk=v\n[files]\ninput=a\n"},
      {"crlf file keeps crlf", "[files]\r\ninput=a\r\n", "output", "b", "[files]\r\ninput=a\r\noutput=b\r\n"},
      {"value written unchanged", nullptr, "input", "a  b", "[files]\ninput=a  b\n"},
      {"blanks at the ends quoted", nullptr, "input", " two  blanks ", "[files]\ninput=\" two  blanks \"\n"},
      {"value in quotes quoted", nullptr, "input", "\"q\"", "[files]\ninput=\"\"q\"\"\n"},
      {"empty file", "", "input", "a", "[files]\ninput=a\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(c.before);
    TIniFile(path_).WriteString("files", c.key, c.value);
    EXPECT_EQ(Get(), c.after);
    EXPECT_EQ(FilesInDir(), 1) << "a temporary file was left behind";
  }
}

// The file is replaced through a temporary beside it; that must neither turn a link into a file nor
// change the file's mode.
TEST_F(IniFileTest, KeepsFileModeAndSymbolicLink) {
  const fs::path real = fs::path(dir_) / "real.ini";
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  std::ofstream(real) << "[files]\ninput=a\n";
  fs::permissions(real, mode);
  fs::create_symlink(real, path_);
  TIniFile(path_).WriteString("files", "input", "b");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(Get(), "[files]\ninput=b\n");
  EXPECT_EQ(fs::status(real).permissions(), mode);
}

TEST_F(IniFileTest, UnwritableLocationRaisesWithPath) {
  std::ofstream(dir_ + "/plain") << "x";  // a path through a regular file cannot be written even by root
  const std::string path = dir_ + "/plain/kavrimo.ini";
  try {
    TIniFile(path).WriteString("files", "input", "a");
    FAIL() << "no error raised";
  } catch (const EIniFileException& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
  }
}

// A user's configuration folder is made, private, on the first write only when asked for; reading
// makes nothing.
TEST_F(IniFileTest, MissingFoldersMadeOnFirstWriteOnlyWhenAsked) {
  const std::string path = dir_ + "/config/kavrimo/kavrimo.ini";
  EXPECT_THROW(TIniFile(path).WriteString("files", "input", "a"), EIniFileException);
  TIniFile ini(path, TIniFile::Folder::CreateMissing);
  EXPECT_EQ(ini.ReadString("files", "input", "<default>"), "<default>");
  EXPECT_FALSE(fs::exists(dir_ + "/config"));
  ini.WriteString("files", "input", "a");
  EXPECT_EQ(testing_support::ReadText(path), "[files]\ninput=a\n");
  for (const char* folder : {"/config", "/config/kavrimo"}) {
    EXPECT_EQ(fs::status(dir_ + folder).permissions(), fs::perms::owner_all) << folder;
  }
}

// The settings folder takes no new files (run as a user for whom permission bits count). Without a settings
// file, or with a read-only one, a write fails and nothing changes; a writable file there, where no
// temporary can be made beside it, is rewritten in place. A FIFO in the file's place is neither waited on
// nor written: reading gives the default, writing fails.
TEST_F(IniFileTest, ReadOnlyFolderFileOrFifo) {
  const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const fs::perms no_writes = read_only | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  const struct {
    const char* name;
    const char* earlier;  // null: no file; "fifo": a FIFO
    fs::perms mode;
    std::string expected;  // "<default read>|<write failure or the file's text after it>"
  } cases[] = {{"no settings file", nullptr, fs::perms::none, "default|Unable to write to "},
               {"read-only settings file", "[files]\ninput=old\n", read_only, "old|Unable to write to "},
               {"writable settings file", "[files]\ninput=old\n", fs::perms::all, "old|[files]\ninput=new\n"},
               {"FIFO", "fifo", fs::perms::all, "default|Unable to write to "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::permissions(dir_, fs::perms::all);
    fs::remove(path_);
    if (c.earlier != nullptr && std::string_view(c.earlier) == "fifo") {
      ASSERT_EQ(::mkfifo(path_.c_str(), 0666), 0);
    } else if (c.earlier != nullptr) {
      Put(c.earlier);
      fs::permissions(path_, c.mode);
    }
    fs::permissions(dir_, no_writes);
    const std::string report = testing_support::InChild(
        [&] {
          TIniFile settings(path_);
          std::string result = settings.ReadString("files", "input", "default") + "|";
          try {
            settings.WriteString("files", "input", "new");
            result += Get();
          } catch (const EIniFileException& e) {
            result += e.Message().substr(0, e.Message().size() - path_.size());
          }
          return result;
        },
        true, 20);
    EXPECT_EQ(report, c.expected);
    EXPECT_EQ(FilesInDir(), c.earlier != nullptr ? 1 : 0);
    if (c.earlier != nullptr && c.mode != fs::perms::all) {
      EXPECT_EQ(Get(), c.earlier);
    }
  }
  fs::permissions(dir_, fs::perms::all);
}

}  // namespace
}  // namespace kavrimo
