#include "support/core/byte_search.h"

#include <cstring>
#if defined(_WIN32)
#include <algorithm>
#include <functional>
#endif

#include "support/core/ascii.h"

namespace Velk {
namespace {

#if defined(_WIN32)
// The Windows C library has no memmem: the same search by the standard
// library's Boyer-Moore searcher, which is linear in the haystack too.
const void* memmem(const void* hay, std::size_t len, const void* needle, std::size_t count) {
  const char* first = static_cast<const char*>(hay);
  const char* pattern = static_cast<const char*>(needle);
  const char* found =
      std::search(first, first + len, std::boyer_moore_searcher(pattern, pattern + count));
  return found == first + len ? nullptr : found;
}
#endif

// How common a byte is in text, source code and logs (higher = more
// common); letters rank by English frequency. Only the order matters.
struct byte_ranks {
  unsigned char rank[256];
  constexpr byte_ranks() : rank() {
    const char* common = "etaoinsrhldcumfpgwybvkxjqz";
    for (int i = 0; common[i]; ++i) {
      rank[unsigned(common[i])] = static_cast<unsigned char>(200 - i * 4);
      rank[unsigned(common[i]) - 32] = static_cast<unsigned char>(120 - i * 3);
    }
    for (int d = '0'; d <= '9'; ++d) rank[d] = 150;
    const char* punctuation = " \n\t/.:-=_,()\"';[]{}<>#*+&|!?@$%\\\r";
    for (int i = 0; punctuation[i]; ++i)
      rank[unsigned(punctuation[i])] = static_cast<unsigned char>(i == 0 ? 255 : 160 - i * 3);
  }
};
constexpr byte_ranks kRanks{};

std::size_t rarest_offset(const char* needle, std::size_t count, bool folded) {
  std::size_t best = 0;
  unsigned best_rank = 256;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char ch = static_cast<unsigned char>(needle[i]);
    if (folded) ch = ascii::to_lower(char(ch));
    if (kRanks.rank[ch] < best_rank) {
      best_rank = kRanks.rank[ch];
      best = i;
    }
  }
  return best;
}

}  // namespace

const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count) noexcept {
  if (count > len) return nullptr;
  if (count == 1) return static_cast<const char*>(std::memchr(hay, needle[0], len));
  const std::size_t k = rarest_offset(needle, count, false);
  const int rare = static_cast<unsigned char>(needle[k]);
  // Candidates for the rare byte lie in [hay + k, hay + len - count + k].
  const char* next = hay + k;
  const char* const stop = hay + (len - count) + k + 1;
  std::size_t misses = 0;
  while (next < stop) {
    const char* hit = static_cast<const char*>(std::memchr(next, rare, std::size_t(stop - next)));
    if (!hit) return nullptr;
    const char* candidate = hit - k;
    if (std::memcmp(candidate, needle, count) == 0) return candidate;
    next = hit + 1;
    // Dense false candidates: the linear-time search is the better bet.
    if (++misses > 64 && std::size_t(next - hay) < misses * 16)
      return static_cast<const char*>(
          memmem(candidate + 1, len - std::size_t(candidate + 1 - hay), needle, count));
  }
  return nullptr;
}

const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count) noexcept {
  if (count > len) return nullptr;
  const std::size_t k = rarest_offset(needle, count, true);
  const int lower = ascii::to_lower(needle[k]);
  const int upper = ascii::to_upper(needle[k]);
  const char* const stop = hay + (len - count) + k + 1;
  // The next occurrence of each case, rescanned only once passed, so that a
  // case that never occurs costs one scan in all.
  const char* next_lower = hay + k;
  const char* next_upper = lower == upper ? stop : hay + k;
  const char* from = hay + k;
  for (;;) {
    if (next_lower != stop && next_lower < from) next_lower = from;
    if (next_upper != stop && next_upper < from) next_upper = from;
    if (next_lower != stop && next_lower == from) {
      const void* hit = std::memchr(from, lower, std::size_t(stop - from));
      next_lower = hit ? static_cast<const char*>(hit) : stop;
    }
    if (next_upper != stop && next_upper == from) {
      const void* hit = std::memchr(from, upper, std::size_t(stop - from));
      next_upper = hit ? static_cast<const char*>(hit) : stop;
    }
    const char* hit = next_lower < next_upper ? next_lower : next_upper;
    if (hit == stop) return nullptr;
    const char* candidate = hit - k;
    if (ascii::equal_folded(candidate, needle, count)) return candidate;
    from = hit + 1;
  }
}

}  // namespace Velk
