// POSIX implementation of code-page conversion over the C library's iconv.
// A code page is mapped to an iconv encoding name; every conversion opens
// its own descriptor, so the calls are thread-safe and keep no state.
#include "support/os/codepage.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace Velk::os {

namespace {

struct code_page_name {
  std::int32_t code_page;
  const char* name;
};

// Code pages whose iconv name is not "CP" followed by the number.
constexpr code_page_name kCodePageNames[] = {
    {65001, "UTF-8"},         {65000, "UTF-7"},
    {1200, "UTF-16LE"},       {1201, "UTF-16BE"},
    {12000, "UTF-32LE"},      {12001, "UTF-32BE"},
    {20127, "ASCII"},         {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},   {28605, "ISO-8859-15"},
    {20866, "KOI8-R"},        {21866, "KOI8-U"},
    {936, "GBK"},             {20936, "GB2312"},
    {54936, "GB18030"},       {51936, "EUC-CN"},
    {52936, "HZ"},            {50227, "ISO-2022-CN"},
    {950, "BIG5"},            {51950, "EUC-TW"},
    {932, "CP932"},           {51932, "EUC-JP"},
    {50220, "ISO-2022-JP"},   {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},   {949, "CP949"},
    {51949, "EUC-KR"},        {50225, "ISO-2022-KR"},
    {1361, "JOHAB"},          {874, "CP874"},
    {10000, "MACINTOSH"},     {10007, "MAC-CYRILLIC"},
    {10017, "MACUKRAINIAN"},  {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},
};

std::atomic<std::int32_t> g_override_code_page{0};
std::atomic<const char*> g_override_name{nullptr};

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kNativeUtf16 = "UTF-16BE";
#else
constexpr const char* kNativeUtf16 = "UTF-16LE";
#endif

// Windows' failure for an output buffer that is too small.
constexpr int kInsufficientBuffer = ENOBUFS;

// The iconv name of code_page; buffer holds the "CP" form when needed.
const char* iconv_name(std::int32_t code_page, char (&buffer)[24]) {
  const char* override_name = g_override_name.load();
  if (override_name && g_override_code_page.load() == code_page)
    return override_name;
  for (const code_page_name& entry : kCodePageNames)
    if (entry.code_page == code_page) return entry.name;
  std::snprintf(buffer, sizeof buffer, "CP%ld", long(code_page));
  return buffer;
}

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

// One conversion through an iconv descriptor, either into the caller's
// buffer or, when that is null, into a scratch area only to count the
// output. A sequence the descriptor rejects is replaced and skipped, as the
// Windows functions do with flags 0.
class conversion {
 public:
  enum direction { to_utf16, from_utf16 };

  conversion(iconv_t cd, direction dir, char* out, std::size_t capacity)
      : cd_(cd), dir_(dir), out_(out), capacity_(capacity) {}

  // Converts [in, in + left); false with errno set on failure.
  bool run(char* in, std::size_t left) {
    while (left) {
      if (convert(&in, &left) != std::size_t(-1)) break;
      const int error = errno;
      if (error == E2BIG) {
        if (out_) return fail(kInsufficientBuffer);
        continue;  // counting: the scratch area was drained
      }
      if (error != EILSEQ && error != EINVAL) return fail(error);
      // EILSEQ: an invalid or unconvertible sequence; EINVAL: an incomplete
      // one at the end of the input.
      if (!replace()) return false;
      const std::size_t skip = error == EINVAL ? left : skip_size(in, left);
      in += skip;
      left -= skip;
    }
    // Return a stateful encoding to its initial shift state.
    while (convert(nullptr, nullptr) == std::size_t(-1)) {
      if (errno != E2BIG) return false;
      if (out_) return fail(kInsufficientBuffer);
    }
    return true;
  }

  std::size_t produced() const { return produced_; }

 private:
  std::size_t convert(char** in, std::size_t* left) {
    char* dst = out_ ? out_ + produced_ : scratch_;
    std::size_t room = out_ ? capacity_ - produced_ : sizeof scratch_;
    const std::size_t before = room;
    const std::size_t r = iconv(cd_, in, left, &dst, &room);
    const int error = errno;
    produced_ += before - room;
    errno = error;
    return r;
  }

  // To UTF-16 the replacement is U+FFFD, written as it is; from UTF-16 it
  // is "?", converted into the target encoding (nothing when it cannot
  // hold that either).
  bool replace() {
    if (dir_ == to_utf16) {
      const char16_t unit = 0xFFFD;
      if (!out_) {
        produced_ += sizeof unit;
        return true;
      }
      if (capacity_ - produced_ < sizeof unit) return fail(kInsufficientBuffer);
      std::memcpy(out_ + produced_, &unit, sizeof unit);
      produced_ += sizeof unit;
      return true;
    }
    char16_t question = u'?';
    char* in = reinterpret_cast<char*>(&question);
    std::size_t left = sizeof question;
    while (convert(&in, &left) == std::size_t(-1)) {
      if (errno != E2BIG) return true;
      if (out_) return fail(kInsufficientBuffer);
    }
    return true;
  }

  // Input bytes one replacement stands for: one byte of multibyte text;
  // one UTF-16 unit, or two for a surrogate pair (one character).
  std::size_t skip_size(const char* in, std::size_t left) const {
    if (dir_ == to_utf16) return 1;
    if (left < 2) return left;
    char16_t units[2] = {0, 0};
    std::memcpy(units, in, left >= 4 ? 4 : 2);
    if (left >= 4 && is_high_surrogate(units[0]) && is_low_surrogate(units[1]))
      return 4;
    return 2;
  }

  bool fail(int error) {
    errno = error;
    return false;
  }

  iconv_t cd_;
  direction dir_;
  char* out_;
  std::size_t capacity_;
  std::size_t produced_ = 0;
  char scratch_[256];
};

// Runs one conversion; returns the output size in units, 0 with errno set
// on failure, and 0 with errno 0 when the input produced nothing.
std::uint32_t convert_text(std::int32_t code_page, conversion::direction dir,
                           const void* in, std::size_t in_bytes, void* out,
                           std::size_t out_bytes, std::size_t unit) {
  if (in_bytes == 0) {
    errno = invalid_parameter_error();
    return 0;
  }
  char buffer[24];
  const char* name = iconv_name(code_page, buffer);
  iconv_t cd = dir == conversion::to_utf16 ? iconv_open(kNativeUtf16, name)
                                           : iconv_open(name, kNativeUtf16);
  if (cd == iconv_t(-1)) {
    errno = invalid_parameter_error();
    return 0;
  }
  conversion work(cd, dir, static_cast<char*>(out), out_bytes);
  const bool ok = work.run(static_cast<char*>(const_cast<void*>(in)), in_bytes);
  const int error = errno;
  iconv_close(cd);
  if (!ok) {
    errno = error;
    return 0;
  }
  errno = 0;
  return std::uint32_t(work.produced() / unit);
}

}  // namespace

std::int32_t system_code_page() { return 65001; }

int invalid_parameter_error() { return EINVAL; }

void override_code_page_name(std::int32_t code_page, const char* name) {
  g_override_name.store(nullptr);
  g_override_code_page.store(code_page);
  g_override_name.store(name);
}

std::uint32_t multibyte_to_utf16(std::int32_t code_page, const char* in,
                                 std::uint32_t in_count, char16_t* out,
                                 std::uint32_t out_capacity) {
  return convert_text(code_page, conversion::to_utf16, in, in_count, out,
                      std::size_t(out_capacity) * sizeof(char16_t),
                      sizeof(char16_t));
}

std::uint32_t utf16_to_multibyte(std::int32_t code_page, const char16_t* in,
                                 std::uint32_t in_count, char* out,
                                 std::uint32_t out_capacity) {
  return convert_text(code_page, conversion::from_utf16, in,
                      std::size_t(in_count) * sizeof(char16_t), out,
                      out_capacity, 1);
}

}  // namespace Velk::os
