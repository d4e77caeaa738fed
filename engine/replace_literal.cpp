// The four literal loops. Each prepares one byte_finder for the find text
// (support/core/byte_search.h). The expanding loops copy through the
// matches in one scan unless they keep a log; the others search once per
// match.
#include <algorithm>

#include "engine/inplace_rewriter.h"
#include "engine/literal_copy.h"
#include "engine/replace_all.h"
#include "support/core/byte_search.h"

namespace Velk {
namespace {

using size_type = narrow_buffer::size_type;
constexpr size_type npos = narrow_buffer::npos;

// The first match in text[pos, length); npos when none.
size_type find_from(const byte_finder& finder, const char* text, size_type length,
                    size_type pos) {
  const char* hit = finder.find(text + pos, length - pos);
  return hit ? size_type(hit - text) : npos;
}

// Replaces every match left to right. The search resumes behind each
// inserted replacement, so only the original text is ever searched: the
// rewrite runs as one front-to-back pass inside the text's own block.
std::uint64_t replace_in_place(bool folded, narrow_buffer& text, const narrow_buffer& find,
                               const narrow_buffer& replacement, std::uint32_t start,
                               bool replace_all, ReplacementLog* log) {
  if (start >= text.length() || find.empty()) return 0;
  const byte_finder finder(find.c_str(), find.length(), folded);
  size_type pos = find_from(finder, text.c_str(), text.length(), start);
  if (pos == npos) return 0;
  if (!replace_all) {
    text.replace(pos, find.length(), replacement);
    if (log) log->push_back({pos, find.length(), pos, replacement.length()});
    return 1;
  }
  // One scan: a longer replacement grows the block by the buffer's growth
  // policy as the output reaches the unread text (inplace_rewriter.h).
  inplace_rewriter rewriter(text);
  std::uint64_t count = 0;
  while (pos != npos) {
    rewriter.copy_through(pos);
    rewriter.skip_to(pos + find.length());
    if (log) log->push_back({pos, find.length(), rewriter.output_length(), replacement.length()});
    rewriter.write(replacement.c_str(), replacement.length());
    ++count;
    const size_type next = find_from(finder, rewriter.unread(), rewriter.unread_length(), 0);
    pos = next == npos ? npos : rewriter.consumed() + next;
  }
  rewriter.finish();
  return count;
}

std::uint64_t replace_expanding(bool folded, const narrow_buffer& text,
                                narrow_buffer& output, const narrow_buffer& find,
                                const narrow_buffer& replacement, std::uint32_t start,
                                ReplacementLog* log) {
  output.clear();
  if (start >= text.length() || find.empty() || text.empty()) {
    output = text;
    return 0;
  }
  // One scan: the output is reserved at the estimate and grows by the
  // buffer's growth policy when a longer replacement outgrows it.
  const std::size_t want =
      std::size_t(estimate_output_size(text.length(), find.length(), replacement.length())) + 1;
  output.reserve_exact(std::min<std::size_t>(want, narrow_buffer::max_size));
  const byte_finder finder(find.c_str(), find.length(), folded);
  std::uint64_t count = 0;
  size_type copied = 0;
  bool searched = false;
  if (!log) {
    // The text before start has no match to replace.
    output.append(text.c_str(), start);
    const literal_copy done =
        append_replacing(finder, text.c_str() + start, text.length() - start, replacement, output);
    copied = start + size_type(done.read);
    count = done.count;
    searched = done.searched;
  }
  for (size_type m = searched ? npos
                              : find_from(finder, text.c_str(), text.length(), std::max(start, copied));
       m != npos; m = find_from(finder, text.c_str(), text.length(), copied)) {
    output.append(text.c_str() + copied, m - copied);
    if (log) log->push_back({m, find.length(), output.length(), replacement.length()});
    output.append(replacement);
    copied = m + find.length();
    ++count;
  }
  output.append(text.c_str() + copied, text.length() - copied);
  return count;
}

}  // namespace

std::uint32_t estimate_output_size(std::uint32_t n, std::uint32_t f, std::uint32_t r) {
  if (f >= r || f == 0) return n;
  const double estimate = double(n) + double(n) * (double(r) / double(f)) / 70.0;
  return estimate >= double(narrow_buffer::max_size) ? narrow_buffer::max_size
                                                      : std::uint32_t(estimate);
}

std::uint64_t replace_literal(narrow_buffer& text, const narrow_buffer& find,
                              const narrow_buffer& replacement, std::uint32_t start,
                              bool replace_all, ReplacementLog* log) {
  return replace_in_place(false, text, find, replacement, start, replace_all, log);
}
std::uint64_t ireplace_literal(narrow_buffer& text, const narrow_buffer& find,
                               const narrow_buffer& replacement, std::uint32_t start,
                               bool replace_all, ReplacementLog* log) {
  return replace_in_place(true, text, find, replacement, start, replace_all, log);
}
std::uint64_t replace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                     const narrow_buffer& find,
                                     const narrow_buffer& replacement, std::uint32_t start,
                                     ReplacementLog* log) {
  return replace_expanding(false, text, output, find, replacement, start, log);
}
std::uint64_t ireplace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                      const narrow_buffer& find,
                                      const narrow_buffer& replacement, std::uint32_t start,
                                      ReplacementLog* log) {
  return replace_expanding(true, text, output, find, replacement, start, log);
}

}  // namespace Velk
