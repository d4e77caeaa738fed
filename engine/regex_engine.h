// The binding to the Tcl library's regular-expression engine: compile,
// execute, free. This is the only interface through which the engine is
// reached; its implementation is the only file that sees Tcl.
//
// One byte is one character. A narrow pattern or subject is handed to the
// engine one unit per byte: 0x00-0x7F as themselves, 0x80-0xFF as
// U+D880-U+D8FF, units that belong to no character class and have no case
// partner, so classes and case folding cover ASCII only and every reported
// offset is a byte offset. Wide patterns and subjects pass their 16-bit
// units as they are.
//
// A "***=" literal is compiled as the equivalent "***:(?q)": the engine
// library overruns a buffer on the first form when the literal holds glob
// characters (\ * ? [ ]).
//
// Before compiling, two faults of the engine's classes are mended in the
// pattern (see repair_class_names in class_repair.h): under ignore case
// [:lower:] and [:upper:] match letters only, and [:punct:] includes the ASCII
// symbols $+<=>^`|~ as the C library's ispunct does.
//
// Errors: compile returns null for a rejected pattern and, when asked, the
// engine's reason; a pattern beyond the bounds of pattern_limits.h is
// rejected the same way before the engine sees it. A search with an
// expression that has back-references (the engine then back-tracks, in time
// that can grow exponentially) shares with the other searches over the same
// subject a budget of 2 s processor time plus 1 s per MiB of subject; past
// it the process ends at once with status 255 and the line "[FATAL ERROR]
// regular expression search stopped: ..." on standard error, so a result is
// never cut short (support/os/cpu_deadline.h). Otherwise execute reports
// an engine error as regex_status::error.
// Nothing throws except std::bad_alloc from the program's own buffers.
// Compiled expressions and subjects belong to the thread that made them.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

// Compile flags (the engine's own bit values).
constexpr std::uint32_t REGEX_EXTENDED = 0x01;
constexpr std::uint32_t REGEX_NOCASE = 0x08;
constexpr std::uint32_t REGEX_NLSTOP = 0x40;  // dot and [^...] skip a line feed
constexpr std::uint32_t REGEX_NLANCH = 0x80;  // ^ and $ at line feeds
constexpr std::uint32_t REGEX_NEWLINE = REGEX_NLSTOP | REGEX_NLANCH;

// Execution flags. START_END only says that the subject is given as a
// pointer and a length, which this binding always does.
constexpr std::uint32_t REGEX_NOTBOL = 0x01;
constexpr std::uint32_t REGEX_NOTEOL = 0x02;
constexpr std::uint32_t REGEX_STARTEND = 0x04;

// Most ranges one execution reports: the whole match and nine groups.
constexpr std::uint32_t REGEX_MAX_RANGES = 10;

// One reported range, relative to the searched start; -1/-1 for a group that
// took no part in the match.
struct REGEX_RANGE {
  std::int32_t start;
  std::int32_t end;
};

enum class regex_status { match, no_match, error };

class regex_handle;  // an engine-compiled expression

// Compiles pattern with the compile flags. Returns null when the engine
// rejects it; reason (when given) then receives the engine's explanation,
// for example "parentheses () not balanced".
regex_handle* compile_regex(const narrow_buffer& pattern, std::uint32_t flags,
                            narrow_buffer* reason = nullptr);
regex_handle* compile_regex(const wide_buffer& pattern, std::uint32_t flags,
                            narrow_buffer* reason = nullptr);
// Releases a compiled expression; null is ignored.
void free_regex(regex_handle* handle) noexcept;
// Releases the engine's own per-thread state of the calling thread, which
// is otherwise lost when the thread ends. Called at the end of a library
// thread, after its compiled expressions and subjects are released; the
// thread must not use the engine afterwards.
void release_regex_thread_state() noexcept;
std::uint32_t regex_group_count(const regex_handle* handle) noexcept;

// The subject of a series of searches: a text converted to the engine's
// units once, so that a loop searching it from left to right never converts
// it again (the Tcl implementation keeps one per text, tcl_matcher.h).
// replace() edits the copy the way its text was edited.
class regex_subject {
 public:
  regex_subject();
  explicit regex_subject(const narrow_buffer& text) : regex_subject() { assign(text); }
  ~regex_subject();
  regex_subject(const regex_subject&) = delete;
  regex_subject& operator=(const regex_subject&) = delete;

  void assign(const narrow_buffer& text);        // one unit per byte
  void assign(const char* bytes, std::uint32_t count);      // one unit per byte
  void assign(const char16_t* units, std::uint32_t count);  // units as they are
  // Replaces [pos, pos+count) by the given bytes, as the text did.
  void replace(std::uint32_t pos, std::uint32_t count, const char* bytes,
               std::uint32_t byte_count);

  std::uint32_t length() const noexcept { return length_; }
  char16_t unit(std::uint32_t pos) const noexcept;

 private:
  friend regex_status exec_regex(const regex_handle*, regex_subject&, std::uint32_t,
                                 std::uint32_t, std::uint32_t, REGEX_RANGE*);
  char16_t* units() const noexcept;
  void resize(std::uint32_t count);

  void* object_;  // the engine's text object, private to this subject
  std::uint32_t length_ = 0;
  std::uint32_t capacity_ = 0;
};

// Searches subject from offset to its end (a match of "^" at offset needs
// NOTBOL clear) and fills ranges[0 .. wanted-1], wanted at most
// REGEX_MAX_RANGES. Asking for fewer ranges lets the engine skip the work of
// locating groups nobody reads.
regex_status exec_regex(const regex_handle* handle, regex_subject& subject,
                        std::uint32_t offset, std::uint32_t flags, std::uint32_t wanted,
                        REGEX_RANGE* ranges);
// One search over units[0 .. count-1] passed as they are (the wide form).
regex_status exec_regex(const regex_handle* handle, const char16_t* units,
                        std::uint32_t count, std::uint32_t flags, std::uint32_t wanted,
                        REGEX_RANGE* ranges);

// The engine unit that stands for one byte.
inline char16_t byte_to_unit(char byte) noexcept {
  const unsigned char b = static_cast<unsigned char>(byte);
  return b < 0x80 ? char16_t(b) : char16_t(0xD800 + b);
}

}  // namespace Velk
