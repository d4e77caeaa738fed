#include "support/text/text_lib_iconv.h"

#include <cstddef>
#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/text/decimal.h"
#include "support/text/dll_loader.h"
#include "support/text/library_binding.h"

namespace Velk {

namespace {

using iconv_open_fn = void* (*)(const char* to, const char* from);
using iconv_fn = std::size_t (*)(void* cd, char** in, std::size_t* in_left,
                                 char** out, std::size_t* out_left);
using iconv_close_fn = int (*)(void* cd);

void* const kInvalid = reinterpret_cast<void*>(-1);
const char kUtf16[] = "UTF-16LE";
const char kIgnore[] = "//IGNORE";

struct ICONV_API {
  CDllLoader* loader = nullptr;
  iconv_open_fn open = nullptr;
  iconv_fn convert = nullptr;
  iconv_close_fn close = nullptr;

  ICONV_API() = default;
  ICONV_API(const ICONV_API&) = delete;
  ICONV_API& operator=(const ICONV_API&) = delete;
  ~ICONV_API() noexcept(false) { delete loader; }
};

library_binding<ICONV_API> g_iconv;
std::atomic<const char*> g_library_file{nullptr};

// The library: a separate libiconv when there is one, else the C library,
// which provides the same entry points under the standard names.
CDllLoader* load_iconv_library() {
  if (const char* file = g_library_file.load())
    return new CDllLoader(narrow_buffer(file), narrow_buffer(), narrow_buffer());
  try {
    return new CDllLoader(narrow_buffer("iconv"), narrow_buffer(), narrow_buffer("dll"));
  } catch (const dlllExp& e) {
    if (e.GetCode() != 1) throw;
  }
  return new CDllLoader(narrow_buffer("c"), narrow_buffer("6"), narrow_buffer("dll"));
}

void resolve(ICONV_API& api, CDllLoader& loader, const char* open,
             const char* convert, const char* close) {
  api.open = reinterpret_cast<iconv_open_fn>(loader.GetProc(narrow_buffer(open)));
  api.convert = reinterpret_cast<iconv_fn>(loader.GetProc(narrow_buffer(convert)));
  api.close = reinterpret_cast<iconv_close_fn>(loader.GetProc(narrow_buffer(close)));
}

void discard(CDllLoader* loader) noexcept {
  try {
    delete loader;
  } catch (...) {
  }
}

void load_iconv(ICONV_API& api) {
  CDllLoader* loader = nullptr;
  try {
    loader = load_iconv_library();
    try {
      resolve(api, *loader, "libiconv_open", "libiconv", "libiconv_close");
    } catch (const dlllExp& e) {
      if (e.GetCode() != 3) throw;
      resolve(api, *loader, "iconv_open", "iconv", "iconv_close");
    }
    api.loader = loader;
  } catch (const dlllExp& e) {
    discard(loader);
    throw libiconvExp(3, message_builder(e.GetCode() == 1
                                             ? "CTextLibIConv::__AddRef - failed load dynamic library"
                                             : "CTextLibIConv::__AddRef - failed locate iconv api")
                             .cause(e.GetMessage())
                             .str());
  }
}

[[noreturn]] void throw_init_failure(message_builder& details) {
  throw libiconvExp(3, details.str());
}

const char kInitHead[] = "CTextLibIConv::CTextLibIConv - failed init encoding convertion";

}  // namespace

void CTextLibIConv::SetLibraryFile(const char* file_name) {
  g_library_file.store(file_name);
}

bool CTextLibIConv::IsLibraryLoaded() { return g_iconv.loaded(); }

void CTextLibIConv::__AddRef() {
  try {
    g_iconv.add_ref(load_iconv);
  } catch (const libiconvExp&) {
    throw;
  } catch (...) {
    throw libiconvExp(3, narrow_buffer("CTextLibIConv::__AddRef - unknwon error"));
  }
}

void CTextLibIConv::__Release() { g_iconv.release(); }

bool CTextLibIConv::__OpenToWide() {
  const narrow_buffer to = narrow_buffer(kUtf16) + kIgnore;
  to_wide_ = g_iconv.api().open(to.c_str(), enc_name_.c_str());
  return to_wide_ != kInvalid;
}

void CTextLibIConv::__Abandon() noexcept {
  if (to_wide_ != kInvalid) g_iconv.api().close(to_wide_);
  try {
    __Release();
  } catch (...) {
  }
}

CTextLibIConv::CTextLibIConv(const narrow_buffer& enc_name)
    : to_wide_(kInvalid), from_wide_(kInvalid) {
  __AddRef();
  try {
    enc_name_ = enc_name;
    if (!__OpenToWide()) {
      enc_name_ = with_decimal("CP", EncToCP(enc_name));
      if (!__OpenToWide()) {
        message_builder details(kInitHead);
        details.detail("encoding name", enc_name + " (" + enc_name_ + ")");
        throw_init_failure(details);
      }
    }
    const narrow_buffer to = enc_name_ + kIgnore;
    from_wide_ = g_iconv.api().open(to.c_str(), kUtf16);
    if (from_wide_ == kInvalid) {
      message_builder details(kInitHead);
      details.detail("encoding name", enc_name_);
      throw_init_failure(details);
    }
  } catch (...) {
    __Abandon();
    throw;
  }
}

CTextLibIConv::CTextLibIConv(std::int32_t code_page)
    : to_wide_(kInvalid), from_wide_(kInvalid) {
  __AddRef();
  try {
    enc_name_ = with_decimal("CP", code_page);
    bool opened = __OpenToWide();
    if (!opened) {
      enc_name_ = CPToEnc(code_page);
      opened = __OpenToWide();
    }
    if (opened) {
      const narrow_buffer to = enc_name_ + kIgnore;
      from_wide_ = g_iconv.api().open(to.c_str(), kUtf16);
    }
    if (!opened || from_wide_ == kInvalid) {
      message_builder details(kInitHead);
      details.detail("code page", int(code_page)).detail("encoding name", enc_name_);
      throw_init_failure(details);
    }
  } catch (...) {
    __Abandon();
    throw;
  }
}

CTextLibIConv::~CTextLibIConv() noexcept(false) {
  const int from_closed = g_iconv.api().close(from_wide_);
  const int to_closed = g_iconv.api().close(to_wide_);
  __Release();
  if ((from_closed == -1 || to_closed == -1) && std::uncaught_exceptions() == 0)
    throw libiconvExp(5, narrow_buffer("CTextLibIConv::~CTextLibIConv - failed release lib iconv's convertion descriptor"));
}

TTextConv* CTextLibIConv::Create(const narrow_buffer& enc_name) const {
  return new CTextLibIConv(enc_name);
}
TTextConv* CTextLibIConv::Create(std::int32_t code_page) const {
  return new CTextLibIConv(code_page);
}
TTextConv* CTextLibIConv::Clone() const { return new CTextLibIConv(enc_name_); }

// Both directions convert chunk by chunk through a 512-byte buffer. A
// failure that produced nothing becomes one "?" and the offending input
// unit is skipped, or the conversion stops when only that unit is left.
void CTextLibIConv::MBtoWC(wide_buffer& out, const narrow_buffer& in) {
  out.clear();
  if (in.empty()) return;
  CFastLockGuard guard(lock_);
  const ICONV_API& api = g_iconv.api();
  api.convert(to_wide_, nullptr, nullptr, nullptr, nullptr);
  char* next = const_cast<char*>(in.data());
  std::size_t left = in.length();
  while (left) {
    char16_t chunk[256];
    char* dst = reinterpret_cast<char*>(chunk);
    std::size_t room = sizeof chunk;
    const std::size_t result = api.convert(to_wide_, &next, &left, &dst, &room);
    const std::size_t units = (sizeof chunk - room) / 2;
    if (result != std::size_t(-1) || units) {
      out.append(chunk, wide_buffer::size_type(units));
      continue;
    }
    out.push_back(u'?');
    if (left < 2) break;
    ++next;
    --left;
  }
}

void CTextLibIConv::WCtoMB(narrow_buffer& out, const wide_buffer& in) {
  out.clear();
  if (in.empty()) return;
  CFastLockGuard guard(lock_);
  const ICONV_API& api = g_iconv.api();
  api.convert(from_wide_, nullptr, nullptr, nullptr, nullptr);
  char* next = reinterpret_cast<char*>(const_cast<char16_t*>(in.data()));
  std::size_t left = std::size_t(in.length()) * 2;
  while (left) {
    char chunk[512];
    char* dst = chunk;
    std::size_t room = sizeof chunk;
    const std::size_t result = api.convert(from_wide_, &next, &left, &dst, &room);
    const std::size_t bytes = sizeof chunk - room;
    if (result != std::size_t(-1) || bytes) {
      out.append(chunk, narrow_buffer::size_type(bytes));
      continue;
    }
    out.push_back('?');
    if (left < 3) break;
    next += 2;
    left -= 2;
  }
  // A stateful encoding (ISO-2022-JP, for instance) ends in its initial
  // shift state, or the text would be cut off in the middle of a shift.
  char tail[64];
  char* dst = tail;
  std::size_t room = sizeof tail;
  api.convert(from_wide_, nullptr, nullptr, &dst, &room);
  out.append(tail, narrow_buffer::size_type(sizeof tail - room));
}

}  // namespace Velk
