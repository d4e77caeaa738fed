// Works one input through a stream_replacer (engine/stream_replacer.h) in
// fixed-size chunks: the input is read a chunk at a time into one reused
// window, and the result of each chunk goes to the sink as soon as it is
// made, so memory stays a few chunks whatever the input's size. The window
// grows only for a line longer than it (regular-expression finds) or a find
// text longer than a chunk, doubling each time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "engine/replacement_log.h"
#include "engine/stream_replacer.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// The chunk size of a streamed run: large enough that a system call and a
// search start cost nothing against the bytes moved, small enough to stay
// in the processor's caches.
constexpr std::size_t STREAM_CHUNK = 256 * 1024;
// The chunk of an input read ahead (TByteSource::ReadsAhead): larger, so
// that the reader and the search hand chunks to each other less often.
constexpr std::size_t STREAM_CHUNK_READ_AHEAD = 1024 * 1024;
// The chunk of standard input read and searched by two threads in turn
// (TByteSource::ReadsInTurns): smaller, so that what each thread reads,
// searches and writes stays in a cache the two processors may share.
constexpr std::size_t STREAM_CHUNK_IN_TURNS = 64 * 1024;
// A chunk's result may be longer than the chunk (a long replacement); it is
// reserved once at this multiple and grows by the buffer's policy.
constexpr std::size_t STREAM_OUTPUT_RESERVE_FACTOR = 2;
// How long a pump's helper thread is waited for when the run ends early;
// one still in a read that does not return is left to end when it returns.
constexpr std::chrono::milliseconds STREAM_THREAD_STOP_WAIT(500);

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Reads up to room bytes into dest; 0 only at the end of the input.
  // Throws on failure.
  virtual std::size_t Read(char* dest, std::size_t room) = 0;
  // Whether the pump may read ahead on a thread of its own (read_ahead.h),
  // so that reading overlaps the search; Read is then called from that
  // thread only.
  virtual bool ReadsAhead() const { return false; }
  // Whether, for a literal find, two threads may read it in turn, each
  // searching what it read (paired_pump.h): each read then follows the one
  // before, on either thread, and so does each Piece of the sink.
  virtual bool ReadsInTurns() const { return false; }
};

class TStreamSink {
 public:
  virtual ~TStreamSink() = default;
  // The result of the input bytes [input_start, input_start + input_length):
  // out (maybe empty); changed when at least one replacement lies in them.
  // out is cleared after the call, and may be a view of the input that
  // lasts only as long as the call.
  virtual void Piece(const narrow_buffer& out, std::uint64_t input_start,
                     std::size_t input_length, bool changed) = 0;
  // Whether the sink wants each piece's input and replacements (a preview
  // does): PieceInput is then called just before each Piece, with the
  // piece's input bytes and a record per replacement in them (offsets from
  // the piece's input and from its out). Such a sink is never written
  // behind.
  virtual bool WantsReplacements() const { return false; }
  virtual void PieceInput(const char* input, const ReplacementLog& log) {
    (void)input;
    (void)log;
  }
  // Whether the pump may pass the pieces on from a thread of its own
  // (write_behind.h), so that writing overlaps the search: from the first
  // changed piece on, Piece is then called from that thread only.
  virtual bool WritesBehind() const { return false; }
};

// What a pump hands the sink after replacer fed window: out, or, when the
// replacer passed the window on unchanged, window[0, consumed) itself,
// through view (which must outlive the Piece call).
const narrow_buffer& PieceOf(const stream_replacer& replacer, const char* window,
                             std::size_t consumed, const narrow_buffer& out, narrow_buffer& view);

// Reads source to its end; returns the number of input bytes read. chunk is
// STREAM_CHUNK except in tests, which cut the input into pieces of a few
// bytes to find faults at the pieces' edges. Throws std::length_error when
// a line outgrows the engine's text limit, and whatever source and sink
// throw.
std::uint64_t PumpStream(stream_replacer& replacer, TByteSource& source, TStreamSink& sink,
                         std::size_t chunk = STREAM_CHUNK);

}  // namespace Velk
