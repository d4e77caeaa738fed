// The byExp family: every failure of the support library is thrown as one of
// these. An exception carries a complete message (composed at the throw site
// with message_builder, see error_message.h) and a small error number that
// tells, together with the class, which operation failed.
//
// byExp deliberately does not derive from std::exception, so a handler for
// standard exceptions never catches it. Derived classes add nothing but
// their type, which is what catch clauses select on. Copies share the
// message storage.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

class byExp {
 public:
  byExp(std::int32_t code, const narrow_buffer& message)
      : message_(message), code_(code) {}
  virtual ~byExp() = default;

  narrow_buffer GetMessage() const { return message_; }
  std::int32_t GetCode() const { return code_; }

 private:
  narrow_buffer message_;
  std::int32_t code_;
};

#define VELK_DECLARE_EXCEPTION(name, base) \
  class name : public base {               \
   public:                                 \
    using base::base;                      \
  }

VELK_DECLARE_EXCEPTION(utilExp, byExp);
VELK_DECLARE_EXCEPTION(syncExp, utilExp);
VELK_DECLARE_EXCEPTION(semExp, syncExp);
VELK_DECLARE_EXCEPTION(eventExp, syncExp);
VELK_DECLARE_EXCEPTION(syssrvExp, utilExp);
VELK_DECLARE_EXCEPTION(tlsExp, syssrvExp);
VELK_DECLARE_EXCEPTION(threadExp, syssrvExp);
VELK_DECLARE_EXCEPTION(dlllExp, syssrvExp);
VELK_DECLARE_EXCEPTION(tconvExp, syssrvExp);
VELK_DECLARE_EXCEPTION(ostxtconvExp, tconvExp);
VELK_DECLARE_EXCEPTION(libiconvExp, tconvExp);
VELK_DECLARE_EXCEPTION(libicuExp, tconvExp);
VELK_DECLARE_EXCEPTION(ioExp, utilExp);
VELK_DECLARE_EXCEPTION(dirExp, ioExp);
VELK_DECLARE_EXCEPTION(fileExp, ioExp);
VELK_DECLARE_EXCEPTION(sysfileExp, fileExp);

#undef VELK_DECLARE_EXCEPTION

}  // namespace Velk
