#include "support/core/byte_search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "support/core/ascii.h"
#include "support/core/two_way_search.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VELK_SSE2_FILTER 1
// Not on Windows, where GCC does not keep 32-byte values on the stack
// aligned in every case.
#ifndef _WIN32
#define VELK_AVX2_FILTER 1
#endif
#endif

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

unsigned char key(char ch, bool folded) {
  return folded ? ascii::to_lower(ch) : static_cast<unsigned char>(ch);
}

// The offset of the rarest byte of needle[0, count), skipping offset `not_at`
// and bytes equal to `not_value` (when given); count when none is left.
std::size_t rarest_offset(const char* needle, std::size_t count, bool folded,
                          std::size_t not_at = SIZE_MAX, int not_value = -1) {
  std::size_t best = count;
  unsigned best_rank = 256;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char ch = key(needle[i], folded);
    if (i == not_at || int(ch) == not_value) continue;
    if (kRanks.rank[ch] < best_rank) {
      best_rank = kRanks.rank[ch];
      best = i;
    }
  }
  return best;
}

// Length of the common prefix of a[0, n) and b[0, n), a word at a time:
// the first differing byte of two little-endian words is the lowest set
// byte of their difference. A tail shorter than a word is compared as the
// word that ends at n (its bytes before the tail are known to agree).
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
template <class Word>
bool word_differs(const char* a, const char* b, std::size_t at, std::size_t& same) {
  Word x, y;
  std::memcpy(&x, a + at, sizeof x);
  std::memcpy(&y, b + at, sizeof y);
  if (x == y) return false;
  same = at + std::size_t(__builtin_ctzll(std::uint64_t(x ^ y))) / 8;
  return true;
}

inline __attribute__((always_inline)) std::size_t common_prefix(const char* a, const char* b,
                                                                std::size_t n) {
  std::size_t same = n;
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
      if (word_differs<std::uint64_t>(a, b, i, same)) return same;
    if (i < n) word_differs<std::uint64_t>(a, b, n - 8, same);
  } else if (n >= 4) {
    if (!word_differs<std::uint32_t>(a, b, 0, same)) word_differs<std::uint32_t>(a, b, n - 4, same);
  } else {
    for (std::size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return i;
  }
  return same;
}
#else
std::size_t common_prefix(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}
#endif

std::size_t common_prefix_folded(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  while (i < n && ascii::to_lower(a[i]) == ascii::to_lower(b[i])) ++i;
  return i;
}

// The candidate scans are fast on ordinary text but may compare up to the
// needle's length at every candidate. Once their comparisons exceed two per
// byte passed (plus one needle's worth), the two-way search takes over, so
// that a whole search stays linear in the text. Only a rejection after at
// least kCostly matching bytes checks the budget: cheaper ones cost at most
// that much per candidate position, which keeps the common case lean.
constexpr std::size_t kCostly = 4;

// Verifies the candidates of one search, left to right.
class verifier {
 public:
  enum verdict { no, match, costly };

  verifier(const char* hay, std::size_t len, const char* needle, std::size_t count,
           bool folded, search_work* work)
      : hay_(hay), len_(len), needle_(needle), count_(count), folded_(folded), work_(work) {}
  ~verifier() {
    if (work_) work_->compared += compared_;
  }

  // Whether the candidate at hay + at is a match, or verifying has grown
  // too costly to go on with candidates.
  verdict test(std::size_t at) {
    const char* candidate = hay_ + at;
    const std::size_t same = folded_ ? common_prefix_folded(candidate, needle_, count_)
                                     : common_prefix(candidate, needle_, count_);
    if (same == count_) {
      compared_ += count_;
      return match;
    }
    compared_ += same + 1;
    return same >= kCostly && compared_ > 2 * at + count_ ? costly : no;
  }

  const char* hay_at(std::size_t at) const { return hay_ + at; }
  std::size_t length() const { return len_; }

  // The two-way search's answer for the text after a costly candidate.
  const char* two_way_after(std::size_t at) const {
    return two_way_find(hay_ + at + 1, len_ - at - 1, needle_, count_, folded_, work_);
  }

 private:
  const char* hay_;
  std::size_t len_;
  const char* needle_;
  std::size_t count_;
  bool folded_;
  search_work* work_;
  std::size_t compared_ = 0;
};

// The scans hand each candidate position to a visitor, which returns the
// first position it still wants (every position after a match is skipped
// until its end) or kStop.
constexpr std::size_t kStop = SIZE_MAX;

// Looks for the first match only.
class first_match {
 public:
  static constexpr bool gathers = false;  // stops at the first
  explicit first_match(verifier& check) : check_(check) {}
  std::size_t operator()(std::size_t at) {
    switch (check_.test(at)) {
      case verifier::no:
        return at + 1;
      case verifier::match:
        result_ = check_.hay_at(at);
        return kStop;
      case verifier::costly:
        result_ = check_.two_way_after(at);
        return kStop;
    }
    return kStop;
  }
  const char* result() const { return result_; }

 private:
  verifier& check_;
  const char* result_ = nullptr;
};

// Copies the text through each match, the match replaced, as long as out
// has room; stops at a costly candidate, which the caller searches on with
// the one-match search (and its two-way fallback).
class replacing_copy {
  // Copies out a gap or the replacement: the short ones (most, in dense
  // matches) in 16-byte steps, the last overlapping the one before, which
  // keeps memcpy's call (and the filter's registers saved around it) off
  // the common path.
  static void copy(char* to, const char* from, std::size_t n) {
    constexpr std::size_t kStep = 16, kInline = 256;
    if (n >= kStep && n <= kInline) {
      for (std::size_t i = 0; i + kStep < n; i += kStep) std::memcpy(to + i, from + i, kStep);
      std::memcpy(to + n - kStep, from + n - kStep, kStep);
    } else if (n >= 8 && n < kStep) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else {
      std::memcpy(to, from, n);
    }
  }

 public:
  static constexpr bool gathers = true;  // goes on to the end, mostly
  replacing_copy(verifier& check, std::size_t count, const byte_finder::copy_target& to)
      : check_(check), count_(count), to_(to) {}
  std::size_t operator()(std::size_t at) {
    switch (check_.test(at)) {
      case verifier::no:
        return at + 1;
      case verifier::costly:
        done_.why = byte_finder::copy_done::handed_back;
        return kStop;
      case verifier::match:
        break;
    }
    const std::size_t gap = at - done_.read;
    if (gap + to_.with_length > to_.room - done_.written) {
      done_.why = byte_finder::copy_done::no_room;
      return kStop;
    }
    // A short gap is copied as a fixed 128 bytes where the text and the
    // room have them (what follows is overwritten next): no loop whose
    // length varies from match to match, so no mispredicted exit.
    constexpr std::size_t kOvercopy = 128;
    if (gap <= kOvercopy && done_.read + kOvercopy <= check_.length() &&
        kOvercopy <= to_.room - done_.written) {
      char* to = to_.out + done_.written;
      const char* from = check_.hay_at(done_.read);
      for (std::size_t i = 0; i < kOvercopy; i += 32) std::memcpy(to + i, from + i, 32);
    } else {
      copy(to_.out + done_.written, check_.hay_at(done_.read), gap);
    }
    copy(to_.out + done_.written + gap, to_.with, to_.with_length);
    done_.written += gap + to_.with_length;
    done_.read = at + count_;
    ++done_.count;
    return done_.read;
  }
  const byte_finder::copy_done& done() const { return done_; }

 private:
  verifier& check_;
  std::size_t count_;
  const byte_finder::copy_target& to_;
  byte_finder::copy_done done_;
};

#ifdef VELK_SSE2_FILTER
#ifdef __SSE2__
bool have_sse2() { return true; }
#else
bool have_sse2() {
  static const bool yes = __builtin_cpu_supports("sse2");
  return yes;
}
#endif
#ifdef VELK_AVX2_FILTER
// AVX2 compares 32 candidate positions at once, where the processor has it.
bool have_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return yes;
}
#endif

// The block filters: the candidates among the `width` positions at block
// whose two filter bytes pass, one bit each. The loads read block[at, at +
// width) for both offsets, which the callers keep inside the text.
struct sse2_filter {
  static constexpr std::size_t width = 16;
  __m128i rare_value, rare_fold, second_value, second_fold;
  std::size_t rare_at, second_at;

  __attribute__((target("sse2"))) sse2_filter(const unsigned char (*lanes)[16],
                                              std::size_t rare, std::size_t second)
      : rare_value(_mm_load_si128(reinterpret_cast<const __m128i*>(lanes[0]))),
        rare_fold(_mm_load_si128(reinterpret_cast<const __m128i*>(lanes[1]))),
        second_value(_mm_load_si128(reinterpret_cast<const __m128i*>(lanes[2]))),
        second_fold(_mm_load_si128(reinterpret_cast<const __m128i*>(lanes[3]))),
        rare_at(rare),
        second_at(second) {}

  __attribute__((target("sse2"))) std::uint64_t block(const char* block) const {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + rare_at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + second_at));
    const __m128i hit_a = _mm_cmpeq_epi8(_mm_or_si128(a, rare_fold), rare_value);
    const __m128i hit_b = _mm_cmpeq_epi8(_mm_or_si128(b, second_fold), second_value);
    return unsigned(_mm_movemask_epi8(_mm_and_si128(hit_a, hit_b)));
  }
};

#ifdef VELK_AVX2_FILTER
struct avx2_filter {
  static constexpr std::size_t width = 32;
  __m256i rare_value, rare_fold, second_value, second_fold;
  std::size_t rare_at, second_at;

  __attribute__((target("avx2"))) avx2_filter(const unsigned char (*lanes)[16],
                                              std::size_t rare, std::size_t second)
      : rare_value(_mm256_set1_epi8(char(lanes[0][0]))),
        rare_fold(_mm256_set1_epi8(char(lanes[1][0]))),
        second_value(_mm256_set1_epi8(char(lanes[2][0]))),
        second_fold(_mm256_set1_epi8(char(lanes[3][0]))),
        rare_at(rare),
        second_at(second) {}

  __attribute__((target("avx2"))) std::uint64_t block(const char* block) const {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + rare_at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + second_at));
    const __m256i hit_a = _mm256_cmpeq_epi8(_mm256_or_si256(a, rare_fold), rare_value);
    const __m256i hit_b = _mm256_cmpeq_epi8(_mm256_or_si256(b, second_fold), second_value);
    return std::uint32_t(_mm256_movemask_epi8(_mm256_and_si256(hit_a, hit_b)));
  }
};

#endif

// Candidate positions are [0, positions), positions >= width: pairs of
// blocks, then single blocks, then one last block that ends at the last
// position and overlaps the one before it (its positions already looked at
// are masked off). A block at p reads at most up to p + width - 1 + count -
// 1, the last byte of the text. Inlined into each filter's own scan, which
// is compiled for that filter's instructions.
template <class Filter, class Visit>
__attribute__((always_inline)) inline void scan_blocks(const Filter& f, const char* hay,
                                                       std::size_t positions, Visit& visit) {
  constexpr std::size_t width = Filter::width;
  std::size_t p = 0;
  std::size_t wanted = 0;
  for (;;) {
    std::uint64_t mask;
    std::size_t step = width;
    if (p + 2 * width <= positions) {
      mask = f.block(hay + p) | f.block(hay + p + width) << width;
      step = 2 * width;
    } else if (p + width <= positions) {
      mask = f.block(hay + p);
    } else if (p < positions) {
      const std::size_t last = positions - width;
      mask = f.block(hay + last) & (~std::uint64_t(0) << (p - last));
      p = last;
    } else {
      return;
    }
    while (mask != 0) {
      const std::size_t at = p + std::size_t(__builtin_ctzll(mask));
      mask &= mask - 1;
      if (at < wanted) continue;
      wanted = visit(at);
      if (wanted == kStop) return;
    }
    p = std::max(p + step, wanted);
  }
}

template <class Visit>
__attribute__((target("sse2"))) void scan_sse2(const unsigned char (*lanes)[16],
                                               std::size_t rare_at, std::size_t second_at,
                                               const char* hay, std::size_t positions,
                                               Visit& visit) {
  scan_blocks(sse2_filter(lanes, rare_at, second_at), hay, positions, visit);
}

#ifdef VELK_AVX2_FILTER
// The candidates among positions [p, p + 64) (those below `positions`),
// one bit each; p < positions and positions >= 32. Short of a full pair of
// blocks, the last block ends at the last position and overlaps the one
// before it.
__attribute__((target("avx2"), always_inline)) inline std::uint64_t pair_mask(
    const avx2_filter& f, const char* hay, std::size_t p, std::size_t positions) {
  constexpr std::size_t width = avx2_filter::width;
  if (p + 2 * width <= positions) return f.block(hay + p) | f.block(hay + p + width) << width;
  const std::size_t last = positions - width;
  if (p > last) return f.block(hay + last) >> (p - last);
  return f.block(hay + p) | f.block(hay + last) << (last - p);
}

// Gathers the candidates of many blocks into a list first and then hands
// them to visit in order. Where candidates are dense, a block's bits are
// written out without a branch on how many it has: testing each block and
// looping over a varying few would mispredict about once per match. Where
// they are sparse, empty blocks are skipped, which is then the branch that
// goes one way. Each batch decides by the density of the one before.
template <bool kDense>
__attribute__((target("avx2,popcnt"), always_inline)) inline std::size_t gather(
    const avx2_filter& f, const char* hay, std::size_t& p, std::size_t end,
    std::size_t positions, std::uint32_t* found, std::size_t most) {
  constexpr std::size_t kStep = 2 * avx2_filter::width;
  constexpr unsigned kWritten = 4;  // bits written out unconditionally
  const std::size_t base = p;
  std::size_t n = 0;
  for (; p < end && n < most; p += kStep) {
    std::uint64_t mask = pair_mask(f, hay, p, positions);
    if (!kDense && mask == 0) continue;
    const unsigned count = unsigned(__builtin_popcountll(mask));
    const std::uint32_t offset = std::uint32_t(p - base);
    std::uint32_t* to = found + n;
    // An empty mask's writes land beyond the list and are overwritten.
    for (unsigned i = 0; i < kWritten; ++i) {
      to[i] = offset + std::uint32_t(__builtin_ctzll(mask | std::uint64_t(1) << 63));
      mask &= mask - 1;
    }
    for (unsigned i = kWritten; i < count; ++i) {
      to[i] = offset + std::uint32_t(__builtin_ctzll(mask));
      mask &= mask - 1;
    }
    n += count;
  }
  if (p > end) p = end;
  return n;
}

template <class Visit>
__attribute__((target("avx2,popcnt"), always_inline)) inline void scan_gathered(
    const avx2_filter& f, const char* hay, std::size_t positions, Visit& visit) {
  constexpr std::size_t kBatch = 512;      // candidates verified together
  constexpr std::size_t kSpan = 1 << 20;   // positions gathered at most per batch
  constexpr std::size_t kDenseEvery = 512; // dense: a candidate per this many positions
  std::uint32_t found[kBatch + 2 * avx2_filter::width];
  std::size_t p = 0;
  std::size_t wanted = 0;
  constexpr std::size_t kFirstBatch = 64;  // enough to tell the density
  bool dense = false;
  for (std::size_t most = kFirstBatch; p < positions; most = kBatch) {
    const std::size_t base = p;
    const std::size_t end = positions - base > kSpan ? base + kSpan : positions;
    const std::size_t n = dense ? gather<true>(f, hay, p, end, positions, found, most)
                                : gather<false>(f, hay, p, end, positions, found, most);
    dense = n * kDenseEvery >= p - base;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = base + found[i];
      if (at < wanted) continue;
      wanted = visit(at);
      if (wanted == kStop) return;
    }
  }
}

template <class Visit>
__attribute__((target("avx2,popcnt"))) void scan_avx2(const unsigned char (*lanes)[16],
                                                      std::size_t rare_at,
                                                      std::size_t second_at, const char* hay,
                                                      std::size_t positions, Visit& visit) {
  const avx2_filter f(lanes, rare_at, second_at);
  if (Visit::gathers)
    scan_gathered(f, hay, positions, visit);
  else
    scan_blocks(f, hay, positions, visit);
}
#endif  // VELK_AVX2_FILTER
#endif

}  // namespace

byte_finder::byte_finder(const char* needle, std::size_t count, bool folded) noexcept
    : needle_(needle), count_(count), folded_(folded) {
  if (count == 0) return;
  const auto filter = [&](std::size_t at) {
    filter_byte f;
    f.at = at;
    f.value = key(needle[at], folded);
    f.fold = folded && ascii::to_upper(needle[at]) != f.value ? 0x20 : 0;
    return f;
  };
  rare_ = filter(rarest_offset(needle, count, folded));
  // The second filter byte: the rarest of another value, else another
  // offset of the same (the last, or the first), else the rare byte again.
  std::size_t second = rarest_offset(needle, count, folded, rare_.at, rare_.value);
  if (second == count) second = rare_.at != count - 1 ? count - 1 : 0;
  second_ = filter(second);
  const unsigned char bytes[4] = {rare_.value, rare_.fold, second_.value, second_.fold};
  for (int i = 0; i < 4; ++i) std::memset(lanes_[i], bytes[i], sizeof lanes_[i]);
}

template <class Visit>
bool byte_finder::visit_candidates(const char* hay, std::size_t positions, Visit& visit) const {
#ifdef VELK_SSE2_FILTER
  if (!have_sse2()) return false;
#ifdef VELK_AVX2_FILTER
  if (positions >= avx2_filter::width && have_avx2()) {
    scan_avx2(lanes_, rare_.at, second_.at, hay, positions, visit);
    return true;
  }
#endif
  if (positions >= sse2_filter::width) {
    scan_sse2(lanes_, rare_.at, second_.at, hay, positions, visit);
    return true;
  }
  std::size_t wanted = 0;
  for (std::size_t p = 0; p < positions; ++p) {
    if (p < wanted || !rare_.passes(hay + p) || !second_.passes(hay + p)) continue;
    wanted = visit(p);
    if (wanted == kStop) break;
  }
  return true;
#else
  (void)hay, (void)positions, (void)visit;
  return false;
#endif
}

const char* byte_finder::find(const char* hay, std::size_t len, search_work* work) const noexcept {
  if (count_ > len) return nullptr;
  if (count_ == 0) return hay;
  if (count_ == 1 && !folded_) return static_cast<const char*>(std::memchr(hay, needle_[0], len));
  {
    verifier check(hay, len, needle_, count_, folded_, work);
    first_match first(check);
    if (visit_candidates(hay, len - count_ + 1, first)) return first.result();
  }
  return scan_with_memchr(hay, len, work);
}

byte_finder::copy_done byte_finder::copy_replacing(const char* hay, std::size_t len,
                                                   const copy_target& to) const noexcept {
  copy_done none;
  if (count_ == 0) none.why = copy_done::handed_back;
  if (count_ == 0 || count_ > len) return none;
  verifier check(hay, len, needle_, count_, folded_, nullptr);
  replacing_copy copy(check, count_, to);
  if (!visit_candidates(hay, len - count_ + 1, copy)) {
    copy_done rest;
    rest.why = copy_done::handed_back;
    return rest;
  }
  return copy.done();
}

// memchr for each case of the rare byte; the next occurrence of each is
// rescanned only once passed, so that a case that never occurs costs one
// scan in all.
const char* byte_finder::scan_with_memchr(const char* hay, std::size_t len,
                                          search_work* work) const {
  verifier check(hay, len, needle_, count_, folded_, work);
  first_match first(check);
  const std::size_t k = rare_.at;
  const int lower = rare_.value;
  const int upper = rare_.fold ? ascii::to_upper(char(lower)) : lower;
  const char* const stop = hay + (len - count_) + k + 1;
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
    if (first(std::size_t(hit - k - hay)) == kStop) return first.result();
    from = hit + 1;
  }
}

const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count, search_work* work) noexcept {
  return byte_finder(needle, count, false).find(hay, len, work);
}

const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count, search_work* work) noexcept {
  return byte_finder(needle, count, true).find(hay, len, work);
}

}  // namespace Velk
