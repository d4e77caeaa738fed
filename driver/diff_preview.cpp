#include "driver/diff_preview.h"

#include "driver/diff_colors.h"
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

}  // namespace Velk
