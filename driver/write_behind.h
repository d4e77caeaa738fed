// CWriteBehind: passes the pieces of a stream (stream_pump.h) to their sink
// on a thread of its own, so that the sink's writes of one chunk's result
// overlap the search of the next. A few buffers are taken in turn: Hand
// exchanges the filled buffer for an empty one, so no byte is copied.
//
// The sink sees the pieces in the order handed, all on the writer thread.
// Its failure is thrown by the next Hand or by Finish; the pieces handed
// after the failed one are dropped. The destructor drops what is not yet
// written and waits until the writer is done with the piece it is passing
// on (a sink's write returns), so the sink may be destroyed right after it.
// Throws threadExp when the thread cannot start.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

#include "driver/stream_pump.h"

namespace Velk {

class CWriteBehind {
 public:
  // Each buffer is reserved for `reserve` bytes, the size of a chunk's
  // result, so that the replacer seldom grows one.
  CWriteBehind(TStreamSink& sink, std::size_t reserve);
  ~CWriteBehind();
  CWriteBehind(const CWriteBehind&) = delete;
  CWriteBehind& operator=(const CWriteBehind&) = delete;

  // Takes out's bytes for the sink (as TStreamSink::Piece's arguments) and
  // gives back an empty buffer in out. Waits while every buffer is full.
  void Hand(narrow_buffer& out, std::uint64_t input_start, std::size_t input_length,
            bool changed);
  // Waits until every piece handed has reached the sink; throws its failure.
  void Finish();

 private:
  static constexpr unsigned kSlots = 4;
  struct SLOT {
    narrow_buffer bytes;
    std::uint64_t input_start = 0;
    std::size_t input_length = 0;
    bool changed = false;
  };
  class CWriter;
  friend class CWriter;

  void ThrowFailure();

  TStreamSink& sink_;
  std::mutex mutex_;
  std::condition_variable writer_wake_;
  std::condition_variable user_wake_;
  SLOT slots_[kSlots];
  unsigned filled_ = 0;   // slots handed and not yet passed on
  unsigned next_ = 0;     // the slot Hand fills next
  bool writer_waits_ = false;
  bool user_waits_ = false;
  bool draining_ = false; // Finish waits: pass on every piece at once
  bool stop_ = false;     // the user is gone: pass on no more
  std::exception_ptr failure_;
  std::unique_ptr<CWriter> writer_;
};

}  // namespace Velk
