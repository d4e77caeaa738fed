// CTextLibIcu: converts through the ICU common library loaded at run time,
// for one encoding name. The library is loaded with the first CTextLibIcu
// and unloaded with the last.
//
// Thread safety: an object serialises its conversions on its own lock, so
// it may be shared between threads.
//
// Error contract: libicuExp with code 3 (library, entry points or the
// encoding could not be set up; a registry failure passes as tconvExp) and
// code 4 (a conversion failed; the object stays usable). ICU's invalid,
// truncated and illegal character errors are tolerated.
#pragma once

#include "support/core/fast_lock.h"
#include "support/text/text_conv.h"

namespace Velk {

class CTextLibIcu : public TTextConv {
 public:
  explicit CTextLibIcu(const narrow_buffer& enc_name);
  explicit CTextLibIcu(std::int32_t code_page);
  ~CTextLibIcu() noexcept(false) override;

  TTextConv* Create(const narrow_buffer& enc_name) const override;
  TTextConv* Create(std::int32_t code_page) const override;
  TTextConv* Clone() const override;

  using TTextConv::MBtoWC;
  using TTextConv::WCtoMB;
  void MBtoWC(wide_buffer& out, const narrow_buffer& in) override;
  void WCtoMB(narrow_buffer& out, const wide_buffer& in) override;

  // The encoding name the converter was opened with.
  narrow_buffer GetEncName() const { return enc_name_; }

  // Test seams: load the library from this file instead of the installed
  // ICU (null restores the default; set it while no CTextLibIcu exists),
  // and whether the library is loaded now.
  static void SetLibraryFile(const char* file_name);
  static bool IsLibraryLoaded();

 private:
  static void __AddRef();
  static void __Release();
  // Opens the stored name; the ICU error code of the attempt.
  std::int32_t __Open();
  void __Abandon() noexcept;

  void* converter_;
  narrow_buffer enc_name_;
  CFastLock lock_;
};

}  // namespace Velk
