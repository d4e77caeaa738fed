#include "engine/translate.h"

#include "engine/replace_all.h"

namespace Velk {
namespace {

// Rows as pairs of literals, in table order; both forms are built from them.
struct ROW_TEXT {
  const char* replacement;
  const char* key;
};

constexpr ROW_TEXT class_rows[] = {
    {"[[:alpha:]]", "a"},    {"[[:lower:]]", "l"},    {"[[:upper:]]", "u"},
    {"[[:space:]]", "s"},    {"[[:digit:]]", "d"},    {"[[:xdigit:]]", "x"},
    {"[[:print:]]", "p"},    {"[0-7]", "o"},          {"[^0-7]", "O"},
    {"[[:alnum:]_]", "w"},   {"[^[:alnum:]_]", "W"},  {"[^[:alpha:]]", "A"},
    {"[^[:lower:]]", "L"},   {"[^[:upper:]]", "U"},   {"[^[:space:]]", "S"},
    {"[^[:digit:]]", "D"},   {"[^[:xdigit:]]", "X"},  {"[^[:print:]]", "P"},
    {"[^[:alpha:]_]", "<"},  {"[^[:alnum:]_]", ">"},
};
constexpr ROW_TEXT control_rows[] = {
    {"\r", "r"}, {"\n", "n"}, {"\b", "b"}, {"\t", "t"},
    {"\v", "v"}, {"\"", "\""}, {"'", "'"},
};

template <class T>
basic_buffer<T> make_text(const char* text) {
  basic_buffer<T> result;
  while (*text) result.push_back(T(static_cast<unsigned char>(*text++)));
  return result;
}
template <>
basic_buffer<char> make_text<char>(const char* text) {
  return narrow_buffer::literal(text);
}

template <class T, std::size_t N>
void add_rows(basic_escape_table<T>& table, const ROW_TEXT (&rows)[N]) {
  for (const ROW_TEXT& row : rows)
    table.push_back({make_text<T>(row.replacement), make_text<T>(row.key)});
}

template <class T>
basic_escape_table<T> make_class_table() {
  basic_escape_table<T> table;
  add_rows(table, class_rows);
  add_rows(table, control_rows);
  table.push_back({});  // terminator
  return table;
}

template <class T>
basic_escape_table<T> make_control_table() {
  basic_escape_table<T> table;
  add_rows(table, control_rows);
  table.push_back({});  // terminator
  return table;
}

const alias_table_type aliases = {
    {narrow_buffer::literal("[:dq:]"), narrow_buffer::literal("\"")},
    {narrow_buffer::literal("[:sq:]"), narrow_buffer::literal("'")},
    {narrow_buffer::literal("[:nl:]"), narrow_buffer::literal("\n")},
    {narrow_buffer::literal("[:rt:]"), narrow_buffer::literal("\r")},
    {narrow_buffer::literal("[:tb:]"), narrow_buffer::literal("\t")},
    {narrow_buffer::literal("[:bs:]"), narrow_buffer::literal("\b")},
};
const escape_table class_table = make_class_table<char>();
const wide_escape_table wide_class_table = make_class_table<char16_t>();
const escape_table control_table = make_control_table<char>();
const wide_escape_table wide_control_table = make_control_table<char16_t>();

template <class T>
void translate(basic_buffer<T>& text, T esc, const basic_escape_table<T>& table,
               bool drop_unlisted, bool keep_doubled) {
  using size_type = typename basic_buffer<T>::size_type;
  size_type pos = text.find(&esc, 0, 1);
  if (pos == basic_buffer<T>::npos) return;
  text.own();
  for (;;) {
    size_type next;
    if (pos + 1 == text.length()) {
      if (drop_unlisted) text.erase(pos, 1);
      return;
    }
    if (text[pos + 1] == esc) {
      if (keep_doubled) {
        next = pos + 2;
      } else {
        text.erase(pos, 1);
        next = pos + 1;
      }
      if (next == text.length()) return;
    } else {
      const ESCAPE_ROW<T>* hit = nullptr;
      for (const ESCAPE_ROW<T>& row : table) {
        if (row.key.empty() && row.replacement.empty()) break;
        if (text.compare(pos + 1, row.key.length(), row.key.c_str(), row.key.length()) == 0) {
          hit = &row;
          break;
        }
      }
      if (hit) {
        text.replace(pos, 1 + hit->key.length(), hit->replacement);
        next = pos + hit->replacement.length();
      } else if (drop_unlisted) {
        text.erase(pos, 1);
        next = pos;
      } else {
        next = pos + 1;
      }
    }
    pos = text.find(&esc, next, 1);
    if (pos == basic_buffer<T>::npos) return;
  }
}

}  // namespace

const alias_table_type& alias_table() { return aliases; }
const escape_table& class_escape_table() { return class_table; }
const wide_escape_table& wide_class_escape_table() { return wide_class_table; }
const escape_table& control_escape_table() { return control_table; }
const wide_escape_table& wide_control_escape_table() { return wide_control_table; }

void translate_aliases(narrow_buffer& text) {
  for (const ALIAS_ROW& row : aliases) replace_literal(text, row.alias, row.character, 0, true);
}

void translate_escapes(narrow_buffer& text, char esc, const escape_table& table,
                       bool drop_unlisted, bool keep_doubled) {
  translate(text, esc, table, drop_unlisted, keep_doubled);
}
void translate_escapes(wide_buffer& text, char16_t esc, const wide_escape_table& table,
                       bool drop_unlisted, bool keep_doubled) {
  translate(text, esc, table, drop_unlisted, keep_doubled);
}

}  // namespace Velk
