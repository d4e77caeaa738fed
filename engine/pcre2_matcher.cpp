#include "engine/pcre2_matcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <new>

#include "engine/pcre2_pattern.h"

namespace Velk {
namespace {

// JIT stack of one thread: enough for every pattern the fast path takes on
// ordinary text; a search that needs more reports an error and goes to Tcl.
constexpr std::size_t JIT_STACK_START = 32 * 1024;
constexpr std::size_t JIT_STACK_MAX = 1024 * 1024;

// The match data, match context and JIT stack of one thread, shared by every
// compiled object; created on the thread's first search, freed at its end.
class thread_match_state {
 public:
  thread_match_state()
      : data_(pcre2_match_data_create(REGEX_MAX_RANGES, nullptr)),
        context_(pcre2_match_context_create(nullptr)),
        stack_(pcre2_jit_stack_create(JIT_STACK_START, JIT_STACK_MAX, nullptr)) {
    if (context_ && stack_) pcre2_jit_stack_assign(context_, nullptr, stack_);
  }
  ~thread_match_state() {
    pcre2_jit_stack_free(stack_);
    pcre2_match_context_free(context_);
    pcre2_match_data_free(data_);
  }
  thread_match_state(const thread_match_state&) = delete;
  thread_match_state& operator=(const thread_match_state&) = delete;

  bool ready() const { return data_ && context_ && stack_; }
  pcre2_match_data* data() const { return data_; }
  pcre2_match_context* context() const { return context_; }

 private:
  pcre2_match_data* data_;
  pcre2_match_context* context_;
  pcre2_jit_stack* stack_;
};

#ifdef _WIN32
// mingw-w64's emulated thread-local storage frees a thread's blocks before
// it runs the destructors of its thread_local objects, so a destructor there
// would read freed memory. The state is held by pointer instead and released
// by the library's thread-exit step (release_pcre2_thread_state); a thread
// the library did not start keeps it until the process ends.
thread_local thread_match_state* match_state = nullptr;
const thread_match_state* own_match_state() {
  if (!match_state) match_state = new (std::nothrow) thread_match_state;
  return match_state;
}
#else
thread_local thread_match_state match_state;
const thread_match_state* own_match_state() { return &match_state; }
#endif

}  // namespace

void release_pcre2_thread_state() noexcept {
#ifdef _WIN32
  delete match_state;
  match_state = nullptr;
#endif
}

std::unique_ptr<pcre2_matcher> pcre2_matcher::try_compile(const narrow_buffer& pattern,
                                                          std::uint32_t regex_flags) {
  const PCRE2_TRANSLATION translation = translate_for_pcre2(pattern, regex_flags);
  if (translation.rejections) return nullptr;

  std::uint32_t options = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_NEVER_BACKSLASH_C;
  if (regex_flags & REGEX_NEWLINE)
    options |= PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX;  // "^" also after a final line feed
  else
    options |= PCRE2_DOLLAR_ENDONLY;  // "$" not before a final line feed
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (!context) return nullptr;
  pcre2_set_newline(context, PCRE2_NEWLINE_LF);
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translation.pattern.data()),
                                   translation.pattern.size(), options, &error, &error_offset,
                                   context);
  pcre2_compile_context_free(context);
  if (!code) return nullptr;
  std::uint32_t groups = 0;
  if (pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups) != 0 ||
      groups != translation.groups || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    pcre2_code_free(code);
    return nullptr;
  }
  return std::unique_ptr<pcre2_matcher>(new pcre2_matcher(code, groups));
}

pcre2_matcher::~pcre2_matcher() { pcre2_code_free(code_); }

regex_status pcre2_matcher::find(const char* text, std::size_t length, std::size_t start,
                                 bool notbol, std::uint32_t wanted, MatchSpan* spans) const {
  const thread_match_state* state = own_match_state();
  if (!state || !state->ready() || start > length) return regex_status::error;
  const int result = pcre2_jit_match(code_, reinterpret_cast<PCRE2_SPTR>(text), length, start,
                                     notbol ? PCRE2_NOTBOL : 0, state->data(), state->context());
  if (result == PCRE2_ERROR_NOMATCH) return regex_status::no_match;
  if (result < 0) return regex_status::error;
  // 0: more groups took part than the match data holds; its pairs are all set.
  const std::uint32_t reported = result == 0 ? REGEX_MAX_RANGES : std::uint32_t(result);
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(state->data());
  wanted = std::min({wanted, groups_ + 1, REGEX_MAX_RANGES});
  for (std::uint32_t k = 0; k < wanted; ++k) {
    const PCRE2_SIZE from = ovector[2 * k];
    if (k < reported && from != PCRE2_UNSET)
      spans[k] = {std::uint32_t(from), std::uint32_t(ovector[2 * k + 1] - from)};
    else
      spans[k] = {std::uint32_t(start), 0};
  }
  return regex_status::match;
}

}  // namespace Velk
