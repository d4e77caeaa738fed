// basic_buffer: the library's one container for text and bytes.
//
// Three instantiations: narrow_buffer (char, 0-terminated), wide_buffer
// (char16_t, 0-terminated) and byte_buffer (unsigned char, no terminator).
// Storage is shared between copies and copied only before a copy is written
// (copy on write). A buffer may instead be a view over memory it does not own
// (literal, attach, subview): a view never frees, reallocates or writes that
// memory. Its capacity reads as the maximum; the first write takes a private
// copy, exactly as for a shared block, so a view is never written through.
//
// Every assigning and appending operation accepts a source that lies in the
// buffer itself (the buffer, a view of it, a pointer into it): the result is
// as if the source had been copied first. In particular a = a.subview(6)
// keeps the tail as the buffer's own text instead of leaving a view over the
// block it just released.
//
// Lengths, capacities and positions are 32-bit; npos means "not found" or
// "up to the end". Storage exhaustion throws buffer_alloc_error (a
// std::bad_alloc) and leaves the buffer unchanged; out-of-range counts are
// clipped, and out-of-range positions are the caller's error.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "support/core/ascii.h"
#include "support/core/byte_search.h"
#include "support/core/shared_ref.h"
#include "support/os/memory.h"

namespace Velk {

// The out-of-memory exception of the buffer type; what() names the failed
// allocation step.
class buffer_alloc_error : public std::bad_alloc {
 public:
  explicit buffer_alloc_error(const char* text) noexcept : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;
};

namespace buffer_detail {
[[noreturn]] inline void throw_alloc() {
  throw buffer_alloc_error("basic_buffer::__alloc - failed allocating memory");
}
[[noreturn]] inline void throw_realloc() {
  throw buffer_alloc_error(
      "basic_buffer::__realloc - failed reallocating memory");
}

// Per-element-type policy: terminator, growth rounding mask and maximum.
template <class T>
struct traits;
template <>
struct traits<char> {
  static constexpr bool terminated = true;
  static constexpr std::uint32_t mask = 0x1F;
  static constexpr std::uint32_t max = 0xFFFFFFFEu;
};
template <>
struct traits<char16_t> {
  static constexpr bool terminated = true;
  static constexpr std::uint32_t mask = 0xF;
  static constexpr std::uint32_t max = 0x7FFFFFFEu;
};
template <>
struct traits<unsigned char> {
  static constexpr bool terminated = false;
  static constexpr std::uint32_t mask = 0x1F;
  static constexpr std::uint32_t max = 0xFFFFFFFEu;
};

template <class T>
inline const T empty_string[1] = {T(0)};
}  // namespace buffer_detail

// Release frees a storage block; tests substitute a counting policy.
template <class T, class Release = release_by_free>
class basic_buffer {
  using traits = buffer_detail::traits<T>;

 public:
  using value_type = T;
  using size_type = std::uint32_t;
  static constexpr size_type npos = 0xFFFFFFFFu;
  static constexpr size_type max_size = traits::max;

  // --- construction, copy, destruction ---------------------------------

  basic_buffer() noexcept = default;
  basic_buffer(const T* text) { append(text); }  // NOLINT: implicit by design
  basic_buffer(const T* text, size_type count) { append(text, count); }
  basic_buffer(const basic_buffer& other, size_type pos, size_type count) {
    assign(other, pos, count);
  }
  basic_buffer(const basic_buffer& other) noexcept
      : length_(other.length_), capacity_(other.capacity_),
        storage_(other.storage_) {}
  basic_buffer(basic_buffer&& other) noexcept { swap(other); }
  // Copy and move assignment share or take the source's storage, except
  // from a view of this buffer's own block, which becomes the buffer's own
  // text (releasing the block first would leave the view dangling). Only
  // that case can allocate, and only when the block is shared.
  basic_buffer& operator=(const basic_buffer& other) {
    if (views_own_block(other)) return assign_own_range(other.data(), other.length_);
    storage_ = other.storage_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    return *this;
  }
  basic_buffer& operator=(basic_buffer&& other) {
    if (views_own_block(other)) return assign_own_range(other.data(), other.length_);
    if (this != &other) {
      basic_buffer dropped;
      swap(dropped);
      swap(other);
    }
    return *this;
  }
  ~basic_buffer() = default;

  // A view over a zero-terminated constant; nothing is copied.
  static basic_buffer literal(const T* text) noexcept {
    basic_buffer view;
    view.attach(text, string_length(text));
    return view;
  }

  // Releases the current storage and becomes a view over [data, data+count).
  // Memory inside the buffer's own block would be freed by that release, so
  // such a range becomes the buffer's own text instead.
  void attach(const T* data, size_type count) {
    if (in_own_block(data)) {
      assign_own_range(data, count);
      return;
    }
    storage_.reset(const_cast<T*>(data), nullptr);
    length_ = count;
    capacity_ = max_size;
  }

  // Turns a view into an owned copy (capacity length+1); no-op otherwise.
  void own() {
    if (!is_view()) return;
    share_counter* counter = new_share_counter();
    if (!counter) buffer_detail::throw_alloc();
    T* block = static_cast<T*>(std::malloc(block_bytes(size_t(length_) + 1)));
    if (!block) {
      delete_share_counter(counter);
      buffer_detail::throw_alloc();
    }
    std::memcpy(block, data(), size_t(length_) * sizeof(T));
    block[length_] = T(0);
    storage_.reset(block, counter);
    capacity_ = length_ + 1;
  }

  void swap(basic_buffer& other) noexcept {
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
    storage_.swap(other.storage_);
  }

  // --- state -----------------------------------------------------------

  size_type length() const noexcept { return length_; }
  size_type size() const noexcept { return length_; }
  size_type capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return length_ == 0; }
  T* data() noexcept { return storage_.get(); }
  const T* data() const noexcept { return storage_.get(); }
  // Never null: an unallocated buffer yields a static empty string.
  const T* c_str() const noexcept {
    return storage_.get() ? storage_.get() : buffer_detail::empty_string<T>;
  }
  const T* begin() const noexcept { return c_str(); }
  const T* end() const noexcept { return c_str() + length_; }
  T operator[](size_type i) const noexcept { return storage_.get()[i]; }
  bool is_view() const noexcept {
    return storage_.get() != nullptr && storage_.counter() == nullptr;
  }
  bool is_shared() const noexcept { return storage_.use_count() > 1; }
  std::uint32_t share_count() const noexcept { return storage_.use_count(); }

  // Sets the length after the caller filled the storage directly (for
  // example a whole-file read); n must not exceed capacity. No terminator.
  void set_length(size_type n) noexcept { length_ = n; }

  // --- the three reserve operations: the only places storage is obtained

  // Reserve for appending/inserting/erasing: un-shares, then grows by the
  // growth policy (rounded up to the mask, or by half the old capacity when
  // that is larger, so appends are amortised).
  void reserve_grow(size_t n) {
    if (n > max_size) buffer_detail::throw_realloc();
    const size_type want = size_type(n);
    // A view is treated like a shared block: writing through it would
    // change memory the buffer does not own (a literal would fault).
    if (is_shared() || is_view()) {
      copy_to_private(std::max(want, length_) | traits::mask);
      return;
    }
    if (capacity_ >= want) return;
    size_type grown = std::uint32_t(std::min<std::uint64_t>(
        std::uint64_t(want) | traits::mask, max_size));
    const size_type old = capacity_;
    if (grown / 3 < old / 2 && old <= max_size - old / 2) grown = old + old / 2;
    resize_block(grown);
  }

  // Reserve without growth factor: a shared block becomes a private block of
  // max(n, length); an unshared one is resized to exactly n when smaller.
  void reserve_exact(size_t n) {
    if (n > max_size) buffer_detail::throw_realloc();
    const size_type want = size_type(n);
    if (is_shared() || is_view()) {
      copy_to_private(std::max(want, length_));
      return;
    }
    if (capacity_ >= want) return;
    resize_block(want);
  }

  // Reserve before an overwrite: contents are not kept. A view is replaced
  // too, so that an assignment never writes into memory the buffer does not
  // own (a literal would fault).
  void reserve_discard(size_t n) {
    if (n > max_size) buffer_detail::throw_alloc();
    const size_type want = size_type(n);
    if (is_shared() || is_view() || capacity_ < want) {
      share_counter* counter = new_share_counter();
      if (!counter) buffer_detail::throw_alloc();
      T* block = advised(static_cast<T*>(std::malloc(block_bytes(want ? want : 1))), want);
      if (!block) {
        delete_share_counter(counter);
        buffer_detail::throw_alloc();
      }
      storage_.reset(block, counter);
      capacity_ = want;
    }
  }

  // --- assignment ------------------------------------------------------

  basic_buffer& assign(const basic_buffer& other, size_type pos = 0,
                       size_type count = npos) {
    count = clip(count, other.length_, pos);
    if (views_own_block(other)) return assign_own_range(other.data() + pos, count);
    if (pos == 0 && (count == other.length_ || !traits::terminated)) {
      *this = other;
      length_ = count;
      return *this;
    }
    if (&other == this) return assign_own_range(data() + pos, count);
    reserve_discard(size_t(count) + (traits::terminated ? 1 : 0));
    std::memmove(data(), other.data() + pos, size_t(count) * sizeof(T));
    length_ = count;
    terminate();
    return *this;
  }

  basic_buffer& assign(const T* text, size_type count) {
    if (inside(text)) {
      const size_type pos = size_type(text - data());
      return assign_own_range(text, clip(count, length_, pos));
    }
    reserve_discard(size_t(count) + (traits::terminated ? 1 : 0));
    if (count) std::memcpy(data(), text, size_t(count) * sizeof(T));
    length_ = count;
    terminate();
    return *this;
  }
  basic_buffer& assign(const T* text) { return assign(text, string_length(text)); }

  // Length 0; the storage block stays allocated (and becomes private). A
  // view simply becomes empty.
  void clear() {
    length_ = 0;
    if (is_view()) {
      storage_.reset(nullptr, nullptr);
      capacity_ = 0;
    } else if (data()) {
      reserve_exact(1);
      data()[0] = T(0);
    }
  }

  // --- appending and editing -------------------------------------------

  basic_buffer& append(const T* text, size_type count) {
    if (count == 0) return *this;
    if (inside(text)) return append(*this, size_type(text - data()), count);
    reserve_grow(size_t(length_) + count + 1);
    std::memcpy(data() + length_, text, size_t(count) * sizeof(T));
    length_ += count;
    terminate();
    return *this;
  }

  basic_buffer& append(const basic_buffer& other, size_type pos = 0,
                       size_type count = npos) {
    count = clip(count, other.length_, pos);
    if (count == 0) return *this;
    // Remember a source inside this buffer as an offset: growing may move
    // the block.
    const T* source = other.data() + pos;
    const bool self = inside(source);
    const size_type offset = self ? size_type(source - data()) : 0;
    reserve_grow(size_t(length_) + count + 1);
    if (self) source = data() + offset;
    std::memmove(data() + length_, source, size_t(count) * sizeof(T));
    length_ += count;
    terminate();
    return *this;
  }

  basic_buffer& append(const T* text) { return append(text, string_length(text)); }

  void push_back(T ch) {
    reserve_grow(size_t(length_) + 2);
    data()[length_++] = ch;
    terminate();
  }

  // Replaces [pos, pos+count) by other[opos, opos+ocount). other may be this
  // buffer: the source range is read before it is overwritten.
  basic_buffer& replace(size_type pos, size_type count, const basic_buffer& other,
                        size_type opos = 0, size_type ocount = npos) {
    count = clip(count, length_, pos);
    ocount = clip(ocount, other.length_, opos);
    return replace(pos, count, other.c_str() + opos, ocount);
  }

  basic_buffer& replace(size_type pos, size_type count, const T* text,
                        size_type tcount) {
    count = clip(count, length_, pos);
    if (inside(text)) {
      // The source lies in this buffer: copy it out first, which settles
      // every overlap case at once.
      basic_buffer source(text, tcount);
      return replace_raw(pos, count, source.c_str(), tcount);
    }
    return replace_raw(pos, count, text, tcount);
  }

  basic_buffer& erase(size_type pos, size_type count = npos) {
    count = clip(count, length_, pos);
    if (count == 0) return *this;
    if (!traits::terminated && pos + count == length_ && !is_shared()) {
      length_ = pos;
      return *this;
    }
    reserve_grow(size_t(length_) - count + 1);
    std::memmove(data() + pos, data() + pos + count,
                 size_t(length_ - pos - count) * sizeof(T));
    length_ -= count;
    terminate();
    return *this;
  }

  void to_upper() { convert_case(ascii::upper_table()); }
  void to_lower() { convert_case(ascii::lower_table()); }

  // Appends value in base 2..36 (digits 0-9 then A-Z); any other base
  // appends "0".
  basic_buffer& append_number(std::uint64_t value, unsigned base = 10) {
    return append_digits(value, base);
  }
  basic_buffer& assign_number(std::uint64_t value, unsigned base = 10) {
    clear();
    return append_digits(value, base);
  }

  // printf-style append of at most maxlen characters (narrow only).
  basic_buffer& append_format(size_type maxlen, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_at(length_, maxlen, format, args);
    va_end(args);
    return *this;
  }
  basic_buffer& assign_format(size_type maxlen, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_at(0, maxlen, format, args);
    va_end(args);
    return *this;
  }

  // --- searching and comparing -----------------------------------------

  size_type find(const T* needle, size_type pos, size_type count) const {
    if (count == 0) return pos <= length_ ? pos : npos;
    if (pos >= length_ || length_ - pos < count) return npos;
    const T* base = data();
    if constexpr (sizeof(T) == 1) {
      const char* hit = find_bytes(reinterpret_cast<const char*>(base) + pos, length_ - pos,
                                   reinterpret_cast<const char*>(needle), count);
      return hit ? size_type(hit - reinterpret_cast<const char*>(base)) : npos;
    } else {
      const size_type last = length_ - count;
      for (size_type i = pos; i <= last; ++i)
        if (base[i] == needle[0] &&
            std::memcmp(base + i, needle, size_t(count) * sizeof(T)) == 0)
          return i;
      return npos;
    }
  }
  size_type find(const basic_buffer& needle, size_type pos = 0) const {
    return find(needle.c_str(), pos, needle.length_);
  }

  size_type rfind(const T* needle, size_type pos, size_type count) const {
    if (count > length_) return npos;
    size_type i = std::min(pos, length_ - count);
    if (count == 0) return std::min(pos, length_);
    for (;; --i) {
      if (std::memcmp(data() + i, needle, size_t(count) * sizeof(T)) == 0)
        return i;
      if (i == 0) return npos;
    }
  }
  size_type rfind(const basic_buffer& needle, size_type pos = npos) const {
    return rfind(needle.c_str(), pos, needle.length_);
  }

  size_type find_first_of(const T* set, size_type pos, size_type setcount) const {
    if (setcount == 0) return npos;
    for (size_type i = pos; i < length_; ++i)
      if (contains(set, setcount, data()[i])) return i;
    return npos;
  }
  size_type find_first_of(const basic_buffer& set, size_type pos = 0) const {
    return find_first_of(set.c_str(), pos, set.length_);
  }

  size_type find_last_of(const T* set, size_type pos, size_type setcount) const {
    if (setcount == 0 || length_ == 0) return npos;
    for (size_type i = std::min(pos, length_ - 1);; --i) {
      if (contains(set, setcount, data()[i])) return i;
      if (i == 0) return npos;
    }
  }
  size_type find_last_of(const basic_buffer& set, size_type pos = npos) const {
    return find_last_of(set.c_str(), pos, set.length_);
  }

  bool starts_with_any(const basic_buffer& set) const {
    return length_ && contains(set.c_str(), set.length_, data()[0]);
  }
  bool ends_with_any(const basic_buffer& set) const {
    return length_ && contains(set.c_str(), set.length_, data()[length_ - 1]);
  }

  // Unsigned element comparison of [pos, pos+count) with text; -1, 0 or 1.
  int compare(size_type pos, size_type count, const T* text,
              size_type tcount) const {
    count = clip(count, length_, pos);
    const size_type common = std::min(count, tcount);
    const T* mine = c_str() + pos;
    for (size_type i = 0; i < common; ++i) {
      using U = std::make_unsigned_t<T>;
      if (U(mine[i]) != U(text[i])) return U(mine[i]) < U(text[i]) ? -1 : 1;
    }
    return count == tcount ? 0 : (count < tcount ? -1 : 1);
  }
  int compare(const basic_buffer& other) const {
    return compare(0, length_, other.c_str(), other.length_);
  }
  bool operator==(const basic_buffer& other) const { return compare(other) == 0; }
  bool operator!=(const basic_buffer& other) const { return compare(other) != 0; }
  bool operator<(const basic_buffer& other) const { return compare(other) < 0; }

  // ASCII-case-insensitive comparison; -1, 0 or 1.
  int icompare(const basic_buffer& other) const {
    const size_type common = std::min(length_, other.length_);
    if (data() != other.data()) {
      for (size_type i = 0; i < common; ++i) {
        const unsigned a = fold(data()[i]), b = fold(other.data()[i]);
        if (a != b) return a < b ? -1 : 1;
      }
    }
    return length_ == other.length_ ? 0 : (length_ < other.length_ ? -1 : 1);
  }
  bool iequals(const basic_buffer& other) const { return icompare(other) == 0; }

  // First index >= pos where needle matches with ASCII letters folded.
  size_type ifind(const basic_buffer& needle, size_type pos = 0) const {
    const size_type count = needle.length_;
    if (count == 0) return pos;
    if (pos >= length_ || length_ - pos < count) return npos;
    const T* base = data();
    const T* pin = needle.data();
    if constexpr (sizeof(T) == 1) {
      const char* hit = find_bytes_folded(base + pos, length_ - pos, pin, count);
      return hit ? size_type(hit - base) : npos;
    } else {
      const size_type last = length_ - count;
      for (size_type i = pos; i <= last; ++i) {
        size_type k = 0;
        while (k < count && fold(base[i + k]) == fold(pin[k])) ++k;
        if (k == count) return i;
      }
      return npos;
    }
  }

  // --- substrings --------------------------------------------------------

  basic_buffer substr(size_type pos, size_type count = npos) const {
    return basic_buffer(*this, pos, count);
  }
  // A view over [pos, pos+count): valid while this storage stays in place.
  basic_buffer subview(size_type pos, size_type count = npos) const {
    basic_buffer view;
    if (data()) view.attach(data() + pos, clip(count, length_, pos));
    return view;
  }

 private:
  static size_t block_bytes(size_t elements) { return elements * sizeof(T); }
  // Large blocks (whole files) are faulted in with huge pages where possible.
  static T* advised(T* block, size_t elements) {
    if (block && block_bytes(elements) >= os::kLargeBlockBytes)
      os::advise_large_block(block, block_bytes(elements));
    return block;
  }
  static size_type clip(size_type count, size_type length, size_type pos) {
    if (pos >= length) return 0;
    return count > length - pos ? length - pos : count;
  }
  static size_type string_length(const T* text) {
    size_type n = 0;
    if (text)
      while (text[n]) ++n;
    return n;
  }
  static bool contains(const T* set, size_type count, T ch) {
    for (size_type i = 0; i < count; ++i)
      if (set[i] == ch) return true;
    return false;
  }
  static unsigned fold(T ch) {
    using U = std::make_unsigned_t<T>;
    const unsigned u = U(ch);
    return u < 0x80 ? unsigned(ascii::to_lower(char(u))) : u;
  }

  bool inside(const T* p) const {
    return data() && p >= data() && p < data() + length_;
  }
  // True when p lies in the block this buffer holds a share of (its end
  // included), so that releasing the block would free what p points to.
  bool in_own_block(const T* p) const {
    return storage_.counter() && p >= data() && p <= data() + capacity_;
  }
  bool views_own_block(const basic_buffer& other) const {
    return other.is_view() && in_own_block(other.data());
  }
  // Makes [text, text+count), a range inside this buffer's block, the whole
  // contents. A range of the contents is kept by erasing the tail and then
  // the head in place (erase un-shares a shared block first); a range past
  // the contents (a view taken before the buffer shrank) is copied out
  // before the block is let go.
  basic_buffer& assign_own_range(const T* text, size_type count) {
    const size_t pos = size_t(text - data());
    if (pos + count > length_) {
      basic_buffer copy(text, count);
      swap(copy);
      return *this;
    }
    erase(size_type(pos) + count, npos);
    erase(0, size_type(pos));
    return *this;
  }
  void terminate() {
    if constexpr (traits::terminated) {
      if (data()) data()[length_] = T(0);
    }
  }

  // Copies the contents into a private block of the given capacity.
  void copy_to_private(size_type capacity) {
    share_counter* counter = new_share_counter();
    if (!counter) buffer_detail::throw_alloc();
    T* block = advised(static_cast<T*>(std::malloc(block_bytes(capacity))), capacity);
    if (!block) {
      delete_share_counter(counter);
      buffer_detail::throw_alloc();
    }
    std::memcpy(block, data(), block_bytes(length_));
    storage_.reset(block, counter);
    capacity_ = capacity;
  }

  // Resizes an unshared, non-view block with realloc.
  void resize_block(size_type capacity) {
    share_counter* counter = nullptr;
    if (!storage_.counter()) {
      counter = new_share_counter();
      if (!counter) buffer_detail::throw_alloc();
    }
    T* block = advised(static_cast<T*>(std::realloc(data(), block_bytes(capacity))), capacity);
    if (!block) {
      if (counter) delete_share_counter(counter);
      buffer_detail::throw_realloc();
    }
    if (counter) {
      storage_.reset(block, counter);
    } else {
      storage_.reset_object(block);
    }
    capacity_ = capacity;
  }

  basic_buffer& replace_raw(size_type pos, size_type count, const T* text,
                            size_type tcount) {
    const size_t new_length = size_t(length_) - count + tcount;
    reserve_grow(new_length + 1);
    T* base = data();
    std::memmove(base + pos + tcount, base + pos + count,
                 size_t(length_ - pos - count) * sizeof(T));
    if (tcount) std::memcpy(base + pos, text, size_t(tcount) * sizeof(T));
    length_ = size_type(new_length);
    terminate();
    return *this;
  }

  void convert_case(const unsigned char* table) {
    reserve_exact(size_t(length_) + 1);
    terminate();
    T* base = data();
    for (size_type i = 0; i < length_; ++i) {
      using U = std::make_unsigned_t<T>;
      const unsigned u = U(base[i]);
      if (u < 0x80) base[i] = T(table[u]);
    }
  }

  basic_buffer& append_digits(std::uint64_t value, unsigned base) {
    if (base < 2 || base > 36) {
      push_back(T('0'));
      return *this;
    }
    T digits[64];
    int n = 0;
    do {
      const unsigned d = unsigned(value % base);
      digits[n++] = T(d < 10 ? '0' + d : 'A' + d - 10);
      value /= base;
    } while (value);
    T text[64];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    return append(text, size_type(n));
  }

  // The arguments may point into this buffer (its own text formatted into
  // itself), so the result is built in a new block and the old one is let go
  // only afterwards.
  void vformat_at(size_type at, size_type maxlen, const char* format,
                  va_list args) {
    static_assert(sizeof(T) == 1, "formatting is for narrow text");
    basic_buffer result;
    result.reserve_exact(size_t(at) + maxlen + 1);
    if (at) std::memcpy(result.data(), data(), size_t(at) * sizeof(T));
    result.length_ = at;
    const int written = std::vsnprintf(reinterpret_cast<char*>(result.data() + at),
                                       maxlen, format, args);
    if (written > 0)
      result.length_ = at + std::min<size_type>(size_type(written), maxlen ? maxlen - 1 : 0);
    if (maxlen) result.data()[at + maxlen - 1] = T(0);
    result.terminate();
    swap(result);
  }

  size_type length_ = 0;
  size_type capacity_ = 0;
  shared_ref<T, Release> storage_;
};

using narrow_buffer = basic_buffer<char>;
using wide_buffer = basic_buffer<char16_t>;
using byte_buffer = basic_buffer<unsigned char>;

// Concatenation: a new owned buffer.
template <class T, class R>
basic_buffer<T, R> operator+(const basic_buffer<T, R>& left, const basic_buffer<T, R>& right) {
  basic_buffer<T, R> result;
  result.reserve_grow(size_t(left.length()) + right.length() + 1);
  result.append(left);
  result.append(right);
  return result;
}
template <class T, class R>
basic_buffer<T, R> operator+(const basic_buffer<T, R>& left, const T* right) {
  return left + basic_buffer<T, R>::literal(right);
}
template <class T, class R>
basic_buffer<T, R> operator+(const T* left, const basic_buffer<T, R>& right) {
  return basic_buffer<T, R>::literal(left) + right;
}

// Narrows each 16-bit unit to its low 8 bits.
void assign_narrowed(narrow_buffer& out, const wide_buffer& in);

}  // namespace Velk
