// TTextConv: the text converter interface, between multibyte text (a
// narrow_buffer in some encoding) and UTF-16 (a wide_buffer), and the
// library's process-wide encoding services.
//
// Implementations: COSTextConv (the system's code-page conversion),
// CTextLibIConv and CTextLibIcu (an iconv library and ICU, loaded at run
// time), and a last-resort runtime-locale converter. TTextConv itself is
// instantiable: it widens each byte as a signed 8-bit value and narrows each
// unit to its low byte.
//
// Ownership: Create and Clone return a new converter owned by the caller.
// The converter of GetThreadConv belongs to the calling thread and must not
// be deleted. A converter object is used by one thread at a time unless its
// class says otherwise.
//
// Error contract: conversions and constructors throw the tconvExp family;
// EncToCP throws tconvExp (code 1) for an unknown name. Conv, GetThreadConv
// and ReleaseThreadConv never throw. Destructors of the library converters
// may throw when no other exception is in flight.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

class TTextConv {
 public:
  TTextConv() = default;
  TTextConv(const TTextConv&) = default;
  TTextConv& operator=(const TTextConv&) = default;
  virtual ~TTextConv() noexcept(false) {}

  // A new converter of the same class for another encoding.
  virtual TTextConv* Create(const narrow_buffer& enc_name) const;
  virtual TTextConv* Create(std::int32_t code_page) const;
  // A new converter of the same class and encoding.
  virtual TTextConv* Clone() const;

  // Convert in into out, replacing out's contents. An empty input gives an
  // empty output without calling any library.
  virtual void MBtoWC(wide_buffer& out, const narrow_buffer& in);
  virtual wide_buffer MBtoWC(const narrow_buffer& in);
  virtual void WCtoMB(narrow_buffer& out, const wide_buffer& in);
  virtual narrow_buffer WCtoMB(const wide_buffer& in);

  // The identity pass of arguments and file names: makes sure the thread's
  // converter exists and returns an identical copy of text.
  static narrow_buffer Conv(const narrow_buffer& text) noexcept;

  // The calling thread's default converter, cloned from the process-wide
  // prototype on the thread's first call.
  static TTextConv* GetThreadConv() noexcept;
  // Releases the calling thread's default converter (at thread exit).
  static void ReleaseThreadConv() noexcept;

  // The system code page (65001 when the system reports none) and its
  // registry name ("ASCII" when it has none); both cached for the process.
  static std::int32_t GetSysCodePage();
  static narrow_buffer GetSysEncName();

  // The encoding registry: a name (or "CP" and a number) to its code page,
  // and a code page to its first name in case-insensitive order (or "CP"
  // and the number).
  static std::int32_t EncToCP(const narrow_buffer& enc_name);
  static narrow_buffer CPToEnc(std::int32_t code_page);
};

}  // namespace Velk
