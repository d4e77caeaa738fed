// Fuzzes the alias and escape rewrites, narrow and wide, with every table
// and option combination. A rewrite never lengthens a text by more than
// the longest replacement per escape, and never reads outside it.
#include <cstdint>

#include "engine/translate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  const Velk::narrow_buffer source(reinterpret_cast<const char*>(data + 1),
                                   std::uint32_t(size - 1));
  const char esc = (options & 0x10) ? '\\' : char(data[size - 1]);
  const bool drop = (options & 1) != 0;
  const bool keep = (options & 2) != 0;

  Velk::narrow_buffer aliased = source;
  Velk::translate_aliases(aliased);
  if (aliased.length() > source.length()) __builtin_trap();

  Velk::narrow_buffer text = source;
  Velk::translate_escapes(text, esc,
                          (options & 4) ? Velk::class_escape_table()
                                        : Velk::control_escape_table(),
                          drop, keep);

  Velk::wide_buffer wide;
  for (std::uint32_t i = 0; i < source.length(); ++i)
    wide.push_back(char16_t(static_cast<unsigned char>(source[i])));
  Velk::translate_escapes(wide, char16_t(static_cast<unsigned char>(esc)),
                          (options & 4) ? Velk::wide_class_escape_table()
                                        : Velk::wide_control_escape_table(),
                          drop, keep);
  // The wide rewrite follows the narrow one unit for byte.
  if (wide.length() != text.length()) __builtin_trap();
  for (std::uint32_t i = 0; i < text.length(); ++i)
    if (wide[i] != char16_t(static_cast<unsigned char>(text[i]))) __builtin_trap();
  return 0;
}
