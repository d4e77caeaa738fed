// CReadAhead: reads a byte source on a thread of its own, one chunk ahead of
// its user, so that the system's copy of the next chunk overlaps the search
// of this one. A few buffers are taken in turn: while the user works one,
// the reader fills the others.
//
// Each buffer has `room` writable bytes in front of its data, where the user
// may put the bytes it kept from the chunk before, to search both as one
// window without copying the chunk.
//
// The reader's failure is thrown by Next, after the chunks read before it.
// The destructor stops the reader and waits for it briefly; one blocked in
// a read that does not return (a terminal, say) is not waited for: it ends
// when its read returns. Throws threadExp when the thread cannot start.
#pragma once

#include <cstddef>
#include <memory>

#include "driver/stream_pump.h"

namespace Velk {

class CReadAhead {
 public:
  struct CHUNK {
    char* data;          // data[-room, length) is writable
    std::size_t length;  // filled: a whole chunk, or what one short read brought
    bool last;           // the input ends with it
  };

  CReadAhead(TByteSource& source, std::size_t chunk, std::size_t room);
  ~CReadAhead();
  CReadAhead(const CReadAhead&) = delete;
  CReadAhead& operator=(const CReadAhead&) = delete;

  // Gives back the chunk returned before (its bytes may be overwritten from
  // now on) and waits for the next. Not to be called after the last.
  CHUNK Next();

 private:
  struct SHARED;
  class CReader;
  std::shared_ptr<SHARED> shared_;
  std::size_t room_;
  unsigned next_ = 0;
  bool handed_out_ = false;
};

}  // namespace Velk
