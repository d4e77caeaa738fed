// Colors for a diff on a terminal, as git colors its diffs: file headers
// bold, hunk headers cyan, removed lines red, added lines green, context
// and everything else plain. A thin layer over finished diff text: the
// diff is built without colors and colored, when asked, line by line.
//
// Which lines are which is read from the diff itself: the counts of each
// "@@ -a,b +c,d @@" header say how many body lines follow, so a removed
// line that begins "--" is never taken for a file header.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

// The color escape sequences (SGR) used, each ended by kColorReset.
inline constexpr const char kColorMeta[] = "\033[1m";
inline constexpr const char kColorFrag[] = "\033[36m";
inline constexpr const char kColorOld[] = "\033[31m";
inline constexpr const char kColorNew[] = "\033[32m";
inline constexpr const char kColorReset[] = "\033[m";

// Appends diff to out with each header, removed and added line colored;
// the color ends before the line's line feed.
void AppendColoredDiff(narrow_buffer& out, const narrow_buffer& diff);

// When to color: "-color:auto" (the default), "-color:always" or
// "-color:never".
enum class ColorChoice { automatic, always, never };

// Whether output to a terminal-or-not is colored under choice: automatic
// colors a terminal unless NO_COLOR asks not to.
bool UseColors(ColorChoice choice, bool to_terminal, bool no_color_requested);

}  // namespace Velk
