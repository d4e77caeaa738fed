// The four literal loops. The scans are the buffer's own find (memmem) and
// ifind (memchr for either case of the first byte).
#include "engine/inplace_rewriter.h"
#include "engine/replace_all.h"

namespace Velk {
namespace {

using size_type = narrow_buffer::size_type;
constexpr size_type npos = narrow_buffer::npos;

size_type find_exact(const narrow_buffer& text, const narrow_buffer& find, size_type pos) {
  return text.find(find, pos);
}
size_type find_folded(const narrow_buffer& text, const narrow_buffer& find, size_type pos) {
  return text.ifind(find, pos);
}
using search_fn = size_type (*)(const narrow_buffer&, const narrow_buffer&, size_type);

// Replaces every match left to right. The search resumes behind each
// inserted replacement, so only the original text is ever searched: the
// rewrite runs as one front-to-back pass inside the text's own block.
std::uint64_t replace_in_place(search_fn search, narrow_buffer& text,
                               const narrow_buffer& find, const narrow_buffer& replacement,
                               std::uint32_t start, bool replace_all, ReplacementLog* log) {
  if (start >= text.length() || find.empty()) return 0;
  size_type pos = search(text, find, start);
  if (pos == npos) return 0;
  if (!replace_all) {
    text.replace(pos, find.length(), replacement);
    if (log) log->push_back({pos, find.length(), pos, replacement.length()});
    return 1;
  }
  // A longer replacement grows the text: count first, so that the block
  // grows once, to the exact result.
  if (replacement.length() > find.length()) {
    std::size_t matches = 0;
    for (size_type m = pos; m != npos; m = search(text, find, m + find.length())) ++matches;
    text.reserve_exact(std::min<std::size_t>(
        std::size_t(text.length()) + 1 + matches * (replacement.length() - find.length()),
        narrow_buffer::max_size));
  }
  inplace_rewriter rewriter(text);
  std::uint64_t count = 0;
  while (pos != npos) {
    rewriter.copy_through(pos);
    rewriter.skip_to(pos + find.length());
    if (log) log->push_back({pos, find.length(), rewriter.output_length(), replacement.length()});
    rewriter.write(replacement.c_str(), replacement.length());
    ++count;
    narrow_buffer unread;
    unread.attach(rewriter.unread(), rewriter.unread_length());
    const size_type next = search(unread, find, 0);
    pos = next == npos ? npos : rewriter.consumed() + next;
  }
  rewriter.finish();
  return count;
}

std::uint64_t replace_expanding(search_fn search, const narrow_buffer& text,
                                narrow_buffer& output, const narrow_buffer& find,
                                const narrow_buffer& replacement, std::uint32_t start,
                                ReplacementLog* log) {
  output.clear();
  if (start >= text.length() || find.empty() || text.empty()) {
    output = text;
    return 0;
  }
  std::size_t want =
      std::size_t(estimate_output_size(text.length(), find.length(), replacement.length())) + 1;
  // A longer replacement can outgrow the estimate, and growing a whole-file
  // block late costs a second block of its size; one counting scan first
  // reserves the exact result instead.
  if (replacement.length() > find.length()) {
    std::size_t matches = 0;
    for (size_type m = search(text, find, start); m != npos;
         m = search(text, find, m + find.length()))
      ++matches;
    want = std::max(want, std::size_t(text.length()) + 1 +
                              matches * (replacement.length() - find.length()));
  }
  output.reserve_exact(std::min<std::size_t>(want, narrow_buffer::max_size));
  std::uint64_t count = 0;
  size_type copied = 0;
  for (size_type m = search(text, find, start); m != npos; m = search(text, find, copied)) {
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
  return replace_in_place(find_exact, text, find, replacement, start, replace_all, log);
}
std::uint64_t ireplace_literal(narrow_buffer& text, const narrow_buffer& find,
                               const narrow_buffer& replacement, std::uint32_t start,
                               bool replace_all, ReplacementLog* log) {
  return replace_in_place(find_folded, text, find, replacement, start, replace_all, log);
}
std::uint64_t replace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                     const narrow_buffer& find,
                                     const narrow_buffer& replacement, std::uint32_t start,
                                     ReplacementLog* log) {
  return replace_expanding(find_exact, text, output, find, replacement, start, log);
}
std::uint64_t ireplace_literal_expand(const narrow_buffer& text, narrow_buffer& output,
                                      const narrow_buffer& find,
                                      const narrow_buffer& replacement, std::uint32_t start,
                                      ReplacementLog* log) {
  return replace_expanding(find_folded, text, output, find, replacement, start, log);
}

}  // namespace Velk
