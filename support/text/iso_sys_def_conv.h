// CIsoSysDefConv: the last-resort converter, private to the text library.
// It converts through the C runtime's multibyte functions in the current
// locale (the "C" locale, since the program never sets one). It holds no
// state and never throws for bad input: an undecodable byte or an
// unencodable unit becomes "?". It creates and clones into a plain
// TTextConv.
#pragma once

#include "support/text/text_conv.h"

namespace Velk {

class CIsoSysDefConv : public TTextConv {
 public:
  CIsoSysDefConv() = default;

  using TTextConv::MBtoWC;
  using TTextConv::WCtoMB;
  // Stops after the first NUL character, which it appends.
  void MBtoWC(wide_buffer& out, const narrow_buffer& in) override;
  void WCtoMB(narrow_buffer& out, const wide_buffer& in) override;
};

}  // namespace Velk
