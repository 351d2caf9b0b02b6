#include "platform/PathNames.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

TEST(PathNames, ChangeFileExtReplacesOnlyTheFileNamesExtension) {
  struct Case {
    std::string_view path, ext, expected;
  };
  const Case cases[] = {
      {"/in/bon001.bon", ".rep", "/in/bon001.rep"},
      {"/in/lib.x.so", "_Log.txt", "/in/lib.x_Log.txt"},  // only the last '.' counts
      {"/in.d/prog", ".rep", "/in.d/prog.rep"},           // a '.' in a folder is no extension
      {"/in.d/", ".rep", "/in.d/.rep"},                   // no file name: appended
      {"bon001", ".rep", "bon001.rep"},
      {".bon", ".rep", ".rep"},  // a leading '.' starts the extension
      {"/in/.bon", ".rep", "/in/.rep"},
      {"name.", ".rep", "name.rep"},
      {"bon001.bon", "", "bon001"},  // "" removes it
      {"", ".rep", ".rep"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.expected) << c.path << " " << c.ext;
}

TEST(PathNames, JoinPathPutsOneSlashBetween) {
  struct Case {
    std::string_view folder, name, expected;
  };
  const Case cases[] = {
      {"/var/bon", "a.bon", "/var/bon/a.bon"},
      {"/var/bon/", "a.bon", "/var/bon/a.bon"},  // an existing '/' is not doubled
      {"/", "a.bon", "/a.bon"},
      {"", "a.bon", "a.bon"},  // the current folder
      {"bon", "", "bon/"},
      {"", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.expected) << c.folder << " " << c.name;
  EXPECT_EQ(WithSlash("/var/bon"), "/var/bon/");
  EXPECT_EQ(WithSlash("/var/bon/"), "/var/bon/");
  EXPECT_EQ(WithSlash(""), "");
}

TEST(PathNames, TheRulesHoldForWideCharactersToo) {
  EXPECT_EQ(FileExtStart(std::u16string_view(u"/\u0432.d/\u0431\u043E\u043D.bon")), 8u);
  EXPECT_EQ(FileExtStart(std::u16string_view(u"/\u0432.d/\u0431\u043E\u043D")), 8u);
  EXPECT_TRUE(NeedsSeparator(std::u16string_view(u"/\u0432")));
  EXPECT_FALSE(NeedsSeparator(std::u16string_view(u"/\u0432/")));
}

}  // namespace
}  // namespace fp::test
