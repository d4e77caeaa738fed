// The choice of the process's prototype converter and the system encoding,
// as functions of the system code page, so that they can be exercised with
// code pages other than the running system's. Internal to the text library.
#pragma once

#include <cstdint>

#include "support/text/text_conv.h"

namespace Velk {

// The system code page for what the system reports: 65001 in place of 0.
std::int32_t SysCodePageFor(std::int32_t reported);

// The system encoding name for a code page: CPToEnc, "ASCII" if that fails.
narrow_buffer SysEncNameFor(std::int32_t code_page) noexcept;

// The prototype converter for a system code page: a COSTextConv, else a
// CTextLibIConv, else a CTextLibIcu for the code page's encoding name, else
// the runtime-locale converter. Each later step runs only when the one
// before it threw, so no library is loaded when the first succeeds.
TTextConv* CreateSysConv(std::int32_t code_page);

}  // namespace Velk
