// The two rewrites a regular-expression pattern and template go through:
// aliases ("[:dq:]" and five more, one special character each) and
// escape sequences (backslash and a key, replaced through a table).
//
// The tables are constant: built once during static initialisation (the
// narrow rows are views of string literals, the wide rows owned copies) and
// never changed; narrow and wide copies hold the same rows. An escape table ends with a row whose two texts are empty.
// The rewrites edit their text in place (a view is made private first) and
// throw only std::bad_alloc.
#pragma once

#include <vector>

#include "support/core/basic_buffer.h"

namespace Velk {

template <class T>
struct ESCAPE_ROW {
  basic_buffer<T> replacement;
  basic_buffer<T> key;
};
template <class T>
using basic_escape_table = std::vector<ESCAPE_ROW<T>>;
using escape_table = basic_escape_table<char>;
using wide_escape_table = basic_escape_table<char16_t>;

struct ALIAS_ROW {
  narrow_buffer alias;
  narrow_buffer character;
};
using alias_table_type = std::vector<ALIAS_ROW>;

// "[:dq:]", "[:sq:]", "[:nl:]", "[:rt:]", "[:tb:]", "[:bs:]" in this order.
const alias_table_type& alias_table();
// Perl-style classes (\w, \d, ...) and the control escapes: for find patterns.
const escape_table& class_escape_table();
const wide_escape_table& wide_class_escape_table();
// \r \n \b \t \v \" \' only: for replacement templates.
const escape_table& control_escape_table();
const wide_escape_table& wide_control_escape_table();

// Replaces every alias by its character, left to right.
void translate_aliases(narrow_buffer& text);

// Replaces each esc+key of the table by the row's replacement; inserted text
// is never translated again. A doubled esc is kept (keep_doubled) or
// reduced to one; an esc that starts no key is removed (drop_unlisted) or
// kept.
void translate_escapes(narrow_buffer& text, char esc, const escape_table& table,
                       bool drop_unlisted, bool keep_doubled);
void translate_escapes(wide_buffer& text, char16_t esc, const wide_escape_table& table,
                       bool drop_unlisted, bool keep_doubled);

}  // namespace Velk
