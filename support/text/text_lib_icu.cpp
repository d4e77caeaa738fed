#include "support/text/text_lib_icu.h"

#include <algorithm>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/text/decimal.h"
#include "support/text/dll_loader.h"
#include "support/text/library_binding.h"

// The major version of the installed ICU; ICU's entry points carry it in
// their names ("ucnv_open_72").
#ifndef RPLC_ICU_VERSION
#define RPLC_ICU_VERSION "72"
#endif

namespace Velk {

namespace {

using icu_error = std::int32_t;  // UErrorCode
using ucnv_open_fn = void* (*)(const char* name, icu_error* error);
using ucnv_to_uchars_fn = std::int32_t (*)(void* converter, char16_t* out,
                                           std::int32_t capacity, const char* in,
                                           std::int32_t count, icu_error* error);
using ucnv_from_uchars_fn = std::int32_t (*)(void* converter, char* out,
                                             std::int32_t capacity,
                                             const char16_t* in,
                                             std::int32_t count, icu_error* error);
using ucnv_close_fn = void (*)(void* converter);
using u_error_name_fn = const char* (*)(icu_error error);
using u_cleanup_fn = void (*)();

// Errors that still leave a usable result: U_INVALID_CHAR_FOUND,
// U_TRUNCATED_CHAR_FOUND, U_ILLEGAL_CHAR_FOUND, and for a size query
// U_BUFFER_OVERFLOW_ERROR.
bool tolerated(icu_error error, bool size_query) {
  return error <= 0 || error == 10 || error == 11 || error == 12 ||
         (size_query && error == 15);
}

struct ICU_API {
  CDllLoader* loader = nullptr;
  ucnv_open_fn open = nullptr;
  ucnv_to_uchars_fn to_uchars = nullptr;
  ucnv_from_uchars_fn from_uchars = nullptr;
  ucnv_close_fn close = nullptr;
  u_error_name_fn error_name = nullptr;
  // ICU keeps converter data and tables in caches of its own; they are
  // freed before the library is unloaded, or every load would leak them.
  // Optional: without it the caches are left as they are.
  u_cleanup_fn cleanup = nullptr;

  ICU_API() = default;
  ICU_API(const ICU_API&) = delete;
  ICU_API& operator=(const ICU_API&) = delete;
  ~ICU_API() noexcept(false) {
    if (cleanup) cleanup();
    delete loader;
  }
};

library_binding<ICU_API> g_icu;
std::atomic<const char*> g_library_file{nullptr};

void* entry(CDllLoader& loader, const char* base_name) {
  return loader.GetProc(narrow_buffer(base_name) + "_" RPLC_ICU_VERSION);
}

void load_icu(ICU_API& api) {
  CDllLoader* loader = nullptr;
  try {
    const char* file = g_library_file.load();
    loader = file ? new CDllLoader(narrow_buffer(file), narrow_buffer(), narrow_buffer())
                  : new CDllLoader(narrow_buffer("icuuc"),
                                   narrow_buffer(RPLC_ICU_VERSION),
                                   narrow_buffer("dll"));
    api.open = reinterpret_cast<ucnv_open_fn>(entry(*loader, "ucnv_open"));
    api.to_uchars = reinterpret_cast<ucnv_to_uchars_fn>(entry(*loader, "ucnv_toUChars"));
    api.from_uchars =
        reinterpret_cast<ucnv_from_uchars_fn>(entry(*loader, "ucnv_fromUChars"));
    api.close = reinterpret_cast<ucnv_close_fn>(entry(*loader, "ucnv_close"));
    api.error_name = reinterpret_cast<u_error_name_fn>(entry(*loader, "u_errorName"));
    try {
      api.cleanup = reinterpret_cast<u_cleanup_fn>(entry(*loader, "u_cleanup"));
    } catch (const dlllExp&) {
      api.cleanup = nullptr;
    }
    api.loader = loader;
  } catch (const dlllExp& e) {
    try {
      delete loader;
    } catch (...) {
    }
    throw libicuExp(3, message_builder(e.GetCode() == 1
                                           ? "CTextLibIcu::__AddRef - failed load dynamic library"
                                           : "CTextLibIcu::__AddRef - failed locate icu api")
                           .cause(e.GetMessage())
                           .str());
  }
}

narrow_buffer error_desc(icu_error error) {
  const char* name = g_icu.api().error_name(error);
  return narrow_buffer(name ? name : "");
}

[[noreturn]] void throw_conversion(const char* head, icu_error error) {
  throw libicuExp(4, message_builder(head)
                         .detail("error code", int(error))
                         .detail("error desc", error_desc(error))
                         .str());
}

const char kInitHead[] = "CTextLibIcu::CTextLibIcu - failed init encoding convertion";

}  // namespace

void CTextLibIcu::SetLibraryFile(const char* file_name) {
  g_library_file.store(file_name);
}

bool CTextLibIcu::IsLibraryLoaded() { return g_icu.loaded(); }

void CTextLibIcu::__AddRef() {
  try {
    g_icu.add_ref(load_icu);
  } catch (const libicuExp&) {
    throw;
  } catch (...) {
    throw libicuExp(3, narrow_buffer("CTextLibIcu::__AddRef - unknwon error"));
  }
}

void CTextLibIcu::__Release() { g_icu.release(); }

std::int32_t CTextLibIcu::__Open() {
  icu_error error = 0;
  converter_ = g_icu.api().open(enc_name_.c_str(), &error);
  return error;
}

void CTextLibIcu::__Abandon() noexcept {
  if (converter_) g_icu.api().close(converter_);
  try {
    __Release();
  } catch (...) {
  }
}

CTextLibIcu::CTextLibIcu(const narrow_buffer& enc_name) : converter_(nullptr) {
  __AddRef();
  try {
    enc_name_ = enc_name;
    icu_error error = __Open();
    if (!converter_) {
      enc_name_ = with_decimal("windows-", EncToCP(enc_name));
      error = __Open();
      if (!converter_)
        throw libicuExp(3, message_builder(kInitHead)
                               .detail("encoding name", enc_name + " (" + enc_name_ + ")")
                               .detail("error number", int(error))
                               .detail("error desc", error_desc(error))
                               .str());
    }
  } catch (...) {
    __Abandon();
    throw;
  }
}

CTextLibIcu::CTextLibIcu(std::int32_t code_page) : converter_(nullptr) {
  __AddRef();
  try {
    enc_name_ = with_decimal("windows-", code_page);
    icu_error error = __Open();
    if (!converter_) {
      enc_name_ = CPToEnc(code_page);
      error = __Open();
      if (!converter_)
        throw libicuExp(3, message_builder(kInitHead)
                               .detail("code page", int(code_page))
                               .detail("encoding name", enc_name_)
                               .detail("error number", int(error))
                               .detail("error desc", error_desc(error))
                               .str());
    }
  } catch (...) {
    __Abandon();
    throw;
  }
}

CTextLibIcu::~CTextLibIcu() noexcept(false) {
  g_icu.api().close(converter_);
  __Release();
}

TTextConv* CTextLibIcu::Create(const narrow_buffer& enc_name) const {
  return new CTextLibIcu(enc_name);
}
TTextConv* CTextLibIcu::Create(std::int32_t code_page) const {
  return new CTextLibIcu(code_page);
}
TTextConv* CTextLibIcu::Clone() const { return new CTextLibIcu(enc_name_); }

// Both directions ask for the exact size first and convert in one call.
void CTextLibIcu::MBtoWC(wide_buffer& out, const narrow_buffer& in) {
  out.clear();
  if (in.empty()) return;
  CFastLockGuard guard(lock_);
  const ICU_API& api = g_icu.api();
  icu_error error = 0;
  const std::int32_t count = std::int32_t(in.length());
  const std::int32_t n =
      std::max(api.to_uchars(converter_, nullptr, 0, in.data(), count, &error), 0);
  if (!tolerated(error, true))
    throw_conversion("CTextLibIcu::MBtoWC - failed retrive dest size", error);
  out.reserve_discard(std::size_t(n) + 2);
  error = 0;
  const std::int32_t k = api.to_uchars(converter_, out.data(), n + 1, in.data(), count, &error);
  if (!tolerated(error, false))
    throw_conversion("CTextLibIcu::MBtoWC - failed converting string", error);
  const std::int32_t length = std::min(n, std::max(k, 0));
  out.data()[length] = 0;
  out.set_length(wide_buffer::size_type(length));
}

void CTextLibIcu::WCtoMB(narrow_buffer& out, const wide_buffer& in) {
  out.clear();
  if (in.empty()) return;
  CFastLockGuard guard(lock_);
  const ICU_API& api = g_icu.api();
  icu_error error = 0;
  const std::int32_t count = std::int32_t(in.length());
  const std::int32_t n =
      std::max(api.from_uchars(converter_, nullptr, 0, in.data(), count, &error), 0);
  if (!tolerated(error, true))
    throw_conversion("CTextLibIcu::WCtoMB - failed retrive dest size", error);
  out.reserve_discard(std::size_t(n) + 2);
  error = 0;
  const std::int32_t k =
      api.from_uchars(converter_, out.data(), n + 1, in.data(), count, &error);
  if (!tolerated(error, false))
    throw_conversion("CTextLibIcu::WCtoMB - failed converting string", error);
  const std::int32_t length = std::min(n, std::max(k, 0));
  out.data()[length] = 0;
  out.set_length(narrow_buffer::size_type(length));
}

}  // namespace Velk
