#include "driver/stream_pump.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "driver/paired_pump.h"
#include "driver/read_ahead.h"
#include "driver/write_behind.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"

namespace Velk {
namespace {

// Room for kept bytes in front of each chunk read ahead: enough for a find
// text or a line; a longer kept line takes the slower way below. Kept bytes
// of at most this size are also worked again after any short read.
constexpr std::size_t kReadAheadRoom = 64 * 1024;

[[noreturn]] void ThrowLineTooLong() {
  throw std::length_error("a line is longer than the longest text the engine takes");
}

// Feeds windows to the replacer and hands each result to the sink, or,
// from the first change on, to a writer thread when the sink allows one:
// an input without a match starts no thread.
class CFeeder {
 public:
  CFeeder(stream_replacer& replacer, TStreamSink& sink, std::size_t chunk)
      : replacer_(replacer),
        sink_(sink),
        logs_(sink.WantsReplacements()),
        reserve_(chunk * STREAM_OUTPUT_RESERVE_FACTOR),
        behind_wanted_(sink.WritesBehind() && !logs_) {
    out_.reserve_exact(narrow_buffer::size_type(reserve_ + 1));
    if (logs_) replacer_.set_log(&log_);
    // The sink takes each piece before Feed returns, until a writer thread
    // takes them instead.
    replacer_.set_pass_unchanged(true);
  }
  ~CFeeder() {
    replacer_.set_log(nullptr);
    replacer_.set_pass_unchanged(false);
  }
  CFeeder(const CFeeder&) = delete;
  CFeeder& operator=(const CFeeder&) = delete;

  // Returns the bytes of window[0, length) consumed.
  std::size_t Feed(const char* window, std::size_t length, bool at_end) {
    const std::uint64_t before = replacer_.count();
    log_.clear();
    const std::size_t consumed = replacer_.feed(window, length, at_end, out_);
    if (consumed != 0 || !out_.empty()) {
      const bool changed = replacer_.count() != before;
      if (changed && behind_wanted_) StartWriter();
      if (logs_) sink_.PieceInput(window, log_);
      if (behind_)
        behind_->Hand(out_, input_start_, consumed, changed);
      else
        sink_.Piece(PieceOf(replacer_, window, consumed, out_, passed_), input_start_, consumed,
                    changed);
      out_.clear();
    }
    input_start_ += consumed;
    return consumed;
  }
  // After the last Feed: the sink has every piece.
  void Finish() {
    if (behind_) behind_->Finish();
  }
  std::uint64_t input_read() const { return input_start_; }

 private:
  void StartWriter() {
    behind_wanted_ = false;
    try {
      behind_ = std::make_unique<CWriteBehind>(sink_, reserve_);
      replacer_.set_pass_unchanged(false);  // the writer keeps what it is handed
    } catch (const threadExp&) {
      // No thread to spare: write on this one.
    }
  }

  stream_replacer& replacer_;
  TStreamSink& sink_;
  const bool logs_;
  ReplacementLog log_;  // the replacements of one piece, when the sink wants them
  narrow_buffer out_;
  narrow_buffer passed_;  // a view of a window passed on unchanged
  std::uint64_t input_start_ = 0;  // input offset of the next window
  std::size_t reserve_;
  bool behind_wanted_;
  std::unique_ptr<CWriteBehind> behind_;
};

// The windows are the library's buffers, so that memory refused for a long
// line is reported as the run's error rather than ending the process.
std::uint64_t PumpHere(CFeeder& feeder, TByteSource& source, std::size_t chunk) {
  narrow_buffer window;  // its length: the kept bytes at its start
  window.reserve_exact(chunk + 1);
  bool at_end = false;
  for (;;) {
    std::size_t held = window.length();
    if (!at_end) {
      // Read one chunk behind the kept bytes, or as much again as is kept
      // when that is more (a long line): the window doubles then, so a long
      // line costs linear time. A read that brings less than asked (a pipe
      // or a terminal with nothing more for now) ends the filling, so that
      // what came is worked at once, unless a long kept line has not yet
      // doubled.
      const std::size_t kept = held;
      const std::size_t want = held + std::max(chunk, held);
      if (want > MAX_TEXT_LENGTH) ThrowLineTooLong();
      if (window.capacity() < want + 1) window.reserve_exact(want + 1);
      while (held < want) {
        const std::size_t asked = want - held;
        const std::size_t got = source.Read(window.data() + held, asked);
        if (got == 0) {
          at_end = true;
          break;
        }
        held += got;
        if (got < asked && (kept <= kReadAheadRoom || held >= 2 * kept)) break;
      }
    }
    const std::size_t consumed = feeder.Feed(window.data(), held, at_end);
    held -= consumed;
    if (held != 0 && consumed != 0)
      std::memmove(window.data(), window.data() + consumed, held);
    window.set_length(narrow_buffer::size_type(held));
    if (at_end && held == 0) break;
  }
  feeder.Finish();
  return feeder.input_read();
}

// The same with the source read ahead (read_ahead.h). The kept bytes go in
// front of the next chunk, in its buffer's room, when they fit; a longer
// kept line gathers the chunks in a window of its own until it has doubled,
// as above.
std::uint64_t PumpReadingAhead(CFeeder& feeder, CReadAhead& reader, std::size_t room) {
  narrow_buffer kept;
  std::size_t feed_at = 0;  // a long kept line is fed once it holds this much
  for (;;) {
    const CReadAhead::CHUNK next = reader.Next();
    if (kept.length() <= room) {
      char* window = next.data - kept.length();
      if (!kept.empty()) std::memcpy(window, kept.data(), kept.length());
      const std::size_t length = kept.length() + next.length;
      const std::size_t consumed = feeder.Feed(window, length, next.last);
      kept.assign(window + consumed, narrow_buffer::size_type(length - consumed));
    } else {
      if (kept.length() + next.length > MAX_TEXT_LENGTH) ThrowLineTooLong();
      kept.append(next.data, narrow_buffer::size_type(next.length));
      if (kept.length() >= feed_at || next.last) {
        const std::size_t consumed = feeder.Feed(kept.data(), kept.length(), next.last);
        kept.erase(0, narrow_buffer::size_type(consumed));
      }
    }
    feed_at = 2 * std::size_t(kept.length());
    if (next.last) break;
  }
  feeder.Finish();
  return feeder.input_read();
}

}  // namespace

const narrow_buffer& PieceOf(const stream_replacer& replacer, const char* window,
                             std::size_t consumed, const narrow_buffer& out, narrow_buffer& view) {
  if (!replacer.passed()) return out;
  view.attach(window, narrow_buffer::size_type(consumed));
  return view;
}

std::uint64_t PumpStream(stream_replacer& replacer, TByteSource& source, TStreamSink& sink,
                         std::size_t chunk) {
  if (chunk == 0) chunk = 1;
  std::uint64_t input_read = 0;
  if (source.ReadsInTurns() && !sink.WantsReplacements() &&
      PumpInPairs(replacer, source, sink, chunk, input_read))
    return input_read;
  CFeeder feeder(replacer, sink, chunk);
  if (source.ReadsAhead()) {
    std::unique_ptr<CReadAhead> reader;
    try {
      reader.reset(new CReadAhead(source, chunk, std::min(chunk, kReadAheadRoom)));
    } catch (const threadExp&) {
      // No thread to spare: read on this one.
    }
    if (reader) return PumpReadingAhead(feeder, *reader, std::min(chunk, kReadAheadRoom));
  }
  return PumpHere(feeder, source, chunk);
}

}  // namespace Velk
