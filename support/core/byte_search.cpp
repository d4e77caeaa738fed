#include "support/core/byte_search.h"

#include <cstdint>
#include <cstring>

#include "support/core/ascii.h"
#include "support/core/two_way_search.h"

namespace Velk {
namespace {

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

// Length of the common prefix of a[0, n) and b[0, n), eight bytes at a time.
std::size_t common_prefix(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

std::size_t common_prefix_folded(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  while (i < n && ascii::to_lower(a[i]) == ascii::to_lower(b[i])) ++i;
  return i;
}

// The candidate scan is fast on ordinary text but may compare up to the
// needle's length at every candidate. Once its comparisons exceed two per
// byte passed (plus one needle's worth), the two-way search takes over, so
// that a whole search stays linear in the text. Only a rejection after at
// least kCostly matching bytes checks the budget: cheaper ones cost at most
// that much per candidate position, which keeps the common case lean.
constexpr std::size_t kCostly = 4;
bool over_budget(std::size_t compared, std::size_t passed, std::size_t count) {
  return compared > 2 * passed + count;
}

}  // namespace

const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count, search_work* work) noexcept {
  if (count > len) return nullptr;
  if (count == 1) return static_cast<const char*>(std::memchr(hay, needle[0], len));
  const std::size_t k = rarest_offset(needle, count, false);
  const int rare = static_cast<unsigned char>(needle[k]);
  // Candidates for the rare byte lie in [hay + k, hay + len - count + k].
  const char* next = hay + k;
  const char* const stop = hay + (len - count) + k + 1;
  std::size_t compared = 0;
  const char* found = nullptr;
  while (next < stop) {
    const char* hit = static_cast<const char*>(std::memchr(next, rare, std::size_t(stop - next)));
    if (!hit) break;
    const char* candidate = hit - k;
    const std::size_t same = common_prefix(candidate, needle, count);
    if (same == count) {
      compared += count;
      found = candidate;
      break;
    }
    compared += same + 1;
    next = hit + 1;
    if (same >= kCostly && over_budget(compared, std::size_t(candidate - hay), count)) {
      const char* rest = candidate + 1;
      found = two_way_find(rest, len - std::size_t(rest - hay), needle, count, false, work);
      break;
    }
  }
  if (work) work->compared += compared;
  return found;
}

const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count, search_work* work) noexcept {
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
  std::size_t compared = 0;
  const char* found = nullptr;
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
    if (hit == stop) break;
    const char* candidate = hit - k;
    const std::size_t same = common_prefix_folded(candidate, needle, count);
    if (same == count) {
      compared += count;
      found = candidate;
      break;
    }
    compared += same + 1;
    from = hit + 1;
    if (same >= kCostly && over_budget(compared, std::size_t(candidate - hay), count)) {
      const char* rest = candidate + 1;
      found = two_way_find(rest, len - std::size_t(rest - hay), needle, count, true, work);
      break;
    }
  }
  if (work) work->compared += compared;
  return found;
}

}  // namespace Velk
