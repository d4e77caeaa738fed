// The "-diff" preview of one input: its unified diff (unified_diff.h).
// Nothing is produced for an input that no replacement changed.
#pragma once

#include <cstdint>

#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// Appends the preview to out. original: the input as read; result: the
// text a rewrite would write; log: the replacements that made result;
// count: their number.
void AppendPreview(narrow_buffer& out, const narrow_buffer& name, const narrow_buffer& original,
                   const narrow_buffer& result, const ReplacementLog& log, std::uint64_t count);

}  // namespace Velk
