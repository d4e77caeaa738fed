#include "driver/paired_pump.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "support/core/exceptions.h"
#include "support/core/thread.h"

namespace Velk {
namespace {

constexpr std::uint64_t kNotYetKnown = std::numeric_limits<std::uint64_t>::max();

// One thread's own: its replacer, and the chunk it read, behind room for
// the bytes the chunk before kept back.
struct HALF {
  std::unique_ptr<stream_replacer> replacer;
  narrow_buffer buffer;  // room, then the chunk
  narrow_buffer out;     // the chunk's own result
};

// What the two threads share. The helper keeps it alive as long as it
// runs, so that one left in a read never writes freed memory.
struct SHARED {
  SHARED(TByteSource& source, TStreamSink& sink, std::size_t chunk, std::size_t room)
      : source(source), sink(sink), chunk(chunk), room(room) {}

  TByteSource& source;
  TStreamSink& sink;
  const std::size_t chunk;
  const std::size_t room;  // the most a chunk keeps back for the next

  // Changed under the mutex, read without it while a thread spins.
  std::mutex mutex;
  std::condition_variable wake;
  unsigned sleepers = 0;
  std::atomic<bool> reading{false};                 // a thread reads a chunk
  std::uint64_t next_chunk = 0;                     // the chunk read next
  std::atomic<std::uint64_t> pass_turn{0};          // the chunk whose result goes next
  std::atomic<std::uint64_t> chunks{kNotYetKnown};  // how many, once the last is read
  std::atomic<bool> failed{false};                  // both threads stop
  bool helper_done = false;
  std::exception_ptr helper_failure;

  // The thread whose turn it is to pass a result owns these.
  narrow_buffer carry;  // the bytes the chunk before kept back
  std::uint64_t input_start = 0;
  std::uint64_t count = 0;

  HALF halves[2];
};

// A turn comes a few microseconds after it is asked for, mostly, and a
// thread put to sleep takes far longer to wake: the waiter spins a while
// first.
constexpr std::chrono::microseconds kSpin(200);

template <class Ready>
void AwaitTurn(SHARED& s, Ready ready) {
  if (ready()) return;
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (unsigned i = 1;; ++i) {
    std::this_thread::yield();
    if (ready()) return;
    if (i % 16 == 0 && std::chrono::steady_clock::now() > until) break;
  }
  std::unique_lock<std::mutex> hold(s.mutex);
  ++s.sleepers;
  s.wake.wait(hold, ready);
  --s.sleepers;
}

// Changes what the other thread may wait for.
template <class Change>
void Announce(SHARED& s, Change change) {
  std::lock_guard<std::mutex> hold(s.mutex);
  change();
  if (s.sleepers != 0) s.wake.notify_all();
}

// Puts the chunk behind the carry and hands the result to the sink: the
// carry unchanged and then the chunk's own result when no match begins in
// the carry, else the result of the two searched again as one window.
void PassOn(SHARED& s, HALF& half, char* data, std::size_t length, bool last,
            std::size_t consumed, std::uint64_t found) {
  const std::size_t kept = s.carry.length();
  char* window = data - kept;
  std::memcpy(window, s.carry.data(), kept);
  std::size_t used;
  if (!half.replacer->begins_match_in(window, kept + length, kept, last)) {
    if (kept != 0) {
      s.sink.Piece(s.carry, s.input_start, kept, false);
      s.input_start += kept;
    }
    used = consumed;
    window = data;
  } else {
    half.out.clear();
    const std::uint64_t before = half.replacer->count();
    used = half.replacer->feed(window, kept + length, last, half.out);
    found = half.replacer->count() - before;
    length += kept;
  }
  s.carry.assign(window + used, narrow_buffer::size_type(length - used));
  narrow_buffer passed;
  const narrow_buffer& piece = PieceOf(*half.replacer, window, used, half.out, passed);
  if (used != 0 || !piece.empty()) s.sink.Piece(piece, s.input_start, used, found != 0);
  s.input_start += used;
  s.count += found;
}

// Takes the next chunk whenever the other thread is not reading, until the
// last; returns when the input is worked or the other thread failed, and
// throws this thread's failure once the chunks before it are passed on. A
// thread holds one chunk at a time, so the two chunks under way are always
// the next two to pass on.
void Work(SHARED& s, HALF& half) {
  for (;;) {
    std::uint64_t k;
    for (;;) {
      AwaitTurn(s, [&] { return !s.reading || s.failed; });
      std::lock_guard<std::mutex> hold(s.mutex);
      if (s.failed || s.next_chunk >= s.chunks) return;
      if (s.reading) continue;
      s.reading = true;
      k = s.next_chunk++;
      break;
    }
    char* data = half.buffer.data() + s.room;
    std::size_t length = 0;
    bool last = false;
    std::exception_ptr failure;
    try {
      // A whole chunk, unless the input ends or a read brings less than
      // asked: what came is worked at once.
      while (length < s.chunk) {
        const std::size_t asked = s.chunk - length;
        const std::size_t got = s.source.Read(data + length, asked);
        if (got == 0) {
          last = true;
          break;
        }
        length += got;
        if (got < asked) break;  // what has come is worked before waiting for more
      }
    } catch (...) {
      failure = std::current_exception();
      last = true;
    }
    Announce(s, [&] {
      s.reading = false;
      if (last) s.chunks = k + 1;
    });
    std::size_t consumed = 0;
    std::uint64_t found = 0;
    if (!failure) {
      try {
        half.out.clear();
        const std::uint64_t before = half.replacer->count();
        consumed = half.replacer->feed(data, length, last, half.out);
        found = half.replacer->count() - before;
      } catch (...) {
        failure = std::current_exception();
      }
    }
    AwaitTurn(s, [&] { return s.pass_turn == k || s.failed; });
    if (s.failed) return;
    if (failure) std::rethrow_exception(failure);
    PassOn(s, half, data, length, last, consumed, found);
    Announce(s, [&] { s.pass_turn = k + 1; });
    if (last) return;
  }
}

// The second thread; deletes itself when Run returns.
class CHelper : public TThread {
 public:
  explicit CHelper(std::shared_ptr<SHARED> shared) : shared_(std::move(shared)) {}

  std::uint32_t Run() override {
    try {
      Work(*shared_, shared_->halves[1]);
    } catch (...) {
      Stop(std::current_exception());
      return 0;
    }
    Stop(nullptr);
    return 0;
  }

 private:
  void Stop(std::exception_ptr failure) {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    if (failure) {
      shared_->failed = true;
      shared_->helper_failure = std::move(failure);
    }
    shared_->helper_done = true;
    shared_->wake.notify_all();
  }

  std::shared_ptr<SHARED> shared_;
};

}  // namespace

bool PumpInPairs(stream_replacer& replacer, TByteSource& source, TStreamSink& sink,
                 std::size_t chunk, std::uint64_t& input_read) {
  std::unique_ptr<stream_replacer> twins[2] = {replacer.twin(), nullptr};
  if (!twins[0]) return false;
  twins[1] = replacer.twin();
  const std::size_t room = replacer.literal_keep();
  auto shared = std::make_shared<SHARED>(source, sink, chunk, room);
  for (unsigned i = 0; i < 2; ++i) {
    HALF& half = shared->halves[i];
    half.replacer = std::move(twins[i]);
    half.replacer->set_pass_unchanged(true);  // each piece is passed on in turn, at once
    half.buffer.reserve_exact(room + chunk + 1);
    half.out.reserve_exact(chunk * STREAM_OUTPUT_RESERVE_FACTOR + 1);
  }
  shared->carry.reserve_exact(room + 1);
  try {
    std::unique_ptr<CHelper> helper(new CHelper(shared));
    helper->Create(true);
    helper.release()->Resume();
  } catch (const threadExp&) {
    return false;  // no thread to spare
  }
  SHARED& s = *shared;
  try {
    Work(s, s.halves[0]);
  } catch (...) {
    std::unique_lock<std::mutex> hold(s.mutex);
    s.failed = true;
    s.wake.notify_all();
    s.wake.wait_for(hold, STREAM_THREAD_STOP_WAIT, [&] { return s.helper_done; });
    throw;
  }
  std::unique_lock<std::mutex> hold(s.mutex);
  s.wake.wait(hold, [&] { return s.helper_done; });
  if (s.helper_failure) std::rethrow_exception(s.helper_failure);
  replacer.add_count(s.count);
  input_read = s.input_start;
  return true;
}

}  // namespace Velk
