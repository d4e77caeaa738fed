// CTextLibIConv: converts through an iconv library loaded at run time, for
// one encoding name. The library is loaded with the first CTextLibIConv and
// unloaded with the last; on a system without a separate libiconv the C
// library's own iconv is used.
//
// Thread safety: an object serialises its conversions on its own lock (the
// iconv descriptors carry state), so it may be shared between threads.
//
// Error contract: libiconvExp with code 3 (library, entry points or the
// encoding could not be set up; a registry failure passes as tconvExp) and
// code 5 (the destructor could not close a descriptor, thrown only when no
// other exception is in flight). Invalid input never throws: what the
// library cannot convert becomes "?" or is dropped.
#pragma once

#include "support/core/fast_lock.h"
#include "support/text/text_conv.h"

namespace Velk {

class CTextLibIConv : public TTextConv {
 public:
  explicit CTextLibIConv(const narrow_buffer& enc_name);
  explicit CTextLibIConv(std::int32_t code_page);
  ~CTextLibIConv() noexcept(false) override;

  TTextConv* Create(const narrow_buffer& enc_name) const override;
  TTextConv* Create(std::int32_t code_page) const override;
  TTextConv* Clone() const override;

  using TTextConv::MBtoWC;
  using TTextConv::WCtoMB;
  void MBtoWC(wide_buffer& out, const narrow_buffer& in) override;
  void WCtoMB(narrow_buffer& out, const wide_buffer& in) override;

  // The encoding name the descriptors were opened with.
  narrow_buffer GetEncName() const { return enc_name_; }

  // Test seams: load the library from this file instead of the system's
  // (null restores the default; set it while no CTextLibIConv exists), and
  // whether the library is loaded now.
  static void SetLibraryFile(const char* file_name);
  static bool IsLibraryLoaded();

 private:
  static void __AddRef();
  static void __Release();
  // Opens to-wide with the stored name; false when the library refuses it.
  bool __OpenToWide();
  // Closes what is open and drops the binding reference (constructor
  // failure path).
  void __Abandon() noexcept;

  void* to_wide_;
  void* from_wide_;
  narrow_buffer enc_name_;
  CFastLock lock_;
};

}  // namespace Velk
