#include "support/text/os_text_conv.h"

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/codepage.h"
#include "support/os/error.h"

namespace Velk {

namespace {

[[noreturn]] void throw_conversion(const char* head, std::int32_t code_page,
                                   int error) {
  throw ostxtconvExp(4, message_builder(head)
                            .detail("code page", int(code_page))
                            .os_error("sys err num", "sys err desc", error)
                            .str());
}

}  // namespace

TTextConv* COSTextConv::Create(const narrow_buffer& enc_name) const {
  return new COSTextConv(EncToCP(enc_name));
}
TTextConv* COSTextConv::Create(std::int32_t code_page) const {
  return new COSTextConv(code_page);
}
TTextConv* COSTextConv::Clone() const { return new COSTextConv(code_page_); }

bool COSTextConv::__FallBackTo936(int error) {
  if (error != os::invalid_parameter_error() ||
      (code_page_ != 20936 && code_page_ != 54936))
    return false;
  code_page_ = 936;
  return true;
}

// Both directions ask for the output size first and convert in one call.
// A result of 0 with no error number is an input that produces nothing
// (a lone shift sequence, for instance). convert (destination, capacity)
// converts with the current code page, which a failure may switch to 936.
template <class Out, class Convert>
void COSTextConv::__ConvertSized(Out& out, bool input_empty, Convert convert, const char* head) {
  out.clear();
  if (input_empty) return;
  for (;;) {
    const std::uint32_t n = convert(nullptr, 0);
    std::uint32_t k = 0;
    if (n) {
      out.reserve_discard(std::size_t(n) + 2);
      k = convert(out.data(), n + 1);
    }
    const int error = os::last_error();
    if (k || error == 0) {
      if (out.data()) out.data()[k] = 0;
      out.set_length(k);
      return;
    }
    if (!__FallBackTo936(error)) throw_conversion(head, code_page_, error);
  }
}

void COSTextConv::MBtoWC(wide_buffer& out, const narrow_buffer& in) {
  __ConvertSized(
      out, in.empty(),
      [&](char16_t* to, std::uint32_t capacity) {
        return os::multibyte_to_utf16(code_page_, in.data(), in.length(), to, capacity);
      },
      "COSTextConv::MBtoWC - failed converting multibyte string to unicode one");
}

void COSTextConv::WCtoMB(narrow_buffer& out, const wide_buffer& in) {
  __ConvertSized(
      out, in.empty(),
      [&](char* to, std::uint32_t capacity) {
        return os::utf16_to_multibyte(code_page_, in.data(), in.length(), to, capacity);
      },
      "COSTextConv::WCtoMB - failed converting unicode string to multibyte one");
}

}  // namespace Velk
