// The preview of a rewrite: a unified diff of one input's old and new text,
// built from the replacement log of the loop that made the new text rather
// than by comparing the two texts. Only the lines around each replacement
// are looked at; the one pass over the rest of the text counts line feeds
// to number the lines.
//
// The output has the form "diff -u" writes (without time stamps): the lines
// "--- NAME" and "+++ NAME", then hunks "@@ -a,b +c,d @@" with three lines
// of context; hunks whose context would touch or overlap are one hunk, and
// "\ No newline at end of file" follows a last line that has no line feed.
// Lines end at "\n" only, so a "\r" is an ordinary byte of its line and
// CRLF text comes through byte for byte.
//
// Within the lines that a run of replacements touches, the lines equal at
// its start and at its end are shown as context; the rest as removed lines
// followed by added lines. Replacements that leave their bytes as they were
// change nothing and are not shown.
#pragma once

#include <cstdint>

#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// The name a diff gives standard input.
inline constexpr const char kStandardInputDiffName[] = "(standard input)";

// Appends the diff that turns original into result. log: the records of the
// replace-all loop that made result from original, in order, with ranges
// that do not overlap. Appends nothing when no replacement changed a byte.
void AppendUnifiedDiff(narrow_buffer& out, const narrow_buffer& name,
                       const narrow_buffer& original, const narrow_buffer& result,
                       const ReplacementLog& log);

// True when text holds a NUL byte; such an input is shown by
// AppendBinaryNotice instead of a diff.
bool IsBinaryText(const narrow_buffer& text);

// True when at least one replacement of log made result differ from
// original.
bool ChangesText(const narrow_buffer& original, const narrow_buffer& result,
                 const ReplacementLog& log);

// Appends "Binary file NAME would change (N replacements)" and a line feed.
void AppendBinaryNotice(narrow_buffer& out, const narrow_buffer& name,
                        std::uint64_t count);

// The NAME of a file in a diff: its path relative to current_folder (a full
// folder path ending in "/") when the file lies below it, so that "patch
// -p0" run there finds it; its full name otherwise.
narrow_buffer DiffName(const narrow_buffer& full_name, const narrow_buffer& current_folder);

}  // namespace Velk
