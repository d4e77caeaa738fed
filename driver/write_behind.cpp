#include "driver/write_behind.h"

#include "support/core/thread.h"

namespace Velk {

// Passes the slots on in the order filled. It sleeps when it has passed on
// every piece and wakes when half the slots are full (or at the end), so
// that the two threads wake each other a few times per eight pieces.
class CWriteBehind::CWriter : public TThread {
 public:
  explicit CWriter(CWriteBehind& owner) : owner_(owner) {}
  ~CWriter() override { Wait(); }

  std::uint32_t Run() override {
    CWriteBehind& o = owner_;
    for (unsigned k = 0;; k = (k + 1) % kSlots) {
      {
        std::unique_lock<std::mutex> hold(o.mutex_);
        if (o.filled_ == 0 && !o.stop_) {
          o.writer_waits_ = true;
          o.writer_wake_.wait(
              hold, [&] { return o.filled_ >= kSlots / 2 || o.draining_ || o.stop_; });
          o.writer_waits_ = false;
        }
        if (o.stop_ || o.filled_ == 0) break;
      }
      // The slot is this thread's until it is counted free again.
      SLOT& slot = o.slots_[k];
      try {
        o.sink_.Piece(slot.bytes, slot.input_start, slot.input_length, slot.changed);
      } catch (...) {
        std::lock_guard<std::mutex> hold(o.mutex_);
        o.failure_ = std::current_exception();
        o.user_wake_.notify_one();
        break;
      }
      slot.bytes.clear();
      std::lock_guard<std::mutex> hold(o.mutex_);
      --o.filled_;
      if (o.user_waits_) o.user_wake_.notify_one();
    }
    return 0;
  }

 private:
  CWriteBehind& owner_;
};

CWriteBehind::CWriteBehind(TStreamSink& sink, std::size_t reserve) : sink_(sink) {
  for (SLOT& slot : slots_) slot.bytes.reserve_exact(narrow_buffer::size_type(reserve + 1));
  writer_.reset(new CWriter(*this));
  writer_->Create();
  writer_->Resume();
}

CWriteBehind::~CWriteBehind() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
    writer_wake_.notify_one();
  }
  writer_.reset();
}

void CWriteBehind::ThrowFailure() { std::rethrow_exception(failure_); }

void CWriteBehind::Hand(narrow_buffer& out, std::uint64_t input_start, std::size_t input_length,
                        bool changed) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (filled_ == kSlots && !failure_) {
    user_waits_ = true;
    user_wake_.wait(hold, [&] { return filled_ < kSlots || failure_; });
    user_waits_ = false;
  }
  if (failure_) ThrowFailure();
  SLOT& slot = slots_[next_];
  slot.bytes.swap(out);
  slot.input_start = input_start;
  slot.input_length = input_length;
  slot.changed = changed;
  ++filled_;
  next_ = (next_ + 1) % kSlots;
  if (writer_waits_ && filled_ >= kSlots / 2) writer_wake_.notify_one();
}

void CWriteBehind::Finish() {
  std::unique_lock<std::mutex> hold(mutex_);
  draining_ = true;
  writer_wake_.notify_one();
  user_waits_ = true;
  user_wake_.wait(hold, [&] { return filled_ == 0 || failure_; });
  user_waits_ = false;
  if (failure_) ThrowFailure();
}

}  // namespace Velk
