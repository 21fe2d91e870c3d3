// Where the programs find the template and the settings file: beside the executable, in an installed
// prefix, and the user's configuration folder as the environment names it.
#include "app/program_files/program_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/files.h"

namespace kavrimo {
namespace {

using testing_support::TempDir;
using testing_support::WriteText;

TEST(ProgramFilesTest, LookupOrder) {
  const struct {
    const char* name;
    bool beside, shared;     // which templates exist: <root>/bin/header.bin, <root>/share/kavrimo/header.bin
    const char *xdg, *home;  // the environment
    const char *template_path, *settings_path;  // expected; "@" stands for the root folder
    bool in_user_folder;
  } cases[] = {
      {"portable copy wins over an installed template", true, true, "/x/cfg", "/h", "@/bin/header.bin",
       "@/bin/kavrimo.ini", false},
      {"installed copy, XDG_CONFIG_HOME", false, true, "/x/cfg", "/h", "@/share/kavrimo/header.bin",
       "/x/cfg/kavrimo/kavrimo.ini", true},
      {"installed copy, XDG_CONFIG_HOME unset", false, true, "", "/h/", "@/share/kavrimo/header.bin",
       "/h/.config/kavrimo/kavrimo.ini", true},
      {"relative XDG_CONFIG_HOME is ignored", false, true, "cfg", "/h", "@/share/kavrimo/header.bin",
       "/h/.config/kavrimo/kavrimo.ini", true},
      {"no template anywhere: the missing one beside", false, false, "/x/cfg/", "/h", "@/bin/header.bin",
       "/x/cfg/kavrimo/kavrimo.ini", true},
      {"no usable home: settings beside", false, true, "", "home", "@/share/kavrimo/header.bin", "@/bin/kavrimo.ini",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    std::filesystem::create_directories(root.Path() / "bin");
    std::filesystem::create_directories(root.Path() / "share/kavrimo");
    if (c.beside) WriteText(root.File("bin/header.bin"), "t");
    if (c.shared) WriteText(root.File("share/kavrimo/header.bin"), "t");
    const auto expand = [&](std::string text) {
      if (text.front() == '@') text.replace(0, 1, root.Path().string());
      return text;
    };
    const ProgramFiles files = LocateProgramFiles(root.File("bin") + "/", {c.xdg, c.home});
    EXPECT_EQ(files.template_path, expand(c.template_path));
    EXPECT_EQ(files.settings_path, expand(c.settings_path));
    EXPECT_EQ(files.settings_in_user_folder, c.in_user_folder);
    EXPECT_FALSE(std::filesystem::exists(root.File("bin/kavrimo.ini"))) << "looking created a file";
  }
}

}  // namespace
}  // namespace kavrimo
