// File names as text: folders, names, extensions.
#include "runtime/path.h"

#include <gtest/gtest.h>

namespace kavrimo {
namespace {

TEST(ReplaceExtension, ReplacesOnlyAnExtensionOfTheLastNamePart) {
  // clang-format off
  for (const auto& [name, expected] :
       {std::pair{"dem.flt", "dem.hdr"}, {"dem.FLT", "dem.hdr"}, {"dem", "dem.hdr"}, {"a.b.flt", "a.b.hdr"},
        {"old.grids/dem", "old.grids/dem.hdr"}, {"old.grids\\dem", "old.grids\\dem.hdr"}, {"c:dem", "c:dem.hdr"},
        {"dem.", "dem.hdr"}, {"", ".hdr"}}) {
    // clang-format on
    SCOPED_TRACE(name);
    EXPECT_EQ(ReplaceExtension(name, ".hdr"), expected);
  }
}

TEST(PathText, FolderNameJoinAndExtensionCase) {
  // clang-format off
  const struct { const char* path; const char* folder; const char* name; } cases[] = {
      {"a/b/c", "a/b", "c"}, {"c", ".", "c"}, {"/c", "/", "c"}, {"a/", "a", ""}, {"", ".", ""}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FolderOf(c.path), c.folder);
    EXPECT_EQ(NameOf(c.path), c.name);
  }
  EXPECT_EQ(JoinPath("a", "b"), "a/b");
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(WithTrailingSlash(""), "./");
  EXPECT_EQ(WithTrailingSlash("/x"), "/x/");
  EXPECT_TRUE(HasExtension("dem.ASC", ".asc"));
  EXPECT_TRUE(HasExtension(".asc", ".asc"));
  EXPECT_FALSE(HasExtension("asc", ".asc"));
  EXPECT_FALSE(HasExtension("dem.asc.gz", ".asc"));
}

}  // namespace
}  // namespace kavrimo
