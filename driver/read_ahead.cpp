#include "driver/read_ahead.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

#include "support/core/thread.h"

namespace Velk {
namespace {

// Chunk buffers in turn. A reader that has filled them all sleeps until
// half are given back, and its user sleeps only when the reader is behind,
// so that the two threads wake each other a few times per eight chunks,
// not twice per chunk.
constexpr unsigned kSlots = 4;

}  // namespace

// What the reader and its user share; the reader keeps it alive as long as
// it runs, so that a reader left in a read never writes freed memory.
struct CReadAhead::SHARED {
  struct SLOT {
    std::vector<char> bytes;  // room, then the chunk
    std::size_t length = 0;
    bool last = false;
    bool full = false;  // filled and not yet given back
    std::exception_ptr error;
  };
  std::mutex mutex;
  std::condition_variable reader_wake;
  std::condition_variable user_wake;
  SLOT slots[kSlots];
  unsigned free_slots = kSlots;
  bool reader_waits = false;
  bool user_waits = false;
  bool stop = false;   // the user is gone: read no more
  bool ended = false;  // the reader's Run is over
};

// Deletes itself when Run returns.
class CReadAhead::CReader : public TThread {
 public:
  CReader(std::shared_ptr<SHARED> shared, TByteSource& source, std::size_t chunk,
          std::size_t room)
      : shared_(std::move(shared)), source_(source), chunk_(chunk), room_(room) {}

  std::uint32_t Run() override {
    SHARED& s = *shared_;
    for (unsigned k = 0;; k = (k + 1) % kSlots) {
      SHARED::SLOT& slot = s.slots[k];
      {
        std::unique_lock<std::mutex> hold(s.mutex);
        if (slot.full) {
          s.reader_waits = true;
          s.reader_wake.wait(hold, [&] { return s.free_slots >= kSlots / 2 || s.stop; });
          s.reader_waits = false;
        }
        if (s.stop) break;
      }
      filling_ = k;
      // A whole chunk, unless the input ends or a read brings less than
      // asked (a pipe or a terminal with nothing more for now): what came is
      // worked at once rather than held until more comes.
      char* data = slot.bytes.data() + room_;
      std::size_t length = 0;
      bool last = false;
      while (length < chunk_) {
        const std::size_t asked = chunk_ - length;
        const std::size_t got = source_.Read(data + length, asked);
        if (got == 0) {
          last = true;
          break;
        }
        length += got;
        if (got < asked) break;  // what has come is worked before waiting for more
      }
      Publish(length, last, nullptr);
      if (last) break;
    }
    End();
    return 0;
  }

  // A failed read ends the input: Next throws it in the chunk's place.
  bool OnException() override {
    Publish(0, true, std::current_exception());
    End();
    return true;
  }

 private:
  void Publish(std::size_t length, bool last, std::exception_ptr error) {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    SHARED::SLOT& slot = shared_->slots[filling_];
    slot.length = length;
    slot.last = last;
    slot.error = std::move(error);
    slot.full = true;
    --shared_->free_slots;
    if (shared_->user_waits) shared_->user_wake.notify_one();
  }
  void End() {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    shared_->ended = true;
    shared_->user_wake.notify_one();
  }

  std::shared_ptr<SHARED> shared_;
  TByteSource& source_;
  std::size_t chunk_;
  std::size_t room_;
  unsigned filling_ = 0;
};

CReadAhead::CReadAhead(TByteSource& source, std::size_t chunk, std::size_t room)
    : shared_(std::make_shared<SHARED>()), room_(room) {
  for (SHARED::SLOT& slot : shared_->slots) slot.bytes.resize(room + chunk);
  std::unique_ptr<CReader> reader(new CReader(shared_, source, chunk, room));
  reader->Create(true);
  reader.release()->Resume();
}

CReadAhead::~CReadAhead() {
  std::unique_lock<std::mutex> hold(shared_->mutex);
  shared_->stop = true;
  shared_->reader_wake.notify_one();
  shared_->user_waits = true;
  shared_->user_wake.wait_for(hold, STREAM_THREAD_STOP_WAIT, [&] { return shared_->ended; });
}

CReadAhead::CHUNK CReadAhead::Next() {
  SHARED& s = *shared_;
  std::unique_lock<std::mutex> hold(s.mutex);
  if (handed_out_) {
    s.slots[(next_ + kSlots - 1) % kSlots].full = false;
    ++s.free_slots;
    if (s.reader_waits && s.free_slots >= kSlots / 2) s.reader_wake.notify_one();
  }
  SHARED::SLOT& slot = s.slots[next_];
  if (!slot.full) {
    s.user_waits = true;
    s.user_wake.wait(hold, [&] { return slot.full; });
    s.user_waits = false;
  }
  if (slot.error) std::rethrow_exception(slot.error);
  next_ = (next_ + 1) % kSlots;
  handed_out_ = true;
  return {slot.bytes.data() + room_, slot.length, slot.last};
}

}  // namespace Velk
