#include "driver/replace_step.h"

#include "engine/compile_matcher.h"
#include "engine/replace_all.h"

namespace Velk {

Matcher CompileFind(const RUN_SETTINGS& settings, narrow_buffer* reason) {
  return compile_matcher(
      settings.find_text,
      {.ignore_case = settings.ignore_case, .newline_sensitive = !settings.ignore_newline}, reason);
}

std::uint64_t ReplaceAll(const RUN_SETTINGS& settings, const Matcher& matcher,
                         narrow_buffer& content, narrow_buffer& scratch, ReplacementLog* log) {
  std::uint64_t count = 0;
  switch (settings.method) {
    case FindMethod::Literal:
    case FindMethod::LiteralNoCase: {
      const bool exact = settings.method == FindMethod::Literal;
      if (!settings.expand)
        return exact ? replace_literal(content, settings.find_text, settings.replacement, 0,
                                       true, log)
                     : ireplace_literal(content, settings.find_text, settings.replacement, 0,
                                        true, log);
      // The first match is found here, so an input without one is never
      // copied, and the loop starts at it (it copies the bytes before it).
      const narrow_buffer::size_type first =
          exact ? content.find(settings.find_text) : content.ifind(settings.find_text);
      if (first == narrow_buffer::npos) return 0;
      count = exact ? replace_literal_expand(content, scratch, settings.find_text,
                                             settings.replacement, first, log)
                    : ireplace_literal_expand(content, scratch, settings.find_text,
                                              settings.replacement, first, log);
      break;
    }
    case FindMethod::Regex:
      if (!settings.expand) return replace_regex(content, matcher, settings.replacement, {}, log);
      count = replace_regex_expand(content, scratch, matcher, settings.replacement, {}, log);
      if (count == 0) return 0;
      break;
    case FindMethod::None:
      return 0;
  }
  content.swap(scratch);
  return count;
}

std::uint64_t ReplaceKeepingInput(const RUN_SETTINGS& settings, const Matcher& matcher,
                                  narrow_buffer& content, narrow_buffer& scratch,
                                  narrow_buffer& original, ReplacementLog& log) {
  log.clear();
  // The in-place loops edit a private copy of the shared storage, so
  // original keeps the input; the expanding loops leave it in scratch when
  // they replaced something.
  if (!settings.expand) original = content;
  const std::uint64_t count = ReplaceAll(settings, matcher, content, scratch, &log);
  if (settings.expand) original = count ? scratch : content;
  return count;
}

}  // namespace Velk
