// The process's prototype converter, each thread's default converter cloned
// from it, the cached system code page and encoding name, and the identity
// pass Conv.
#include <atomic>
#include <new>

#include "support/core/fast_lock.h"
#include "support/core/shared_ref.h"
#include "support/core/thread_exit_hooks.h"
#include "support/core/tls_slot.h"
#include "support/os/codepage.h"
#include "support/text/iso_sys_def_conv.h"
#include "support/text/lazy_instance.h"
#include "support/text/os_text_conv.h"
#include "support/text/sys_conv.h"
#include "support/text/text_lib_icu.h"
#include "support/text/text_lib_iconv.h"

namespace Velk {

namespace {

// Deletes a converter; a library converter's release failure is dropped,
// since the thread or process that owned it is going away.
struct release_converter {
  void operator()(TTextConv* converter) const noexcept {
    try {
      delete converter;
    } catch (...) {
    }
  }
};

// A thread's default converter.
struct THREAD_CONV {
  shared_ref<TTextConv, release_converter> converter;
};

lazy_instance<CTlsSlot> g_thread_slot;
lazy_instance<TTextConv> g_prototype;
lazy_instance<narrow_buffer> g_sys_enc_name;
std::atomic<std::int32_t> g_sys_code_page{0};

// What GetThreadConv returns when it cannot set up the thread's converter.
// It is stateless, so all threads may share it, and it is never deleted.
CIsoSysDefConv g_last_resort;

CTlsSlot& thread_slot() {
  return g_thread_slot.get([] { return new CTlsSlot; });
}

}  // namespace

std::int32_t SysCodePageFor(std::int32_t reported) {
  return reported ? reported : 65001;
}

narrow_buffer SysEncNameFor(std::int32_t code_page) noexcept {
  try {
    return TTextConv::CPToEnc(code_page);
  } catch (...) {
    return narrow_buffer::literal("ASCII");
  }
}

TTextConv* CreateSysConv(std::int32_t code_page) {
  try {
    return new COSTextConv(code_page);
  } catch (...) {
    try {
      return new CTextLibIConv(SysEncNameFor(code_page));
    } catch (...) {
      try {
        return new CTextLibIcu(SysEncNameFor(code_page));
      } catch (...) {
        return new CIsoSysDefConv;
      }
    }
  }
}

std::int32_t TTextConv::GetSysCodePage() {
  std::int32_t code_page = g_sys_code_page.load(std::memory_order_acquire);
  if (code_page) return code_page;
  CFastLockGuard guard(LibraryLock());
  code_page = g_sys_code_page.load(std::memory_order_acquire);
  if (!code_page) {
    code_page = SysCodePageFor(os::system_code_page());
    g_sys_code_page.store(code_page, std::memory_order_release);
  }
  return code_page;
}

narrow_buffer TTextConv::GetSysEncName() {
  return g_sys_enc_name.get(
      [] { return new narrow_buffer(SysEncNameFor(GetSysCodePage())); });
}

TTextConv* TTextConv::GetThreadConv() noexcept {
  try {
    CTlsSlot& slot = thread_slot();
    auto* record = static_cast<THREAD_CONV*>(slot.GetValue());
    if (!record) {
      record = new THREAD_CONV;
      try {
        slot.SetValue(record);
      } catch (...) {
        delete record;
        throw;
      }
      RegisterThreadExitHook(thread_exit_text_conv, &TTextConv::ReleaseThreadConv);
    }
    if (!record->converter) {
      TTextConv& prototype =
          g_prototype.get([] { return CreateSysConv(GetSysCodePage()); });
      TTextConv* own;
      try {
        own = prototype.Clone();
      } catch (...) {
        own = new CIsoSysDefConv;
      }
      share_counter* counter = new_share_counter();
      if (!counter) {
        release_converter()(own);
        throw std::bad_alloc();
      }
      record->converter.reset(own, counter);
    }
    return record->converter.get();
  } catch (...) {
    return &g_last_resort;
  }
}

void TTextConv::ReleaseThreadConv() noexcept {
  try {
    CTlsSlot& slot = thread_slot();
    auto* record = static_cast<THREAD_CONV*>(slot.GetValue());
    if (!record) return;
    try {
      slot.SetValue(nullptr);
    } catch (...) {
    }
    delete record;
  } catch (...) {
  }
}

narrow_buffer TTextConv::Conv(const narrow_buffer& text) noexcept {
  GetThreadConv();
  try {
    return narrow_buffer(text.c_str(), text.length());
  } catch (...) {
    return text;  // shares the storage: the same bytes all the same
  }
}

}  // namespace Velk
