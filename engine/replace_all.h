// The six replace-all loops: literal, literal ignoring ASCII case, and
// regular expression, each in place (the text is edited) and expanding (the
// result is built in a second buffer, the text is only read). Matches are
// replaced left to right without overlap; replacement text is never searched
// again. Each returns the number of replacements.
//
// Literal replacements are inserted byte for byte. A regular-expression
// template is taken by value, translated with the control escapes when asked
// and expanded for every match (expand_template.h). After an empty match the
// search moves on by one byte; the two regex loops differ only in how they
// decide "not at line beginning" after an empty match.
//
// Errors: std::bad_alloc from the buffers; an empty or failed Matcher simply
// matches nothing.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "support/core/basic_buffer.h"

namespace Velk {

std::uint32_t replace_literal(narrow_buffer& text, const narrow_buffer& find,
                              const narrow_buffer& replacement, std::uint32_t start,
                              bool replace_all);
std::uint32_t ireplace_literal(narrow_buffer& text, const narrow_buffer& find,
                               const narrow_buffer& replacement, std::uint32_t start,
                               bool replace_all);
std::uint32_t replace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                     const narrow_buffer& find,
                                     const narrow_buffer& replacement, std::uint32_t start);
std::uint32_t ireplace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                      const narrow_buffer& find,
                                      const narrow_buffer& replacement, std::uint32_t start);

std::uint32_t replace_regex(narrow_buffer& text, const Matcher& matcher, narrow_buffer templ,
                            bool notbol, bool noteol, bool translate_escapes);
std::uint32_t replace_regex_expand(const narrow_buffer& text, narrow_buffer& output,
                                   const Matcher& matcher, narrow_buffer templ, bool notbol,
                                   bool noteol, bool translate_escapes);

// Bytes to reserve for the output of a literal expanding loop over n bytes
// with find length f and replacement length r: n when r <= f, else
// n + n*(r/f)/70 (a replacement 70 times the find length reserves 2n).
std::uint32_t estimate_output_size(std::uint32_t n, std::uint32_t f, std::uint32_t r);

}  // namespace Velk
