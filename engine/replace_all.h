// The six replace-all loops: literal, literal ignoring ASCII case, and
// regular expression, each in place (the text is edited) and expanding (the
// result is built in a second buffer, the text is only read). Matches are
// replaced left to right without overlap; replacement text is never searched
// again. Each returns the number of replacements.
//
// Literal replacements are inserted byte for byte. A regular-expression
// template is taken by value, translated with the control escapes when asked
// and expanded for every match (expand_template.h). After an empty match the
// search moves on by one byte. Whether "^" may match where a search resumes
// is judged from the original text, so both memory modes give the same
// result; notbol says whether the text's own start is a line beginning.
//
// log, when given, receives one record per replacement, in order: the
// matched bytes in the text and the bytes that replaced them in the result
// (replacement_log.h). It is only appended to.
//
// Errors: std::bad_alloc from the buffers; an empty or failed Matcher simply
// matches nothing.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

std::uint64_t replace_literal(narrow_buffer& text, const narrow_buffer& find,
                              const narrow_buffer& replacement, std::uint32_t start,
                              bool replace_all, ReplacementLog* log = nullptr);
std::uint64_t ireplace_literal(narrow_buffer& text, const narrow_buffer& find,
                               const narrow_buffer& replacement, std::uint32_t start,
                               bool replace_all, ReplacementLog* log = nullptr);
std::uint64_t replace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                     const narrow_buffer& find,
                                     const narrow_buffer& replacement, std::uint32_t start,
                                     ReplacementLog* log = nullptr);
std::uint64_t ireplace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                      const narrow_buffer& find,
                                      const narrow_buffer& replacement, std::uint32_t start,
                                     ReplacementLog* log = nullptr);

// How a regular-expression loop reads its text and its template.
struct REPLACE_OPTIONS {
  bool notbol = false;            // the text's start is no line beginning
  bool noteol = false;            // the text's end is no line end
  bool translate_escapes = true;  // the template's control escapes (\n, \t, ...)
};

std::uint64_t replace_regex(narrow_buffer& text, const Matcher& matcher, narrow_buffer templ,
                            const REPLACE_OPTIONS& options = {}, ReplacementLog* log = nullptr);
std::uint64_t replace_regex_expand(const narrow_buffer& text, narrow_buffer& output,
                                   const Matcher& matcher, narrow_buffer templ,
                                   const REPLACE_OPTIONS& options = {},
                                   ReplacementLog* log = nullptr);

// Bytes to reserve for the output of a literal expanding loop over n bytes
// with find length f and replacement length r: n when r <= f, else
// n + n*(r/f)/70 (a replacement 70 times the find length reserves 2n).
std::uint32_t estimate_output_size(std::uint32_t n, std::uint32_t f, std::uint32_t r);

}  // namespace Velk
