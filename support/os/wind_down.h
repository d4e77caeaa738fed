// The wind-down of a run that an interrupt asks to stop, as the signal and
// console handlers of every platform keep it: not armed; armed, when the
// first interrupt is only recorded; then that interrupt's signal number.
// Lock-free, so a handler may use it at any moment.
#pragma once

#include <atomic>

namespace Velk::os {

class wind_down_state {
 public:
  void arm() noexcept { state_.store(kArmed); }

  // From a handler: true when signal_number was recorded, the run then
  // winding down; false when it is not armed or already recorded one (the
  // interrupt is then to act at once).
  bool record(int signal_number) noexcept {
    int armed = kArmed;
    return state_.compare_exchange_strong(armed, signal_number);
  }

  // The recorded signal, 0 when none.
  int recorded() const noexcept { return positive(state_.load()); }

  // Disarms and returns the recorded signal (0: none).
  int end() noexcept { return positive(state_.exchange(0)); }

 private:
  static constexpr int kArmed = -1;
  static int positive(int state) noexcept { return state > 0 ? state : 0; }

  std::atomic<int> state_{0};
};

}  // namespace Velk::os
