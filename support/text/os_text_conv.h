// COSTextConv: converts through the system's code-page functions for one
// code page. Holds no lock: each thread converts through its own object.
//
// Error contract: a failed conversion throws ostxtconvExp (code 4) with the
// code page, errno and its text, and leaves the object usable. When the
// system cannot convert code page 20936 or 54936 at all, the object falls
// back to 936 for good and converts again.
#pragma once

#include "support/text/text_conv.h"

namespace Velk {

class COSTextConv : public TTextConv {
 public:
  explicit COSTextConv(std::int32_t code_page) : code_page_(code_page) {}
  explicit COSTextConv(const narrow_buffer& enc_name)
      : code_page_(EncToCP(enc_name)) {}

  TTextConv* Create(const narrow_buffer& enc_name) const override;
  TTextConv* Create(std::int32_t code_page) const override;
  TTextConv* Clone() const override;

  using TTextConv::MBtoWC;
  using TTextConv::WCtoMB;
  void MBtoWC(wide_buffer& out, const narrow_buffer& in) override;
  void WCtoMB(narrow_buffer& out, const wide_buffer& in) override;

  std::int32_t GetCodePage() const { return code_page_; }

 private:
  // True when a failure with this error allows the switch to 936 (done).
  bool __FallBackTo936(int error);
  template <class Out, class Convert>
  void __ConvertSized(Out& out, bool input_empty, Convert convert, const char* head);

  std::int32_t code_page_;
};

}  // namespace Velk
