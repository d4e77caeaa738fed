// The Tcl binding. The only file that includes tcl.h; public Tcl C API only.
//
// A compiled expression is a Tcl pattern object holding the compiled form
// as its internal representation (Tcl_GetRegExpFromObj); our reference to
// the object keeps it alive. A subject is a pure Unicode Tcl object that
// never gets a string form, owned by one regex_subject; its unit array is
// edited directly so that a loop over one text never converts it again.
#include "engine/regex_engine.h"

#include "support/os/memory.h"

#include <tcl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "engine/class_repair.h"
#include "engine/pattern_limits.h"
#if RPLC_WITH_PCRE2
#include "engine/pcre2_matcher.h"
#endif
#include "support/core/fast_lock.h"
#include "support/os/cpu_deadline.h"

static_assert(sizeof(Tcl_UniChar) == sizeof(char16_t),
              "the binding needs 16-bit Tcl_UniChar (TCL_UTF_MAX 3)");

namespace Velk {

class regex_handle {
 public:
  Tcl_Obj* pattern;
  Tcl_RegExp expression;
  std::uint32_t groups;
  bool back_references;
};

namespace {

// Initialises the Tcl library once, on first use, under the library lock.
void ensure_tcl_initialised() {
  static std::atomic<bool> initialised{false};
  if (initialised.load(std::memory_order_acquire)) return;
  CFastLockGuard guard(LibraryLock());
  if (initialised.load(std::memory_order_relaxed)) return;
  Tcl_FindExecutable(nullptr);
  os::keep_freed_heap_memory();
  initialised.store(true, std::memory_order_release);
}

const char compile_prefix[] = "couldn't compile regular expression pattern: ";

// Whether the engine's refusal in interp is its REG_ESPACE ("out of
// memory"), which it reports when the automaton it builds would pass its
// fixed limit of states, however much memory is free.
bool refused_for_size(Tcl_Interp* interp) {
  Tcl_Obj* options = Tcl_GetReturnOptions(interp, TCL_ERROR);
  Tcl_IncrRefCount(options);
  Tcl_Obj* key = Tcl_NewStringObj("-errorcode", -1);
  Tcl_IncrRefCount(key);
  Tcl_Obj* code = nullptr;
  Tcl_Obj* kind = nullptr;
  const bool size = Tcl_DictObjGet(nullptr, options, key, &code) == TCL_OK && code &&
                    Tcl_ListObjIndex(nullptr, code, 1, &kind) == TCL_OK && kind &&
                    std::strcmp(Tcl_GetString(kind), "REG_ESPACE") == 0;
  Tcl_DecrRefCount(key);
  Tcl_DecrRefCount(options);
  return size;
}

// Compiles the unit pattern; the Tcl object and its compiled form are ours
// on success.
regex_handle* compile_units(wide_buffer units, std::uint32_t flags, narrow_buffer* reason) {
  // Patterns that would crash the engine's compiler or keep it busy for
  // seconds are refused before it sees them.
  const bool extended = (flags & REGEX_EXTENDED) != 0;
  if (!check_pattern_limits(units, extended, reason)) return nullptr;
  const bool back_references = pattern_has_back_references(units, extended);
  // The engine library mis-sizes a buffer when it turns a "***=" literal
  // into its fast glob form: each of \ * ? [ ] gains an escape it has no
  // room for, which overruns the stack or the heap. "***:(?q)" means the
  // same (the rest is literal) and takes the sound path.
  if (units.length() >= 4 && units[0] == u'*' && units[1] == u'*' && units[2] == u'*' &&
      units[3] == u'=') {
    units.own();
    units.replace(3, 1, u":(?q)", 5);
  }
  ensure_tcl_initialised();
  repair_class_names(units, (flags & REGEX_NOCASE) != 0);
  Tcl_Obj* pattern = Tcl_NewUnicodeObj(reinterpret_cast<const Tcl_UniChar*>(units.c_str()),
                                       int(units.length()));
  Tcl_IncrRefCount(pattern);
  Tcl_RegExp expression = Tcl_GetRegExpFromObj(nullptr, pattern, int(flags));
  if (!expression) {
    if (reason) {
      // Only an interpreter receives the engine's reason; compile again with
      // a short-lived one (a rejected pattern is compiled once per run).
      reason->clear();
      Tcl_Interp* interp = Tcl_CreateInterp();
      if (!Tcl_GetRegExpFromObj(interp, pattern, int(flags))) {
        if (refused_for_size(interp)) {
          describe_size_refusal(reason);
        } else {
          const char* text = Tcl_GetStringResult(interp);
          const std::size_t skip = sizeof(compile_prefix) - 1;
          if (std::strncmp(text, compile_prefix, skip) == 0) text += skip;
          reason->assign(text);
        }
      }
      Tcl_DeleteInterp(interp);
    }
    Tcl_DecrRefCount(pattern);
    return nullptr;
  }
  Tcl_RegExpInfo info;
  Tcl_RegExpGetInfo(expression, &info);
  return new regex_handle{pattern, expression, std::uint32_t(info.nsubs), back_references};
}

// The search time of an expression with back-references, which the engine
// finds by back-tracking: it can grow with a high power of the text length,
// or exponentially, and the engine cannot be stopped from outside. All
// searches over one subject share one budget of processor time; running
// past it ends the process with an error (a result is never cut short).
constexpr std::uint64_t budget_base_ns = 2000000000u;     // 2 s
constexpr std::uint64_t budget_per_mib_ns = 1000000000u;  // + 1 s per MiB of text
const char budget_message[] =
    "[FATAL ERROR] regular expression search stopped: the back-references of the pattern "
    "make it too slow for this text\n";

struct SEARCH_BUDGET {
  const Tcl_Obj* subject = nullptr;  // whose budget is kept; null: none yet
  std::uint64_t left_ns = 0;
};
thread_local SEARCH_BUDGET search_budget;

// Forgets the budget of a subject whose text is replaced or released.
void end_budget(const Tcl_Obj* subject) {
  if (search_budget.subject == subject) search_budget.subject = nullptr;
}

int exec_bounded(const regex_handle* handle, Tcl_Obj* subject, std::uint32_t offset,
                 int wanted, int flags) {
  if (!handle->back_references)
    return Tcl_RegExpExecObj(nullptr, handle->expression, subject, int(offset), wanted, flags);
  if (search_budget.subject != subject) {
    int length = 0;
    Tcl_GetUnicodeFromObj(subject, &length);
    search_budget.subject = subject;
    search_budget.left_ns =
        budget_base_ns + budget_per_mib_ns * (std::uint64_t(length) >> 20);
  }
  const std::uint64_t before = os::thread_cpu_time_ns();
  const bool armed = os::arm_cpu_deadline(search_budget.left_ns, budget_message);
  const int result =
      Tcl_RegExpExecObj(nullptr, handle->expression, subject, int(offset), wanted, flags);
  if (armed) os::disarm_cpu_deadline();
  const std::uint64_t used = os::thread_cpu_time_ns() - before;
  search_budget.left_ns -= std::min(used, search_budget.left_ns);
  return result;
}

regex_status run(const regex_handle* handle, Tcl_Obj* subject, std::uint32_t offset,
                 std::uint32_t flags, std::uint32_t wanted, REGEX_RANGE* ranges) {
  if (!handle) return regex_status::error;
  wanted = std::min({wanted, handle->groups + 1, REGEX_MAX_RANGES});
  const int result = exec_bounded(handle, subject, offset, int(wanted),
                                  int(flags & (REGEX_NOTBOL | REGEX_NOTEOL)));
  if (result < 0) return regex_status::error;
  if (result == 0) return regex_status::no_match;
  Tcl_RegExpInfo info;
  Tcl_RegExpGetInfo(handle->expression, &info);
  for (std::uint32_t k = 0; k < wanted; ++k) {
    ranges[k].start = std::int32_t(info.matches[k].start);
    ranges[k].end = std::int32_t(info.matches[k].end);
  }
  return regex_status::match;
}

}  // namespace

regex_handle* compile_regex(const narrow_buffer& pattern, std::uint32_t flags,
                            narrow_buffer* reason) {
  wide_buffer units;
  units.reserve_exact(std::size_t(pattern.length()) + 1);
  for (std::uint32_t i = 0; i < pattern.length(); ++i) units.push_back(byte_to_unit(pattern[i]));
  return compile_units(units, flags, reason);
}

regex_handle* compile_regex(const wide_buffer& pattern, std::uint32_t flags,
                            narrow_buffer* reason) {
  return compile_units(pattern, flags, reason);
}

void free_regex(regex_handle* handle) noexcept {
  if (!handle) return;
  Tcl_DecrRefCount(handle->pattern);
  delete handle;
}

void release_regex_thread_state() noexcept {
#if RPLC_WITH_PCRE2
  release_pcre2_thread_state();
#endif
  Tcl_FinalizeThread();
}

std::uint32_t regex_group_count(const regex_handle* handle) noexcept {
  return handle ? handle->groups : 0;
}

// --- regex_subject ---------------------------------------------------------

regex_subject::regex_subject() {
  ensure_tcl_initialised();
  Tcl_Obj* object = Tcl_NewUnicodeObj(nullptr, 0);
  Tcl_IncrRefCount(object);
  object_ = object;
}

regex_subject::~regex_subject() {
  end_budget(static_cast<Tcl_Obj*>(object_));
  Tcl_DecrRefCount(static_cast<Tcl_Obj*>(object_));
}

char16_t* regex_subject::units() const noexcept {
  int length;
  return reinterpret_cast<char16_t*>(
      Tcl_GetUnicodeFromObj(static_cast<Tcl_Obj*>(object_), &length));
}

char16_t regex_subject::unit(std::uint32_t pos) const noexcept { return units()[pos]; }

// Sets the unit count, keeping the units in front. Growth goes through a
// larger capacity first, so that Tcl's exact-size reallocation runs only
// O(log n) times over a loop. Tcl would end the process on a failed or
// oversized allocation; the attempt form lets us throw bad_alloc instead.
void regex_subject::resize(std::uint32_t count) {
  constexpr std::uint32_t max_units = 0x7FFFFFF0u;
  if (count > max_units) throw std::bad_alloc();
  Tcl_Obj* object = static_cast<Tcl_Obj*>(object_);
  Tcl_InvalidateStringRep(object);
  if (count > capacity_) {
    const std::uint64_t grown = std::max<std::uint64_t>(count, capacity_ + capacity_ / 2);
    std::uint32_t capacity = std::uint32_t(std::min<std::uint64_t>(grown, max_units));
    if (!Tcl_AttemptSetObjLength(object, int(capacity))) {
      capacity = count;  // no room to grow ahead: exactly what is needed
      if (!Tcl_AttemptSetObjLength(object, int(capacity))) throw std::bad_alloc();
    }
    capacity_ = capacity;
    // The converted text of a whole file: huge pages spare a fault per 4 KiB.
    if (std::size_t(capacity) * 2 >= os::kLargeBlockBytes)
      os::advise_large_range(units(), std::size_t(capacity) * 2);
  }
  Tcl_SetObjLength(object, int(count));  // within the capacity: no allocation
  length_ = count;
}

void regex_subject::assign(const narrow_buffer& text) { assign(text.c_str(), text.length()); }

void regex_subject::assign(const char* bytes, std::uint32_t count) {
  end_budget(static_cast<Tcl_Obj*>(object_));
  resize(count);
  char16_t* out = units();
  for (std::uint32_t i = 0; i < count; ++i) out[i] = byte_to_unit(bytes[i]);
}

void regex_subject::assign(const char16_t* units_in, std::uint32_t count) {
  end_budget(static_cast<Tcl_Obj*>(object_));
  resize(count);
  if (count) std::memcpy(units(), units_in, std::size_t(count) * sizeof(char16_t));
}

void regex_subject::replace(std::uint32_t pos, std::uint32_t count, const char* bytes,
                            std::uint32_t byte_count) {
  const std::uint32_t old_length = length_;
  const std::uint32_t tail = old_length - pos - count;
  if (byte_count > count) resize(old_length - count + byte_count);
  char16_t* text = units();
  std::memmove(text + pos + byte_count, text + pos + count, std::size_t(tail) * sizeof(char16_t));
  for (std::uint32_t i = 0; i < byte_count; ++i) text[pos + i] = byte_to_unit(bytes[i]);
  if (byte_count < count) resize(old_length - count + byte_count);
}

regex_status exec_regex(const regex_handle* handle, regex_subject& subject,
                        std::uint32_t offset, std::uint32_t flags, std::uint32_t wanted,
                        REGEX_RANGE* ranges) {
  return run(handle, static_cast<Tcl_Obj*>(subject.object_), offset, flags, wanted, ranges);
}

regex_status exec_regex(const regex_handle* handle, const char16_t* units, std::uint32_t count,
                        std::uint32_t flags, std::uint32_t wanted, REGEX_RANGE* ranges) {
  regex_subject subject;
  subject.assign(units, count);
  return exec_regex(handle, subject, 0, flags, wanted, ranges);
}

}  // namespace Velk
