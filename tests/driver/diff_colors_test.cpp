#include "driver/diff_colors.h"

#include <gtest/gtest.h>

#include <string>

namespace Velk {
namespace {

std::string Colored(const std::string& diff) {
  narrow_buffer out;
  AppendColoredDiff(out, narrow_buffer(diff.c_str()));
  return std::string(out.c_str(), out.length());
}

std::string Paint(const char* color, const std::string& line) {
  return color + line + kColorReset + "\n";
}

TEST(DiffColors, HeadersAndChangedLinesAreColoredByTheirPlaceInTheHunk) {
  // Removed and added lines that look like file or hunk headers stay what
  // the hunk's counts make them.
  const std::string diff =
      "--- a.txt\n+++ a.txt\n"
      "@@ -1,3 +1,3 @@\n ctx\n--- x\n+++ y\n ctx\n"
      "@@ -9 +9,2 @@\n-@@ -1 +1 @@\n+new\n+last\n\\ No newline at end of file\n"
      "Binary file b.bin would change (2 replacements)\n";
  EXPECT_EQ(Colored(diff),
            Paint(kColorMeta, "--- a.txt") + Paint(kColorMeta, "+++ a.txt") +
                Paint(kColorFrag, "@@ -1,3 +1,3 @@") + " ctx\n" + Paint(kColorOld, "--- x") +
                Paint(kColorNew, "+++ y") + " ctx\n" + Paint(kColorFrag, "@@ -9 +9,2 @@") +
                Paint(kColorOld, "-@@ -1 +1 @@") + Paint(kColorNew, "+new") +
                Paint(kColorNew, "+last") + "\\ No newline at end of file\n" +
                "Binary file b.bin would change (2 replacements)\n");
  // A hunk that only adds ("-0,0") or only removes lines.
  EXPECT_EQ(Colored("@@ -0,0 +1 @@\n+a\n--- n\n"),
            Paint(kColorFrag, "@@ -0,0 +1 @@") + Paint(kColorNew, "+a") +
                Paint(kColorMeta, "--- n"));
  EXPECT_EQ(Colored(""), "");
}

TEST(DiffColors, WhenToColor) {
  struct Row {
    ColorChoice choice;
    bool terminal, no_color, colored;
  } rows[] = {
      {ColorChoice::automatic, true, false, true},  {ColorChoice::automatic, false, false, false},
      {ColorChoice::automatic, true, true, false},  {ColorChoice::always, false, true, true},
      {ColorChoice::never, true, false, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(UseColors(row.choice, row.terminal, row.no_color), row.colored)
        << int(row.choice) << row.terminal << row.no_color;
}

}  // namespace
}  // namespace Velk
