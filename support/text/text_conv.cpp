// The plain TTextConv: bytes widened as signed 8-bit values, units narrowed
// to their low byte. The by-value conversions of every class go through the
// buffer-filling slots.
#include "support/text/text_conv.h"

namespace Velk {

TTextConv* TTextConv::Create(const narrow_buffer&) const { return new TTextConv; }
TTextConv* TTextConv::Create(std::int32_t) const { return new TTextConv; }
TTextConv* TTextConv::Clone() const { return new TTextConv; }

void TTextConv::MBtoWC(wide_buffer& out, const narrow_buffer& in) {
  out.clear();
  if (in.empty()) return;
  out.reserve_discard(std::size_t(in.length()) + 1);
  char16_t* units = out.data();
  for (narrow_buffer::size_type i = 0; i < in.length(); ++i)
    units[i] = char16_t(std::int16_t(static_cast<signed char>(in[i])));
  units[in.length()] = 0;
  out.set_length(in.length());
}

wide_buffer TTextConv::MBtoWC(const narrow_buffer& in) {
  wide_buffer out;
  MBtoWC(out, in);
  return out;
}

void TTextConv::WCtoMB(narrow_buffer& out, const wide_buffer& in) {
  out.clear();
  if (in.empty()) return;
  assign_narrowed(out, in);
}

narrow_buffer TTextConv::WCtoMB(const wide_buffer& in) {
  narrow_buffer out;
  WCtoMB(out, in);
  return out;
}

}  // namespace Velk
