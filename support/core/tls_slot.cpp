#include "support/core/tls_slot.h"

#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/error.h"
#include "support/os/thread.h"

namespace Velk {

namespace {
[[noreturn]] void throw_slot_error(std::int32_t code, const char* head, std::uint32_t index) {
  throw tlsExp(code, message_builder(head)
                         .detail("slot's index", index)
                         .os_error("sys error code", "sys error desc", os::last_error()));
}
}  // namespace

CTlsSlot::CTlsSlot() {
  if (!os::create_tls_slot(index_))
    throw tlsExp(1, message_builder("CTlsSlot::CTlsSlot - error create TLS Slot")
                        .os_error("sys error code", "sys error desc", os::last_error()));
}

CTlsSlot::~CTlsSlot() noexcept(false) {
  if (os::delete_tls_slot(index_) || std::uncaught_exceptions()) return;
  throw_slot_error(4, "CTlsSlot::~CTlsSlot - error release TLS Slot", index_);
}

void* CTlsSlot::GetValue() const {
  void* value = nullptr;
  if (!os::get_tls_value(index_, value))
    throw_slot_error(2, "CTlsSlot::GetValue - error get TLS Slot", index_);
  return value;
}

void CTlsSlot::SetValue(void* value) {
  if (!os::set_tls_value(index_, value))
    throw_slot_error(3, "CTlsSlot::SetValue - error set TLS Slot", index_);
}

}  // namespace Velk
