#include "support/fs/dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::ScopedCwd;
using test::TempTree;

std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer B(const std::string& s) { return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size())); }

std::vector<std::string> Strings(const FileList& list) {
  std::vector<std::string> out;
  for (const narrow_buffer& each : list) out.push_back(S(each));
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The exception's code and message, or code -1 when nothing was thrown.
template <class Exp, class F>
std::pair<int, std::string> Catch(F&& f) {
  try {
    f();
  } catch (const Exp& e) {
    return {e.GetCode(), S(e.GetMessage())};
  }
  return {-1, ""};
}

struct PathCase {
  const char* input;
  const char* normalized;
  const char* with_separator;
};

TEST(DirPathTest, NormalizeAndAppendSeparator) {
  const PathCase cases[] = {
      {"a//b\\\\//", "a//b\\\\/", "a//b\\\\/"},  // only trailing runs of "/" shrink
      {"///", "/", "/"},
      {"/", "/", "/"},
      {"a", "a", "a/"},
      {"a\\", "a\\", "a\\/"},  // backslash is a name character
      {"", "", ""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(S(CDir::NormalizePath(B(c.input))), c.normalized) << c.input;
    EXPECT_EQ(S(CDir::AppendSeparator(B(c.input))), c.with_separator) << c.input;
  }
}

struct SplitCase {
  const char* pattern;
  const char* dir;
  const char* name;
};

TEST(DirPathTest, SplitPatternIntoDirAndName) {
  TempTree tree;
  tree.dir("docs");
  ScopedCwd cwd(tree.path());
  const SplitCase cases[] = {
      {"sub/*.txt", "sub/", "*.txt"},
      {"*.txt", "./", "*.txt"},
      {"docs", "docs/", ""},  // an existing folder has no name part
      {"docs/", "docs/", ""},
      {"nosuch/", "nosuch/", ""},
      {"c:", "./", "c:"},  // a colon is an ordinary character
      {"a\\b.txt", "./", "a\\b.txt"},
      {"/", "/", ""},
      {"/x/y/z.c", "/x/y/", "z.c"},
      {"a//b", "a/", "b"},
  };
  for (const SplitCase& c : cases) {
    narrow_buffer dir = B(c.pattern), name = B(c.pattern);
    CDir::GetPathDir(dir);
    CDir::GetPathFilename(name);
    EXPECT_EQ(S(dir), c.dir) << c.pattern;
    EXPECT_EQ(S(name), c.name) << c.pattern;
  }
}

TEST(DirPathTest, FullPathIsResolvedByTextOnly) {
  TempTree tree;
  tree.dir("real");
  tree.dir("real/inner");
  tree.link("real/inner", "link");
  ScopedCwd cwd(tree.path());
  const std::string base = S(CDir::GetPwd());
  ASSERT_EQ(base.back(), '/');
  const struct {
    const char* input;
    std::string full;
  } cases[] = {
      {".", base.substr(0, base.size() - 1)},
      {"./", base},
      {"a/../b", base + "b"},
      {"a//b/./c/", base + "a/b/c/"},
      {"a/.", base + "a"},
      {"link/..", base.substr(0, base.size() - 1)},  // not the link's parent
      {"/..", "/"},
      {"/../../x", "/x"},
      {"/usr//lib/", "/usr/lib/"},
      {"a\\..\\b", base + "a\\..\\b"},
  };
  for (const auto& c : cases) {
    narrow_buffer path = B(c.input);
    CDir::ConvToFullPath(path);
    EXPECT_EQ(S(path), c.full) << c.input;
  }
}

TEST(DirPathTest, EmptyArgumentsThrowCodeTwoBeforeAnyWork) {
  const struct {
    std::pair<int, std::string> got;
    const char* message;
  } cases[] = {
      {Catch<dirExp>([] { narrow_buffer p; CDir::GetPathDir(p); }), "CDir::GetPathDir - nothing to match"},
      {Catch<dirExp>([] { narrow_buffer p; CDir::GetPathFilename(p); }),
       "CDir::GetPathFilename - nothing to match"},
      {Catch<dirExp>([] { CDir::MakeDir(narrow_buffer(), true); }), "CDir::MakeDir - nothing to make"},
      {Catch<dirExp>([] { narrow_buffer p; CDir::ConvToFullPath(p); }),
       "CDir::ConvToFullPath - nothing to convert"},
      {Catch<dirExp>([] { CDir d(narrow_buffer(), false, false); }), "CDir::Open - nothing to open"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.first, 2) << c.message;
    EXPECT_EQ(c.got.second, c.message);
  }
  EXPECT_FALSE(CDir::IsExistingDir(narrow_buffer()));
}

TEST(DirOpenTest, OpenMissingFolderNamesItAndTheCurrentDirectory) {
  TempTree tree;
  ScopedCwd cwd(tree.path());
  const std::string base = S(CDir::GetPwd());
  CDir dir(B("."), false, false);
  EXPECT_EQ(S(dir.GetPath()), base);
  const auto got = Catch<dirExp>([&] { dir.Open(B("nosuch"), false, false); });
  EXPECT_EQ(got.first, 3);
  EXPECT_EQ(got.second, "CDir::Open - error open dir : not exist\n"
                        "  dir to open         = " + base + "nosuch/\n"
                        "  current working dir = " + base + "\n");
  EXPECT_EQ(S(dir.GetPath()), "");  // a failed Open leaves the object empty

  CDir skipped(B("nosuch"), false, true);
  EXPECT_EQ(S(skipped.GetPath()), base + "nosuch/");
}

TEST(DirOpenTest, CreateMakesMissingParentsAndSubDirsNest) {
  TempTree tree;
  CDir dir(B(tree / "a/b/c"), true, false);
  EXPECT_EQ(S(dir.GetPath()), tree / "a/b/c/");
  EXPECT_TRUE(CDir::IsExistingDir(B(tree / "a/b/c")));
  CDir sub(dir, B("d//"), true);
  EXPECT_EQ(S(sub.GetPath()), tree / "a/b/c/d/");
  CDir::MakeDir(B(tree / "a/b"), false);  // existing: no error
}

TEST(DirOpenTest, MakeDirFailureMessage) {
  TempTree tree;
  tree.file("file");
  const std::string target = tree / "file/sub";
  const auto got = Catch<dirExp>([&] { CDir::MakeDir(B(target), false); });
  EXPECT_EQ(got.first, 8);
  EXPECT_EQ(got.second, "CDir::MakeDir - error create dir\n"
                        "  dir to create     = " + target + "\n"
                        "  is recursive job  = false\n"
                        "  system error no   = 20\n"
                        "  system error desc = " + S(GetSysErrorDesc(20)));
}

// A tree: a.txt, .h.txt (hidden), b.TXT, c.dat, sub/x.txt, sub/.y.txt,
// .hid/z.txt, sub/deep/w.txt, folder "dir.txt".
void MakeTree(const TempTree& tree) {
  tree.file("a.txt");
  tree.file(".h.txt");
  tree.file("b.TXT");
  tree.file("c.dat");
  tree.dir("dir.txt");
  tree.dir("sub");
  tree.file("sub/x.txt");
  tree.file("sub/.y.txt");
  tree.dir("sub/deep");
  tree.file("sub/deep/w.txt");
  tree.dir(".hid");
  tree.file(".hid/z.txt");
}

TEST(DirSearchTest, FilesOfOneFolder) {
  TempTree tree;
  MakeTree(tree);
  ScopedCwd cwd(tree.path());
  const std::string base = S(CDir::GetPwd());
  CDir dir(B("."), false, false);
  const struct {
    std::string pattern;
    bool hidden;
    std::vector<std::string> files;
  } cases[] = {
      {"*.txt", true, {base + ".h.txt", base + "a.txt"}},
      {"*.txt", false, {base + "a.txt"}},
      {"*", true, {base + ".h.txt", base + "a.txt", base + "b.TXT", base + "c.dat"}},
      {"", true, {base + ".h.txt", base + "a.txt", base + "b.TXT", base + "c.dat"}},
      {"?.dat", true, {base + "c.dat"}},
      {"sub/*.txt", true, {base + "sub/.y.txt", base + "sub/x.txt"}},
      {"./sub/*.txt", false, {base + "sub/x.txt"}},
      {"sub", true, {base + "sub/.y.txt", base + "sub/x.txt"}},
      {"sub/", false, {base + "sub/x.txt"}},
      {"*.nosuch", true, {}},
      {"dir.txt", true, {}},  // an existing folder: its (no) files
      {tree.path() + "/sub/deep/*", true, {base + "sub/deep/w.txt"}},
  };
  for (const auto& c : cases) {
    FileList list;
    list.push_back(B("keep"));
    const std::uint32_t size = dir.GetAllFiles(list, B(c.pattern), false, c.hidden, true);
    EXPECT_EQ(size, list.size());
    ASSERT_EQ(S(list[0]), "keep") << "earlier entries stay";
    list.erase(list.begin());
    EXPECT_EQ(Sorted(Strings(list)), c.files) << c.pattern;
  }
}

TEST(DirSearchTest, TwoPatternsMatchingOneFileListItTwice) {
  TempTree tree;
  MakeTree(tree);
  CDir dir(B(tree.path()), false, false);
  FileList list;
  dir.GetAllFiles(list, B("*.txt"), false, false, true);
  EXPECT_EQ(dir.GetAllFiles(list, B("a*"), false, false, true), 2u);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{tree / "a.txt", tree / "a.txt"}));
}

TEST(DirSearchTest, MissingFolderInPatternThrowsNotExist) {
  TempTree tree;
  CDir dir(B(tree.path()), false, false);
  FileList list;
  const auto got = Catch<dirExp>([&] { dir.GetAllFiles(list, B("nosuch/*.txt"), true, true, true); });
  EXPECT_EQ(got.first, 3);
  EXPECT_EQ(got.second.rfind("CDir::Open - error open dir : not exist\n"
                             "  dir to open         = " + tree.path() + "/nosuch/\n", 0), 0u)
      << got.second;
}

TEST(DirSearchTest, RecursionIsDepthFirstPreOrder) {
  TempTree tree;
  MakeTree(tree);
  tree.dir("sub/deep/deeper");
  tree.file("sub/deep/deeper/v.txt");
  tree.dir("other");
  tree.file("other/o.txt");
  CDir dir(B(tree.path()), false, false);

  FileList folders;
  dir.GetAllSubDirs(folders, B("*"), true, true, false, false);
  const std::vector<std::string> got = Strings(folders);
  EXPECT_EQ(Sorted(got), (std::vector<std::string>{tree / ".hid", tree / "dir.txt", tree / "other",
                                                   tree / "sub", tree / "sub/deep",
                                                   tree / "sub/deep/deeper"}));
  // Each folder's sub-tree directly follows it.
  const auto at = [&](const std::string& name) {
    return std::find(got.begin(), got.end(), tree / name) - got.begin();
  };
  EXPECT_EQ(at("sub/deep"), at("sub") + 1);
  EXPECT_EQ(at("sub/deep/deeper"), at("sub") + 2);

  FileList files;
  dir.GetAllFiles(files, B("*.txt"), true, true, false);
  const std::vector<std::string> found = Strings(files);
  ASSERT_EQ(found.size(), 8u);
  // The start folder's files come first, then the folders in walk order.
  EXPECT_EQ(Sorted({found[0], found[1]}), (std::vector<std::string>{tree / ".h.txt", tree / "a.txt"}));
  const auto pos = [&](const std::string& name) {
    return std::find(found.begin(), found.end(), tree / name) - found.begin();
  };
  EXPECT_LT(pos("sub/x.txt"), pos("sub/deep/w.txt"));
  EXPECT_LT(pos("sub/deep/w.txt"), pos("sub/deep/deeper/v.txt"));
  EXPECT_EQ(at("sub") < at("other"), pos("sub/x.txt") < pos("other/o.txt"));
}

TEST(DirSearchTest, HiddenFoldersAreNeitherListedNorDescendedWithoutIncludeHidden) {
  TempTree tree;
  MakeTree(tree);
  CDir dir(B(tree.path()), false, false);
  FileList files;
  dir.GetAllFiles(files, B("*.txt"), true, false, false);
  EXPECT_EQ(Sorted(Strings(files)),
            (std::vector<std::string>{tree / "a.txt", tree / "sub/deep/w.txt", tree / "sub/x.txt"}));

  FileList dots;
  dir.GetAllSubDirs(dots, B("*"), false, false, true, false);
  EXPECT_EQ(Sorted(Strings(dots)), (std::vector<std::string>{tree / ".", tree / "..", tree / "dir.txt",
                                                             tree / "sub"}));
}

TEST(DirSearchTest, SymbolicLinksAreNeitherListedNorFollowedSoCyclesEnd) {
  TempTree tree;
  tree.dir("a");
  tree.file("a/f.txt");
  tree.link("..", "a/up");          // cycle
  tree.link(tree.path(), "a/abs");  // cycle by absolute path
  tree.link("f.txt", "a/flink.txt");
  tree.link("nowhere", "a/dangling.txt");
  CDir dir(B(tree.path()), false, false);

  FileList files;
  dir.GetAllFiles(files, B("*"), true, true, false);
  EXPECT_EQ(Strings(files), (std::vector<std::string>{tree / "a/f.txt"}));
  FileList folders;
  dir.GetAllSubDirs(folders, B("*"), true, true, false, false);
  EXPECT_EQ(Strings(folders), (std::vector<std::string>{tree / "a"}));
}

TEST(DirSearchTest, UnlistableSubFolderIsSkippedOnlyWithIgnoreErrors) {
  TempTree tree;
  tree.dir("a");
  tree.file("a/a.txt");
  tree.dir("locked");
  tree.dir("locked/inner");
  tree.file("locked/inner/l.txt");
  tree.dir("z");
  tree.file("z/z.txt");
  ASSERT_EQ(::chmod((tree / "locked").c_str(), 0711), 0);
  const test::ChildResult result = test::RunInChild(
      [&] {
        std::string out;
        CDir dir(B(tree.path()), false, false);
        FileList files;
        dir.GetAllFiles(files, B("*.txt"), true, true, true);
        for (const std::string& each : Sorted(Strings(files))) out += each + ";";
        FileList strict;
        const auto got = Catch<dirExp>([&] { dir.GetAllFiles(strict, B("*.txt"), true, true, false); });
        return out + "|" + std::to_string(got.first) + "|" + got.second;
      },
      true);
  if (result.status == 99) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(result.status, 0);
  const std::string locked = tree / "locked/";
  EXPECT_EQ(result.output,
            tree / "a/a.txt" + ";" + tree / "z/z.txt" + ";|20|" +
                "CDir::GetAllSubDirs - error init first find\n"
                "  base dir          = " + locked + "\n"
                "  dir pattern       = *\n"
                "  system error no   = 13\n"
                "  system error desc = " + S(GetSysErrorDesc(13)));
}

}  // namespace
}  // namespace Velk
