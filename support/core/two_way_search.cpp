#include "support/core/two_way_search.h"

#include <algorithm>

#include "support/core/ascii.h"

namespace Velk {
namespace {

// The byte a comparison sees: as it is, or with ASCII letters folded.
struct exact_key {
  static unsigned of(char ch) { return static_cast<unsigned char>(ch); }
};
struct folded_key {
  static unsigned of(char ch) { return ascii::to_lower(ch); }
};

// The maximal suffix of x[0, m) under the byte order (or its reverse): the
// index just before it, and its period.
template <class Key>
std::ptrdiff_t maximal_suffix(const char* x, std::ptrdiff_t m, bool reversed,
                              std::ptrdiff_t& period) {
  std::ptrdiff_t before = -1, j = 0, k = 1, p = 1;
  while (j + k < m) {
    const unsigned a = Key::of(x[j + k]), b = Key::of(x[before + k]);
    if (reversed ? a > b : a < b) {
      j += k;
      k = 1;
      p = j - before;
    } else if (a == b) {
      if (k != p) {
        ++k;
      } else {
        j += p;
        k = 1;
      }
    } else {
      before = j;
      j = before + 1;
      k = p = 1;
    }
  }
  period = p;
  return before;
}

template <class Key>
bool equal_keys(const char* a, const char* b, std::ptrdiff_t n) {
  for (std::ptrdiff_t i = 0; i < n; ++i)
    if (Key::of(a[i]) != Key::of(b[i])) return false;
  return true;
}

// The needle x[0, m) is cut at its critical factorization x[0, ell] x[ell+1,
// m). Each window compares the right part left to right, then the left part
// right to left; a mismatch on the right shifts by the comparisons that
// succeeded, a full match of the right part by the period. When the needle is
// periodic, the prefix known to match after a period shift is remembered and
// not compared again; that is what keeps the comparisons below 2n.
template <class Key>
const char* search(const char* y, std::ptrdiff_t n, const char* x, std::ptrdiff_t m,
                   std::size_t& compared) {
  std::ptrdiff_t p, q;
  const std::ptrdiff_t forward = maximal_suffix<Key>(x, m, false, p);
  const std::ptrdiff_t backward = maximal_suffix<Key>(x, m, true, q);
  const std::ptrdiff_t ell = forward > backward ? forward : backward;
  std::ptrdiff_t period = forward > backward ? p : q;
  const bool periodic = period + ell + 1 <= m && equal_keys<Key>(x, x + period, ell + 1);
  if (!periodic) period = std::max(ell + 1, m - ell - 1) + 1;

  std::ptrdiff_t j = 0, memory = -1;
  while (j <= n - m) {
    const std::ptrdiff_t from = std::max(ell, memory) + 1;
    std::ptrdiff_t i = from;
    while (i < m && Key::of(x[i]) == Key::of(y[i + j])) ++i;
    compared += std::size_t(i - from) + (i < m ? 1 : 0);
    if (i < m) {
      j += i - ell;
      memory = -1;
      continue;
    }
    i = ell;
    while (i > memory && Key::of(x[i]) == Key::of(y[i + j])) --i;
    compared += std::size_t(ell - i) + (i > memory ? 1 : 0);
    if (i <= memory) return y + j;
    j += period;
    if (periodic) memory = m - period - 1;
  }
  return nullptr;
}

}  // namespace

const char* two_way_find(const char* hay, std::size_t len, const char* needle,
                         std::size_t count, bool folded, search_work* work) noexcept {
  if (count == 0 || count > len) return nullptr;
  std::size_t compared = 0;
  const auto n = std::ptrdiff_t(len), m = std::ptrdiff_t(count);
  const char* hit = folded ? search<folded_key>(hay, n, needle, m, compared)
                           : search<exact_key>(hay, n, needle, m, compared);
  if (work) {
    work->compared += compared;
    work->two_way = true;
  }
  return hit;
}

}  // namespace Velk
