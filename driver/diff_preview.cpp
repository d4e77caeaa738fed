#include "driver/diff_preview.h"

#include "driver/std_streams.h"
#include "driver/unified_diff.h"

namespace Velk {

void CDiffPreview::Write(const narrow_buffer& name, const narrow_buffer& original,
                         const narrow_buffer& result, const ReplacementLog& log,
                         std::uint32_t count) {
  if (count == 0) return;
  out_.clear();
  if (IsBinaryText(original)) {
    if (ChangesText(original, result, log)) AppendBinaryNotice(out_, name, count);
  } else {
    AppendUnifiedDiff(out_, name, original, result, log);
  }
  if (!out_.empty()) WriteStandardOutput(out_);
}

}  // namespace Velk
