// A stand-in iconv library for the converter tests, loaded at run time
// like the real one. It knows UTF-16LE and a Latin-1-like encoding under
// the names "CP28591" and "LATIN-X", and refuses every other name (so
// "ISO-8859-1" is refused). Byte 0xFF and units from 0xFF up are
// unconvertible. "BADCLOSE" converts like LATIN-X but its descriptors fail
// to close; "NOFROM" opens only towards UTF-16LE.
//
// It records every open ("to<-from;") and counts conversion calls, for the
// tests to read through fake_iconv_log and fake_iconv_calls.
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

struct descriptor {
  bool to_wide;
  bool bad_close;
};

// Plain C data only, so that the library really unloads.
char g_log[4096];
int g_calls = 0;

void record(const char* text) {
  std::strncat(g_log, text, sizeof g_log - std::strlen(g_log) - 1);
}

// Whether name, up to any "//" suffix, is expected.
bool is(const char* name, const char* expected) {
  const std::size_t n = std::strlen(expected);
  return std::strncmp(name, expected, n) == 0 &&
         (name[n] == '\0' || std::strncmp(name + n, "//", 2) == 0);
}

bool latin(const char* name) {
  return is(name, "CP28591") || is(name, "LATIN-X") || is(name, "BADCLOSE");
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* libiconv_open(const char* to,
                                                            const char* from) {
  record(to);
  record("<-");
  record(from);
  record(";");
  const bool to_wide = is(to, "UTF-16LE") && (latin(from) || is(from, "NOFROM"));
  const bool from_wide = is(from, "UTF-16LE") && latin(to);
  if (!to_wide && !from_wide) {
    errno = EINVAL;
    return reinterpret_cast<void*>(-1);
  }
  return new descriptor{to_wide, is(to, "BADCLOSE") || is(from, "BADCLOSE")};
}

__attribute__((visibility("default"))) std::size_t libiconv(
    void* cd, char** in, std::size_t* in_left, char** out,
    std::size_t* out_left) {
  ++g_calls;
  if (!in || !*in) return 0;
  const descriptor& d = *static_cast<descriptor*>(cd);
  const std::size_t step = d.to_wide ? 1 : 2;
  while (*in_left >= step) {
    unsigned value;
    if (d.to_wide) {
      value = static_cast<unsigned char>(**in);
    } else {
      char16_t unit;
      std::memcpy(&unit, *in, 2);
      value = unit;
    }
    if (value >= 0xFF) {
      errno = EILSEQ;
      return std::size_t(-1);
    }
    const std::size_t produce = d.to_wide ? 2 : 1;
    if (*out_left < produce) {
      errno = E2BIG;
      return std::size_t(-1);
    }
    if (d.to_wide) {
      const char16_t unit = char16_t(value);
      std::memcpy(*out, &unit, 2);
    } else {
      **out = char(value);
    }
    *out += produce;
    *out_left -= produce;
    *in += step;
    *in_left -= step;
  }
  if (*in_left) {
    errno = EINVAL;  // half a unit at the end
    return std::size_t(-1);
  }
  return 0;
}

__attribute__((visibility("default"))) int libiconv_close(void* cd) {
  descriptor* d = static_cast<descriptor*>(cd);
  const bool bad = d->bad_close;
  delete d;
  return bad ? -1 : 0;
}

__attribute__((visibility("default"))) const char* fake_iconv_log() {
  return g_log;
}

__attribute__((visibility("default"))) int fake_iconv_calls() { return g_calls; }

}  // extern "C"
