// The driver's standard streams: standard input read whole, standard output
// written raw, and one-line messages. A failed read or write is thrown as a
// sysfileExp in the library's layout, so it ends the run as a fatal error
// instead of passing for success.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

// Appends everything standard input holds, read in large blocks. Returns
// false, having read no further, as soon as the input is known to hold more
// than max_length bytes.
bool ReadStandardInput(narrow_buffer& out, std::uint32_t max_length);

// Writes the bytes to standard output as they are.
void WriteStandardOutput(const narrow_buffer& data);

// Writes the bytes to standard error as they are; a failure is ignored.
void WriteStandardError(const narrow_buffer& data);

// Writes text followed by a line feed to standard error in one write. A
// failure to report is not reportable and is ignored.
void WriteErrorLine(const narrow_buffer& text);

// name as it is shown on standard output (on_error_stream false) or on
// standard error: with its control bytes escaped (C-style) when that
// stream is a terminal, so that no name can move the cursor or send
// commands to it. Elsewhere (files, pipes) names stay byte for byte.
narrow_buffer ShownName(const narrow_buffer& name, bool on_error_stream);

// A message for standard error (lines ending in line feeds) with the
// control bytes other than line feeds escaped when it is a terminal.
narrow_buffer ShownMessage(const narrow_buffer& text);

// Writes lines that already end in line feeds to standard error in one
// write; a failure is ignored as for WriteErrorLine.
void WriteErrorText(const narrow_buffer& lines);

}  // namespace Velk
