#include "driver/diff_preview.h"

#include "driver/diff_colors.h"
#include "driver/replace_step.h"
#include "driver/unified_diff.h"

namespace Velk {

void AppendPreview(narrow_buffer& out, const narrow_buffer& name, const narrow_buffer& original,
                   const narrow_buffer& result, const ReplacementLog& log, std::uint64_t count,
                   bool colored) {
  if (count == 0) return;
  if (!colored) {
    AppendUnifiedDiff(out, name, original, result, log);
  } else {
    narrow_buffer plain;
    AppendUnifiedDiff(plain, name, original, result, log);
    AppendColoredDiff(out, plain);
  }
}

std::uint64_t ReplaceAndPreview(const RUN_SETTINGS& settings, const Matcher& matcher,
                                const narrow_buffer& name, narrow_buffer& content,
                                narrow_buffer& scratch, ReplacementLog& log, narrow_buffer& out) {
  narrow_buffer original;
  const std::uint64_t count =
      ReplaceKeepingInput(settings, matcher, content, scratch, original, log);
  AppendPreview(out, name, original, content, log, count, settings.colored);
  return count;
}

}  // namespace Velk
