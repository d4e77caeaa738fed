#include "engine/cached_match.h"

#include <atomic>
#include <memory>
#include <new>

#include "engine/compile_matcher.h"
#include "engine/find_next.h"
#include "engine/regex_engine.h"
#include "engine/tcl_matcher.h"
#include "engine/translate.h"
#include "support/core/fast_lock.h"
#include "support/core/thread_exit_hooks.h"
#include "support/core/tls_slot.h"

namespace Velk {

template <class T>
void release_cached_match();

namespace {

std::atomic<std::uint64_t> compilations{0};
std::atomic<std::int64_t> live_records{0};

// One thread's cache of one form.
template <class T>
struct CACHE_RECORD {
  CACHE_RECORD() { ++live_records; }
  ~CACHE_RECORD() { --live_records; }
  CACHE_RECORD(const CACHE_RECORD&) = delete;
  CACHE_RECORD& operator=(const CACHE_RECORD&) = delete;

  basic_buffer<T> pattern;  // empty: nothing compiled
  std::uint32_t flags = 0;
  std::unique_ptr<CTclMatcher> compiled;
  bool translate = false;
};

// The form's slot, created on first use and destroyed at process exit.
template <class T>
struct form_slot {
  static std::atomic<CTlsSlot*> slot;
  struct holder {
    ~holder() {
      CTlsSlot* s = slot.exchange(nullptr);
      RegisterThreadExitHook(hook_slot(), nullptr);
      try {
        delete s;
      } catch (...) {
      }
    }
  };
  static ThreadExitHookSlot hook_slot() {
    return sizeof(T) == 1 ? thread_exit_cached_match_narrow : thread_exit_cached_match_wide;
  }
  // Null when the form has never been used (nothing to release).
  static CTlsSlot* existing() { return slot.load(std::memory_order_acquire); }
  static CTlsSlot& get() {
    if (CTlsSlot* s = existing()) return *s;
    CFastLockGuard guard(LibraryLock());
    if (CTlsSlot* s = slot.load(std::memory_order_relaxed)) return *s;
    static holder destroy_at_exit;
    CTlsSlot* s = new CTlsSlot;
    RegisterThreadExitHook(hook_slot(), &release_cached_match<T>);
    // A thread that searched holds engine state of its own: release it last.
    RegisterThreadExitHook(thread_exit_regex_engine, &release_regex_thread_state);
    slot.store(s, std::memory_order_release);
    return *s;
  }
};
template <class T>
std::atomic<CTlsSlot*> form_slot<T>::slot{nullptr};

const escape_table& escapes_for(const narrow_buffer&) { return class_escape_table(); }
const wide_escape_table& escapes_for(const wide_buffer&) { return wide_class_escape_table(); }

// Compiles the record's pattern with its flags; on rejection the pattern is
// cleared so that the next call tries again. The line-beginning decision
// follows the newline sensitivity the pattern asks for.
template <class T>
void compile(CACHE_RECORD<T>& record, bool newline_sensitive) {
  basic_buffer<T> text = record.pattern;
  if (record.translate) translate_escapes(text, T('\\'), escapes_for(text), false, true);
  ++compilations;
  record.compiled = CTclMatcher::compile(
      text, record.flags,
      (pattern_newline_flags(record.pattern, newline_sensitive) & REGEX_NLANCH) != 0);
  if (!record.compiled) record.pattern.clear();
}

template <class T>
bool match(const basic_buffer<T>& subject, SpanList& spans, std::uint32_t start,
           const basic_buffer<T>& pattern, const COMPILE_OPTIONS& options,
           const SEARCH_OPTIONS& search) {
  if (pattern.empty()) {
    release_cached_match<T>();
    return false;
  }
  if (start >= subject.length()) return false;

  CTlsSlot& slot = form_slot<T>::get();
  auto* record = static_cast<CACHE_RECORD<T>*>(slot.GetValue());
  if (!record) {
    record = new CACHE_RECORD<T>;
    try {
      slot.SetValue(record);
    } catch (...) {
      delete record;
      throw;
    }
  }

  const std::uint32_t flags = (options.newline_sensitive ? REGEX_NEWLINE : 0) |
                              (options.ignore_case ? REGEX_NOCASE : 0) |
                              (options.extended ? REGEX_EXTENDED : 0);
  const bool translate = options.translate_escapes && !has_director_prefix(pattern);
  if (record->pattern != pattern || record->flags != flags || record->translate != translate) {
    record->compiled.reset();
    record->pattern = pattern;
    record->pattern.own();  // the caller's text may be a view that goes away
    record->flags = flags;
    record->translate = translate;
    compile(*record, options.newline_sensitive);
  }
  if (!record->compiled) return false;

  return find_next_in(*record->compiled, subject.c_str(), subject.length(), spans, start, search);
}

}  // namespace

bool cached_match(const narrow_buffer& subject, SpanList& spans, std::uint32_t start,
                  const narrow_buffer& pattern, const COMPILE_OPTIONS& compile,
                  const SEARCH_OPTIONS& search) {
  return match(subject, spans, start, pattern, compile, search);
}

bool cached_match(const wide_buffer& subject, SpanList& spans, std::uint32_t start,
                  const wide_buffer& pattern, const COMPILE_OPTIONS& compile,
                  const SEARCH_OPTIONS& search) {
  return match(subject, spans, start, pattern, compile, search);
}

template <class T>
void release_cached_match() {
  // A form never used has no slot and so nothing to release.
  CTlsSlot* slot = form_slot<T>::existing();
  if (!slot) return;
  auto* record = static_cast<CACHE_RECORD<T>*>(slot->GetValue());
  if (!record) return;
  slot->SetValue(nullptr);
  delete record;
}

template void release_cached_match<char>();
template void release_cached_match<char16_t>();

std::uint64_t cached_match_compilations() noexcept { return compilations.load(); }
std::int64_t cached_match_live_records() noexcept { return live_records.load(); }

}  // namespace Velk
