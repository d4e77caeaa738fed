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
// CRLF text comes through byte for byte; so do NUL bytes (both "patch" and
// "git apply" take them), so a binary file's change replays too.
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

// name as "git diff" writes it: as it is, or, when it holds a blank, a
// quote, a backslash, a control byte or a byte above 0x7F, between double
// quotes with those bytes C-escaped (\t, \n, \", \\, \303...). "patch" and
// "git apply" read both forms, and no name can add a line to a diff.
narrow_buffer QuoteDiffName(const narrow_buffer& name);

// The NAME of a file in a diff, quoted by QuoteDiffName: its path relative
// to current_folder (a full folder path ending in "/") when the file lies
// below it, so that "patch -p0" run there finds it; its full name
// otherwise.
narrow_buffer DiffName(const narrow_buffer& full_name, const narrow_buffer& current_folder);

}  // namespace Velk
