// CTlsSlot: one thread-local slot, a pointer-sized value that each thread
// sees on its own. A new slot reads as null in every thread; the slot does
// not own what is stored in it (whoever stores a value releases it, usually
// at thread exit). A CTlsSlot is neither copied nor moved.
//
// Error contract: tlsExp with code 1 (create), 2 (GetValue), 3 (SetValue),
// 4 (release, from the destructor only when no other exception is in
// flight); each message carries the slot's index (codes 2 to 4), errno and
// its text. An empty slot is not a failure.
#pragma once

#include <cstdint>

namespace Velk {

class CTlsSlot {
 public:
  CTlsSlot();
  ~CTlsSlot() noexcept(false);
  CTlsSlot(const CTlsSlot&) = delete;
  CTlsSlot& operator=(const CTlsSlot&) = delete;

  void* GetValue() const;
  void SetValue(void* value);

 private:
  std::uint32_t index_ = 0;
};

}  // namespace Velk
