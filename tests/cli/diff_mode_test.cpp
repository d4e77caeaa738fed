// End-to-end runs of the "-diff" preview: the diff it writes, applied with
// patch to the untouched tree, must give exactly the files that the same
// command without "-diff" writes, and nothing in the tree may change.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_binary.h"
#include "tree_state.h"

namespace rplc_test {
namespace {

std::string Numbered(int count, const std::string& feed = "\n") {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "line" + std::to_string(i) + feed;
  return text;
}

struct PREVIEW_CASE {
  const char* label;
  Files files;
  std::vector<std::string> args;  // the command without "-diff"
};

std::vector<PREVIEW_CASE> Cases() {
  const std::string sixty = Numbered(60);
  return {
      {"several hunks", {{"a.txt", sixty}}, {"*.txt", "-r:^line(5|25|45)$", "-t:X"}},
      {"first and last line", {{"a.txt", sixty}}, {"*.txt", "-r:^line(1|60)$", "-t:X"}},
      {"adjacent and six apart: merged", {{"a.txt", sixty}},
       {"*.txt", "-r:^line(10|11|18|30|37)$", "-t:X"}},
      {"crlf text", {{"a.txt", Numbered(20, "\r\n")}}, {"*.txt", "-f:line7", "-t:seven"}},
      {"crlf line ends removed", {{"a.txt", Numbered(20, "\r\n")}},
       {"*.txt", "-rnnl:3\r\n", "-t:3"}},
      {"no final line feed", {{"a.txt", "x\ny\nz"}, {"b.txt", "x\ny\nz"}},
       {"*.txt", "-f:z", "-t:Z"}},
      {"final line feed removed", {{"a.txt", "x\ny\n"}}, {"*.txt", "-rnnl:\n$", "-t"}},
      {"empty matches at line starts", {{"a.txt", "a\nb\nc\n"}}, {"*.txt", "-r:^", "-t:# "}},
      {"empty matches everywhere", {{"a.txt", "xxab\nb\n"}}, {"*.txt", "-r:x*", "-t:-"}},
      {"multi-line matches with -rnnl", {{"a.txt", sixty}},
       {"*.txt", "-rnnl:line2[:nl:]line3[:nl:]", "-t:two and three[:nl:]"}},
      {"one line to several", {{"a.txt", sixty}},
       {"*.txt", "-r:^line40$", "-t:a[:nl:]b[:nl:]c"}},
      {"everything deleted", {{"a.txt", "abc\nabc\n"}}, {"*.txt", "-rnnl:.*", "-t"}},
      {"sub-folders", {{"a.txt", "one\n"}, {"sub/b.txt", "one two\n"}, {"sub/c.log", "one\n"}},
       {"-s", "*.txt", "-fic:ONE", "-t:1", "-frc", "-trc"}},
      {"in place", {{"a.txt", sixty}, {"sub/b.txt", sixty}},
       {"-s", "*.txt", "-r:^line(1|2|30|60)$", "-t:X", "-noexp"}},
      {"ignore case in place", {{"a.txt", "Teh teh TEH\n"}}, {"*.txt", "-fic:teh", "-t:the", "-noexp"}},
  };
}

TEST(DiffModeTest, PatchGivesWhatARewriteWrites) {
  for (const PREVIEW_CASE& row : Cases()) {
    SCOPED_TRACE(row.label);
    TempDir previewed, rewritten, patches;
    Fill(previewed, row.files);
    Fill(rewritten, row.files);
    const auto before = TreeState(previewed.path());

    std::vector<std::string> args = row.args;
    args.push_back("-diff");
    const RunResult preview = RunRplc(args, "", previewed.path());
    const RunResult rewrite = RunRplc(row.args, "", rewritten.path());
    EXPECT_EQ(preview.status, rewrite.status);
    EXPECT_EQ(preview.err, rewrite.err);
    EXPECT_TRUE(TreeState(previewed.path()) == before) << "the preview changed the tree";
    ASSERT_NE(Contents(rewritten.path()), Contents(previewed.path())) << "nothing to preview";
    ASSERT_EQ(preview.out.rfind("--- ", 0), 0u) << preview.out;

    const std::string patch = patches.Write("p.diff", preview.out);
    ASSERT_EQ(Shell(previewed.path(), "patch -p0 -F0 --batch -i '" + patch + "'"), 0)
        << preview.out;
    EXPECT_EQ(Contents(previewed.path()), Contents(rewritten.path())) << preview.out;

    TempDir applied;
    Fill(applied, row.files);
    ASSERT_EQ(Shell(applied.path(), "git apply -p0 --whitespace=nowarn '" + patch + "'"), 0)
        << preview.out;
    EXPECT_EQ(Contents(applied.path()), Contents(rewritten.path()));
  }
}

TEST(DiffModeTest, CountLinesFollowEachDiffAndTheTotalEnds) {
  TempDir dir;
  Fill(dir, {{"a.txt", "teh\n"}, {"b.txt", "none\n"}, {"c.txt", "x teh teh\n"}});
  const RunResult r = RunRplc({"a.txt", "b.txt", "c.txt", "-f:teh", "-t:the", "-frc", "-trc",
                               "-diff"},
                              "", dir.path());
  EXPECT_EQ(r.out,
            "--- a.txt\n+++ a.txt\n@@ -1 +1 @@\n-teh\n+the\n"
            "\n## 1 replacements in file: " + dir.path() + "/a.txt\n"
            "--- c.txt\n+++ c.txt\n@@ -1 +1 @@\n-x teh teh\n+x the the\n"
            "\n## 2 replacements in file: " + dir.path() + "/c.txt\n"
            "\n## total replaced 3 matchs\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.Read("a.txt"), "teh\n");
}

TEST(DiffModeTest, StandardInputIsNamedAndNotEchoed) {
  const RunResult r = RunRplc({"-f:b", "-t:B", "-trc", "-DIFF"}, "a\nb\n");
  EXPECT_EQ(r.out,
            "--- (standard input)\n+++ (standard input)\n@@ -1,2 +1,2 @@\n a\n-b\n+B\n"
            "\n## total replaced 1 matchs\n");
  EXPECT_EQ(r.status, 0);
  // No replacement: nothing at all, not even the text.
  EXPECT_EQ(RunRplc({"-f:z", "-t:Z", "/diff"}, "a\nb\n").out, "");
}

TEST(DiffModeTest, BinaryFilesWorkedAreShownByteForByte) {
  TempDir dir;
  Fill(dir, {{"x.bin", std::string("ab\0ab\n", 6)}, {"y.bin", std::string("ab\0", 3)}});
  const auto before = TreeState(dir.path());
  // Found by a wildcard, binary files are left alone, in the preview too.
  RunResult r = RunRplc({"*.bin", "-f:b", "-t:B", "-frc", "-diff"}, "", dir.path());
  EXPECT_EQ(r.out, "\n## skipped binary file: " + dir.path() + "/x.bin\n"
                   "\n## skipped binary file: " + dir.path() + "/y.bin\n");
  EXPECT_EQ(r.status, 0);
  r = RunRplc({"*.bin", "-f:b", "-t:B", "-diff", "-binary"}, "", dir.path());
  EXPECT_EQ(r.out, std::string("--- x.bin\n+++ x.bin\n@@ -1 +1 @@\n-ab\0ab\n+aB\0aB\n"
                               "--- y.bin\n+++ y.bin\n@@ -1 +1 @@\n-ab\0\n"
                               "\\ No newline at end of file\n+aB\0\n"
                               "\\ No newline at end of file\n",
                               144));
  EXPECT_TRUE(TreeState(dir.path()) == before);
  // Bytes replaced by the same bytes change nothing and show nothing.
  EXPECT_EQ(RunRplc({"x.bin", "-f:b", "-t:b", "-diff"}, "", dir.path()).out, "");
}

TEST(DiffModeTest, NamesOutsideTheCurrentFolderStayFull) {
  TempDir dir;
  Fill(dir, {{"in/a.txt", "x\n"}, {"out/b.txt", "x\n"}});
  const RunResult r =
      RunRplc({"*.txt", "../out/*.txt", "-f:x", "-t:y", "-diff"}, "", dir.path() + "/in");
  EXPECT_EQ(r.out, "--- a.txt\n+++ a.txt\n@@ -1 +1 @@\n-x\n+y\n"
                   "--- " + dir.path() + "/out/b.txt\n+++ " + dir.path() +
                       "/out/b.txt\n@@ -1 +1 @@\n-x\n+y\n");
}

TEST(DiffModeTest, StdoutWithDiffIsRefused) {
  TempDir dir;
  Fill(dir, {{"a.txt", "teh\n"}});
  const auto before = TreeState(dir.path());
  const RunResult r = RunRplc({"*.txt", "-f:teh", "-t:the", "-stdout", "-diff"}, "", dir.path());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("[ERROR] ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(TreeState(dir.path()) == before);
}

}  // namespace
}  // namespace rplc_test
