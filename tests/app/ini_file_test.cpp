// TIniFile: reading and writing keys of the settings file, failure to write, what stays untouched.
#include "app/core/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;

// A test name from a case's description: letters and digits kept, everything else "_".
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& case_info) {
  std::string name = case_info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kavrimo-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "kavrimo.ini").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }
  void Put(const std::string& content) const { std::ofstream(path_, std::ios::binary) << content; }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  int FilesInDir() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
  std::string path_;
};

struct ReadCase {
  const char* name;
  const char* content;
  const char* section;
  const char* key;
  const char* expected;
};

class IniReadTest : public IniFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniReadTest, ReadsValueOrDefault) {
  const ReadCase& c = GetParam();
  SCOPED_TRACE(c.name);
  Put(c.content);
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniReadTest,
    ::testing::Values(
        ReadCase{"plain", "[files]\ninput=C:\\data\\dem.flt\noutput=C:\\data\\dem.IMG\n", "files",
                 "output", "C:\\data\\dem.IMG"},
        ReadCase{"section and key in other case", "[FILES]\nInPut=a.flt\n", "files", "input",
                 "a.flt"},
        ReadCase{"blanks around names and value", "  [ files ]  \n  input =  a b.flt \t\n", "files",
                 "input", "a b.flt"},
        ReadCase{"crlf lines", "[files]\r\ninput=x.flt\r\n", "files", "input", "x.flt"},
        ReadCase{"last line without break", "[files]\ninput=x.flt", "files", "input", "x.flt"},
        ReadCase{"empty value", "[files]\ninput=\n", "files", "input", ""},
        ReadCase{"equals sign in value", "[files]\ninput=a=b\n", "files", "input", "a=b"},
        ReadCase{"first of two keys", "[files]\ninput=one\ninput=two\n", "files", "input", "one"},
        ReadCase{"key in another section", "[other]\ninput=no\n[files]\noutput=o\n", "files",
                 "input", "<default>"},
        ReadCase{"key before any section", "input=no\n[files]\n", "files", "input", "<default>"},
        ReadCase{"missing section", "[other]\ninput=x\n", "files", "input", "<default>"},
        ReadCase{"line without equals sign", "[files]\ninput\n", "files", "input", "<default>"},
        ReadCase{"empty file", "", "files", "input", "<default>"}),
    CaseName<ReadCase>);

TEST_F(IniFileTest, MissingFileGivesDefaultAndIsNotCreated) {
  {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("files", "input", ""), "");
    EXPECT_EQ(ini.ReadString("files", "output", "fallback"), "fallback");
  }
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, LongValueIsCutTo2047Characters) {
  std::string value(3000, 'v');
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  TIniFile ini(path_);
  ini.WriteString("files", "input", value);
  EXPECT_EQ(Get(), "[files]\ninput=" + value + "\n");  // written whole
  const std::string read = ini.ReadString("files", "input", "");
  EXPECT_EQ(read.size(), 2047u);
  EXPECT_EQ(read, value.substr(0, 2047));
}

struct WriteCase {
  const char* name;
  std::optional<std::string> before;  // nothing: no file
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

class IniWriteTest : public IniFileTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(IniWriteTest, WritesExactText) {
  const WriteCase& c = GetParam();
  SCOPED_TRACE(c.name);
  if (c.before) Put(*c.before);
  TIniFile ini(path_);
  ini.WriteString(c.section, c.key, c.value);
  EXPECT_EQ(Get(), c.after);
  EXPECT_EQ(FilesInDir(), 1) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniWriteTest,
    ::testing::Values(
        WriteCase{"new file", std::nullopt, "files", "input", "/d/dem.flt",
                  "[files]\ninput=/d/dem.flt\n"},
        WriteCase{"second key after first", "[files]\ninput=/d/dem.flt\n", "files", "output",
                  "/d/dem.IMG", "[files]\ninput=/d/dem.flt\noutput=/d/dem.IMG\n"},
        WriteCase{"replace keeps other lines", "; note\n[files]\ninput=old\noutput=o\n[x]\ny=1\n",
                  "files", "input", "new", "; note\n[files]\ninput=new\noutput=o\n[x]\ny=1\n"},
        WriteCase{"replace matches case of section and key", "[FILES]\nINPUT = old \n", "files",
                  "input", "new", "[FILES]\ninput=new\n"},
        WriteCase{"key added at end of its section before blank line",
                  "[files]\ninput=a\n\n[other]\nk=v\n", "files", "output", "b",
                  "[files]\ninput=a\noutput=b\n\n[other]\nk=v\n"},
        WriteCase{"section appended to file without final break", "[other]\nk=v", "files", "input",
                  "a", "[other]\nk=v\n[files]\ninput=a\n"},
        WriteCase{"crlf file keeps crlf", "[files]\r\ninput=a\r\n", "files", "output", "b",
                  "[files]\r\ninput=a\r\noutput=b\r\n"},
        WriteCase{"value written unchanged", std::nullopt, "files", "input", " two  blanks ",
                  "[files]\ninput= two  blanks \n"},
        WriteCase{"line break cuts the value", std::nullopt, "files", "input", "a\n[evil]\nb",
                  "[files]\ninput=a\n"},
        WriteCase{"empty file", std::string(), "files", "input", "a", "[files]\ninput=a\n"}),
    CaseName<WriteCase>);

TEST_F(IniFileTest, WrittenValueReadsBack) {
  TIniFile ini(path_);
  ini.WriteString("files", "input", "/tmp/a b/dem.flt");
  ini.WriteString("files", "output", "/tmp/a b/dem.IMG");
  ini.WriteString("files", "input", "/x.flt");
  EXPECT_EQ(ini.ReadString("files", "input", ""), "/x.flt");
  EXPECT_EQ(ini.ReadString("files", "output", ""), "/tmp/a b/dem.IMG");
  // No cache: a second object over the same file sees the same.
  EXPECT_EQ(TIniFile(path_).ReadString("FILES", "OUTPUT", ""), "/tmp/a b/dem.IMG");
}

TEST_F(IniFileTest, KeepsFileModeAndSymbolicLink) {
  const fs::path real = dir_ / "real.ini";
  std::ofstream(real) << "[files]\ninput=a\n";
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(real, path_);
  TIniFile(path_).WriteString("files", "input", "b");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(Get(), "[files]\ninput=b\n");
  EXPECT_EQ(fs::status(real).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(IniFileTest, UnwritableLocationRaisesWithPath) {
  // A path through a regular file cannot be written even by root.
  std::ofstream(dir_ / "plain") << "x";
  const std::string path = (dir_ / "plain" / "kavrimo.ini").string();
  TIniFile ini(path);
  try {
    ini.WriteString("files", "input", "a");
    FAIL() << "no error raised";
  } catch (const EIniFileException& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
  }
  EXPECT_EQ(ini.ReadString("files", "input", "none"), "none");
}

TEST_F(IniFileTest, ReadOnlyDirectoryOrFileRaisesAndKeepsFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TIniFile ini(path_);
  // A read-only directory without a settings file.
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(ini.WriteString("files", "input", "a"), EIniFileException);
  EXPECT_FALSE(fs::exists(path_));
  fs::permissions(dir_, fs::perms::owner_all);
  // A read-only settings file in a writable directory.
  Put("[files]\ninput=old\n");
  fs::permissions(path_, fs::perms::owner_read);
  EXPECT_THROW(ini.WriteString("files", "input", "new"), EIniFileException);
  EXPECT_EQ(Get(), "[files]\ninput=old\n");
  EXPECT_EQ(FilesInDir(), 1);
}

TEST_F(IniFileTest, WritableFileInReadOnlyDirectoryIsRewritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  Put("[files]\ninput=old\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  TIniFile(path_).WriteString("files", "input", "new");
  EXPECT_EQ(Get(), "[files]\ninput=new\n");
}

}  // namespace
}  // namespace kavrimo
