#include "driver/diff_preview.h"

#include "driver/unified_diff.h"

namespace Velk {

void AppendPreview(narrow_buffer& out, const narrow_buffer& name, const narrow_buffer& original,
                   const narrow_buffer& result, const ReplacementLog& log, std::uint64_t count) {
  if (count == 0) return;
  AppendUnifiedDiff(out, name, original, result, log);
}

}  // namespace Velk
