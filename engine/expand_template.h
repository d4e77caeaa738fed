// The replacement template of the regular-expression finds: "\0" is the
// whole match, "\1" to "\9" the sub-expressions, a backslash before any
// other character yields that character, and a trailing backslash is
// dropped. A reference to an entry the span list does not hold yields
// nothing. Text brought in from the match is never examined again.
//
// The template is read as it is; control escapes and aliases are translated
// before (translate.h). Throws only std::bad_alloc.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "support/core/basic_buffer.h"

namespace Velk {

narrow_buffer expand_template(const narrow_buffer& templ, const narrow_buffer& subject,
                              const SpanList& spans);

// The same expansion into output (cleared first), so that a loop can reuse
// one buffer for every match. subject points at the text the spans index.
void expand_template_into(narrow_buffer& output, const narrow_buffer& templ,
                          const char* subject, const SpanList& spans);

// One more than the highest group number the template refers to (at least 1:
// the whole match is always needed for its position). A search need not
// report more entries than this.
std::uint32_t template_span_need(const narrow_buffer& templ);

}  // namespace Velk
