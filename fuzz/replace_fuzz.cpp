// Fuzzes compile_matcher and the six replace-all loops on one input
// "options pattern\0template\0text": the first byte picks the compile and
// search flags, the rest of the first piece is the pattern (also the find
// text of the literal loops).
//
// Checks: nothing crashes or leaks; the in-place and expanding loops give
// the same text, count and replacement log for every find (both judge "^"
// from the input), and each log rebuilds the result from the input; the
// streamed finds, cut into chunks of one to four bytes (options' top bits)
// and read a few bytes at a time, give the whole-text result, literal finds
// also read and searched by two threads in turn.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "driver/stream_pump.h"
#include "engine/compile_matcher.h"
#include "engine/replace_all.h"
#include "engine/replacement_log.h"
#include "fuzz/fuzz_input.h"

namespace {

using Velk::narrow_buffer;

// Keeps each run short: the engine's worst cases grow with both lengths.
constexpr std::size_t max_piece = 512;

narrow_buffer Piece(const std::string& s, std::size_t from = 0) {
  if (s.size() <= from) return narrow_buffer();
  const std::size_t n = std::min(s.size() - from, max_piece);
  return narrow_buffer(s.data() + from, std::uint32_t(n));
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The result rebuilt from the input and the log: unmatched stretches copied,
// each record's output bytes taken from the result at its place.
void CheckLog(const narrow_buffer& text, const narrow_buffer& result,
              const Velk::ReplacementLog& log, std::uint32_t count) {
  Check(log.size() == count);
  std::uint32_t in = 0, out = 0;
  for (const Velk::REPLACEMENT_RECORD& r : log) {
    Check(r.input_start >= in && r.output_start >= out);
    Check(r.input_start - in == r.output_start - out);
    Check(text.compare(in, r.input_start - in, result.c_str() + out, r.output_start - out) == 0);
    in = r.input_start + r.input_length;
    out = r.output_start + r.output_length;
  }
  Check(in <= text.length() && text.length() - in == result.length() - out);
  Check(text.compare(in, text.length() - in, result.c_str() + out, result.length() - out) == 0);
}

class CPieceSource : public Velk::TByteSource {
 public:
  CPieceSource(const narrow_buffer& text, std::size_t most, bool in_turns)
      : text_(text), most_(most), in_turns_(in_turns) {}
  bool ReadsAhead() const override { return in_turns_; }
  bool ReadsInTurns() const override { return in_turns_; }
  std::size_t Read(char* dest, std::size_t room) override {
    const std::size_t n = std::min({room, most_, std::size_t(text_.length()) - at_});
    std::copy(text_.c_str() + at_, text_.c_str() + at_ + n, dest);
    at_ += n;
    return n;
  }

 private:
  const narrow_buffer& text_;
  std::size_t most_;
  bool in_turns_;
  std::size_t at_ = 0;
};

class CJoinSink : public Velk::TStreamSink {
 public:
  void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
    result.append(out);
  }
  narrow_buffer result;
};

// The threads of this process.
std::size_t ThreadCount() {
  std::size_t count = 0;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(tasks);
  }
  return count;
}

// The pump's second thread ends on its own after the pump has returned, and
// the leak check that follows an input would take what it still holds (its
// signal stack) for lost: waits, up to a second, until it is gone.
void AwaitThreadsBack(std::size_t before) {
  for (int i = 0; i < 20000 && ThreadCount() > before; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// The streamed find against the whole-text result and count.
void CheckStreamed(Velk::FindMethod method, const narrow_buffer& find, const narrow_buffer& templ,
                   const Velk::Matcher& matcher, const narrow_buffer& text, std::size_t chunk,
                   const narrow_buffer& whole, std::uint32_t count) {
  if (!Velk::stream_replacer::can_stream(method, matcher)) return;
  for (bool in_turns : {false, true}) {
    if (in_turns && method == Velk::FindMethod::Regex) break;
    Velk::stream_replacer replacer(method, find, templ, matcher);
    CPieceSource source(text, chunk + 2, in_turns);
    CJoinSink sink;
    const std::size_t threads = ThreadCount();
    Velk::PumpStream(replacer, source, sink, chunk);
    AwaitThreadsBack(threads);
    Check(replacer.count() == count);
    Check(sink.result == whole);
  }
}

void CheckLiteral(const narrow_buffer& text, const narrow_buffer& find,
                  const narrow_buffer& replacement, bool no_case, std::size_t chunk) {
  narrow_buffer in_place = text;
  narrow_buffer expanded;
  Velk::ReplacementLog log1, log2;
  const std::uint32_t n1 =
      no_case ? Velk::ireplace_literal(in_place, find, replacement, 0, true, &log1)
              : Velk::replace_literal(in_place, find, replacement, 0, true, &log1);
  const std::uint32_t n2 =
      no_case ? Velk::ireplace_literal_expand(text, expanded, find, replacement, 0, &log2)
              : Velk::replace_literal_expand(text, expanded, find, replacement, 0, &log2);
  Check(n1 == n2);
  Check(in_place == expanded);
  CheckLog(text, expanded, log2, n2);
  // Without a log the expanding loop copies through the matches in one scan.
  narrow_buffer copied;
  const std::uint32_t n3 =
      no_case ? Velk::ireplace_literal_expand(text, copied, find, replacement, 0, nullptr)
              : Velk::replace_literal_expand(text, copied, find, replacement, 0, nullptr);
  Check(n3 == n2);
  Check(copied == expanded);
  Check(log1.size() == log2.size());
  CheckStreamed(no_case ? Velk::FindMethod::LiteralNoCase : Velk::FindMethod::Literal, find,
                replacement, Velk::Matcher(), text, chunk, expanded, n2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto pieces = rplc_fuzz::SplitInput(data, size, 3);
  const std::uint8_t options = data[0];
  const narrow_buffer pattern = Piece(pieces[0], 1);
  const narrow_buffer templ = Piece(pieces[1]);
  const narrow_buffer text = Piece(pieces[2]);

  const std::size_t chunk = 1 + (options >> 6);
  if (!pattern.empty()) {
    CheckLiteral(text, pattern, templ, false, chunk);
    CheckLiteral(text, pattern, templ, true, chunk);
  }

  const bool ignore_case = options & 1;
  const bool newline_sensitive = options & 2;
  const bool extended = !(options & 4);
  const bool translate = !(options & 8);
  const bool notbol = options & 16;
  const bool noteol = options & 32;
  narrow_buffer reason;
  const Velk::Matcher matcher = Velk::compile_matcher(pattern,
                                                      {.ignore_case = ignore_case,
                                                       .newline_sensitive = newline_sensitive,
                                                       .extended = extended,
                                                       .translate_escapes = translate},
                                                      &reason);
  Check(matcher.empty() || reason.empty());

  narrow_buffer in_place = text;
  narrow_buffer expanded;
  Velk::ReplacementLog log1, log2;
  const std::uint32_t n1 =
      Velk::replace_regex(in_place, matcher, templ, {.notbol = notbol, .noteol = noteol}, &log1);
  const std::uint32_t n2 = Velk::replace_regex_expand(text, expanded, matcher, templ,
                                                      {.notbol = notbol, .noteol = noteol}, &log2);
  Check(n1 == n2);
  Check(in_place == expanded);
  CheckLog(text, expanded, log2, n2);
  for (std::size_t i = 0; i < log1.size() && i < log2.size(); ++i)
    Check(log1[i].input_start == log2[i].input_start &&
          log1[i].output_start == log2[i].output_start &&
          log1[i].output_length == log2[i].output_length);
  if (matcher.empty()) Check(n1 == 0 && n2 == 0 && in_place == text && expanded == text);
  if (!notbol && !noteol && translate)
    CheckStreamed(Velk::FindMethod::Regex, pattern, templ, matcher, text, chunk, expanded, n2);
  return 0;
}
