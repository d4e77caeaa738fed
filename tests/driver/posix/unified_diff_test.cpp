#include "driver/unified_diff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

// One replacement: the bytes [start, start + length) of the original become
// text.
struct EDIT {
  std::size_t start;
  std::size_t length;
  std::string text;
};

struct REWRITE {
  std::string result;
  ReplacementLog log;
};

// Applies edits (in order, not overlapping) the way a replace-all loop does
// and records each in the log.
REWRITE Apply(const std::string& original, const std::vector<EDIT>& edits) {
  REWRITE rewrite;
  std::size_t copied = 0;
  for (const EDIT& edit : edits) {
    rewrite.result.append(original, copied, edit.start - copied);
    rewrite.log.push_back({std::uint32_t(edit.start), std::uint32_t(edit.length),
                           std::uint32_t(rewrite.result.size()), std::uint32_t(edit.text.size())});
    rewrite.result += edit.text;
    copied = edit.start + edit.length;
  }
  rewrite.result.append(original, copied, std::string::npos);
  return rewrite;
}

// Every occurrence of find, left to right; an empty find matches at every
// line start.
std::vector<EDIT> Literal(const std::string& text, const std::string& find,
                          const std::string& replacement) {
  std::vector<EDIT> edits;
  if (find.empty()) {
    for (std::size_t pos = 0; pos < text.size(); pos = text.find('\n', pos) + 1) {
      edits.push_back({pos, 0, replacement});
      if (text.find('\n', pos) == std::string::npos) break;
    }
    return edits;
  }
  for (std::size_t pos = text.find(find); pos != std::string::npos;
       pos = text.find(find, pos + find.size()))
    edits.push_back({pos, find.size(), replacement});
  return edits;
}

// "line1\n" up to "lineN\n".
std::string Lines(int count, const std::string& feed = "\n") {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "line" + std::to_string(i) + feed;
  return text;
}

std::string Diff(const std::string& original, const REWRITE& rewrite,
                 const std::string& name = "f.txt") {
  narrow_buffer out;
  AppendUnifiedDiff(out, narrow_buffer(name.c_str()),
                    narrow_buffer(original.data(), narrow_buffer::size_type(original.size())),
                    narrow_buffer(rewrite.result.data(),
                                  narrow_buffer::size_type(rewrite.result.size())),
                    rewrite.log);
  return std::string(out.data() ? out.data() : "", out.length());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs command in folder with its output in a file; returns the exit status
// and the output.
int Shell(const test::TempTree& folder, const std::string& command, std::string& output) {
  const std::string log = folder / "shell.out";
  const int status = std::system(("cd '" + folder.path() + "' && " + command + " >'" + log +
                                  "' 2>&1").c_str());
  output = ReadFile(log);
  return status;
}

struct DIFF_CASE {
  const char* label;
  std::string original;
  std::vector<EDIT> edits;
  bool like_diff_u;  // the hunks are exactly those "diff -u" writes
};

std::vector<DIFF_CASE> Cases() {
  const std::string twenty = Lines(20);
  const std::string crlf = Lines(12, "\r\n");
  const std::string no_feed = Lines(9) + "line10";
  const std::string two_joined = "alpha\nbeta\ngamma\ndelta\n";
  std::string high_bytes;  // bytes near the line feed's value, for the line count
  for (int i = 0; i < 90; ++i) high_bytes += "\x8a\x0b\x09\xff" + std::to_string(i) + "\x7f\n";
  return {
      {"one change in the middle", twenty, Literal(twenty, "line10\n", "LINE10\n"), true},
      {"first line", twenty, Literal(twenty, "line1\n", "first\n"), true},
      {"last line", twenty, Literal(twenty, "line20", "last"), true},
      {"only line, no final feed", "abc", {{1, 1, "X"}}, true},
      {"seven lines apart: two hunks", twenty,
       {{twenty.find("line3\n"), 5, "L3"}, {twenty.find("line11\n"), 6, "L11"}}, true},
      {"six lines apart: one hunk", twenty,
       {{twenty.find("line3\n"), 5, "L3"}, {twenty.find("line10\n"), 6, "L10"}}, true},
      {"adjacent lines: one block", twenty,
       {{twenty.find("line4\n"), 5, "L4"}, {twenty.find("line5\n"), 5, "L5"}}, true},
      {"several on one line", "a b a b a\nc\n", Literal("a b a b a\nc\n", "a", "AA"), true},
      {"several hunks", Lines(100), Literal(Lines(100), "5\n", "five\n"), true},
      {"line numbers past bytes near a line feed", high_bytes,
       Literal(high_bytes, "\xff" "77\x7f", "seventy-seven"), true},
      {"crlf text", crlf, Literal(crlf, "line6", "six"), true},
      {"crlf text, change at the end", crlf, Literal(crlf, "2\r\n", "2"), true},
      {"no final feed, change before", no_feed, Literal(no_feed, "line8", "eight"), true},
      {"no final feed, change in last line", no_feed, Literal(no_feed, "line10", "ten"), true},
      {"final feed added", no_feed, Literal(no_feed, "line10", "line10\n"), true},
      {"final feed removed", twenty, {{twenty.size() - 1, 1, ""}}, true},
      {"empty matches at every line start", Lines(5), Literal(Lines(5), "", "# "), true},
      {"empty match at the very start", twenty, {{0, 0, "new first\n"}}, true},
      {"empty match at the end", twenty, {{twenty.size(), 0, "appended\n"}}, true},
      {"empty match at the end, no final feed", no_feed, {{no_feed.size(), 0, "!"}}, true},
      {"empty match inserting a line mid-file", twenty,
       {{twenty.find("line9\n"), 0, "inserted\n"}}, true},
      {"line feeds removed: lines joined", two_joined, Literal(two_joined, "a\n", "a "), true},
      {"multi-line match to one line", twenty,
       {{twenty.find("line7\n"), 14, "seven-eight\n"}}, true},
      {"one line to several", twenty, Literal(twenty, "line12\n", "a\nb\nc\n"), true},
      {"multi-line match spanning a hunk edge", twenty,
       {{twenty.find("line2\n"), 12, "x"}, {twenty.find("line9\n"), 1, "L"}}, true},
      {"everything deleted", "a\nb\n", {{0, 4, ""}}, true},
      {"unchanged bytes are no change", twenty, Literal(twenty, "line", "line"), true},
      {"unchanged bytes between changes", twenty,
       {{twenty.find("line2\n"), 5, "L2"}, {twenty.find("line9\n"), 4, "line"},
        {twenty.find("line17\n"), 6, "L17"}},
       true},
      // The changed lines share a middle line: shown removed and added again.
      {"multi-line change with an equal line inside", "a\nb\nc\nd\n", {{0, 5, "A\nb\nC"}},
       false},
  };
}

// Checks the diff of one case three ways: it applies with patch (exactly,
// no offset or fuzz) and with git apply, and where the case says so its
// hunks are byte for byte those of diff -u.
::testing::AssertionResult DiffApplies(const DIFF_CASE& row) {
  const REWRITE rewrite = Apply(row.original, row.edits);
  const std::string diff = Diff(row.original, rewrite);
  if (rewrite.result == row.original)
    return diff.empty() ? ::testing::AssertionSuccess()
                        : ::testing::AssertionFailure() << "diff of no change:\n" << diff;
  if (diff.rfind("--- f.txt\n+++ f.txt\n@@ -", 0) != 0)
    return ::testing::AssertionFailure() << "no header:\n" << diff;

  test::TempTree tree;
  WriteFile(tree / "d.patch", diff);
  WriteFile(tree / "f.txt", row.original);
  std::string output;
  if (Shell(tree, "patch -p0 -F0 --batch --no-backup-if-mismatch < d.patch", output) != 0 ||
      output != "patching file f.txt\n")
    return ::testing::AssertionFailure() << "patch: " << output << "diff:\n" << diff;
  if (ReadFile(tree / "f.txt") != rewrite.result)
    return ::testing::AssertionFailure() << "patch result differs; diff:\n" << diff;

  WriteFile(tree / "f.txt", row.original);
  if (Shell(tree, "git apply -p0 --whitespace=nowarn d.patch", output) != 0 ||
      ReadFile(tree / "f.txt") != rewrite.result)
    return ::testing::AssertionFailure() << "git apply: " << output << "diff:\n" << diff;

  if (row.like_diff_u) {
    WriteFile(tree / "f.txt", row.original);
    WriteFile(tree / "g.txt", rewrite.result);
    Shell(tree, "diff -u f.txt g.txt | tail -n +3", output);
    const std::string hunks = diff.substr(diff.find("@@"));
    if (output != hunks)
      return ::testing::AssertionFailure() << "diff -u writes:\n" << output << "we wrote:\n"
                                           << hunks;
  }
  return ::testing::AssertionSuccess();
}

TEST(UnifiedDiffTest, AppliesAndMatchesDiffU) {
  for (const DIFF_CASE& row : Cases()) EXPECT_TRUE(DiffApplies(row)) << row.label;
}

// Random short texts of a few letters, "\r" and "\n" with random edits
// (empty, multi-line, at the ends), one patch for all of them: applying it
// must give every rewritten text exactly.
TEST(UnifiedDiffTest, RandomEditsApply) {
  const char alphabet[] = "ab\n\r\n";
  unsigned seed = 12345;
  const auto next = [&seed](unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  const auto random_text = [&](unsigned max_length) {
    std::string text;
    for (unsigned n = next(max_length + 1); n > 0; --n) text += alphabet[next(sizeof alphabet - 1)];
    return text;
  };

  test::TempTree tree;
  std::string patch;
  std::vector<std::string> results;
  for (int i = 0; i < 300; ++i) {
    const std::string original = random_text(60);
    std::vector<EDIT> edits;
    for (std::size_t pos = next(8); pos <= original.size(); pos += 1 + next(12)) {
      const std::size_t length = std::min<std::size_t>(next(5), original.size() - pos);
      edits.push_back({pos, length, random_text(4)});
      pos += length;
    }
    const REWRITE rewrite = Apply(original, edits);
    const std::string name = "f" + std::to_string(i);
    WriteFile(tree / name, original);
    patch += Diff(original, rewrite, name);
    results.push_back(rewrite.result);
  }
  WriteFile(tree / "all.patch", patch);
  std::string output;
  ASSERT_EQ(Shell(tree, "patch -p0 -F0 --batch --no-backup-if-mismatch < all.patch", output), 0)
      << output;
  EXPECT_EQ(output.find("Hunk"), std::string::npos) << output;
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(ReadFile(tree / ("f" + std::to_string(i))), results[i]) << "f" << i;
}

TEST(UnifiedDiffTest, HunkHeadersOfEmptySides) {
  // An added text to an empty old side, and a text emptied, number the
  // empty side by the line before it.
  EXPECT_EQ(Diff("", Apply("", {{0, 0, "x\n"}})), "--- f.txt\n+++ f.txt\n@@ -0,0 +1 @@\n+x\n");
  EXPECT_EQ(Diff("x\ny", Apply("x\ny", {{0, 3, ""}})),
            "--- f.txt\n+++ f.txt\n@@ -1,2 +0,0 @@\n-x\n-y\n\\ No newline at end of file\n");
}

TEST(UnifiedDiffTest, NulBytesAreOrdinaryBytesOfTheirLines) {
  const std::string text("a\0b\nc\n", 6);
  EXPECT_EQ(Diff(text, Apply(text, {{2, 1, "B"}})),
            std::string("--- f.txt\n+++ f.txt\n@@ -1,2 +1,2 @@\n-a\0b\n+a\0B\n c\n", 49));
}

// Names that "patch" and "git apply" must read back as they are, and
// that must never start a line of their own in a diff.
TEST(UnifiedDiffTest, NamesAreQuotedAsGitQuotesThem) {
  struct {
    std::string name;
    const char* quoted;
  } const rows[] = {
      {"plain/a-b_c.txt", "plain/a-b_c.txt"},
      {"a b.txt", "\"a b.txt\""},
      {"tab\there", "\"tab\\there\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"x\n+++ victim.txt\n@@ -1 +1 @@", "\"x\\n+++ victim.txt\\n@@ -1 +1 @@\""},
      {"cr\r", "\"cr\\r\""},
      {std::string("esc\x1b[2J", 7), "\"esc\\033[2J\""},
      {"del\x7f", "\"del\\177\""},
      {"caf\xc3\xa9", "\"caf\\303\\251\""},
  };
  for (const auto& row : rows) {
    const narrow_buffer name(row.name.data(), narrow_buffer::size_type(row.name.size()));
    EXPECT_STREQ(QuoteDiffName(name).c_str(), row.quoted) << row.name;
  }
}

TEST(UnifiedDiffTest, NameRelativeBelowCurrentFolder) {
  struct {
    const char* folder;
    const char* file;
    const char* name;
  } const rows[] = {
      {"/home/u/", "/home/u/a.txt", "a.txt"},
      {"/home/u/", "/home/u/sub/a.txt", "sub/a.txt"},
      {"/home/u/", "/home/uv/a.txt", "/home/uv/a.txt"},  // a sibling, not below
      {"/home/u/", "/etc/a.txt", "/etc/a.txt"},
      {"/", "/etc/a.txt", "etc/a.txt"},
  };
  for (const auto& row : rows)
    EXPECT_STREQ(DiffName(narrow_buffer(row.file), narrow_buffer(row.folder)).c_str(), row.name)
        << row.file;
}

}  // namespace
}  // namespace Velk
