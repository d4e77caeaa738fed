// C-style escapes of single bytes, as C string literals and "git diff"
// write them: \a \b \t \n \v \f \r, \" and \\, and three octal digits for
// any other byte.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

// A control byte: below 0x20, or DEL (0x7F).
inline bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Appends the escape of byte (always an escape, never the byte itself).
void AppendCEscape(narrow_buffer& out, unsigned char byte);

// text with every control byte escaped, except line feeds when
// keep_line_feeds; the other bytes as they are. Shares text's storage when
// nothing needs escaping.
narrow_buffer EscapeControlBytes(const narrow_buffer& text, bool keep_line_feeds);

}  // namespace Velk
