// PumpInPairs: works one input through a literal find on two threads that
// take its chunks in turn. A thread reads the next chunk whenever the other
// is not reading (the reads follow each other in input order), searches it
// while the other reads and searches the next, and passes its result to the
// sink once the chunk before has passed its own. The thread that reads a chunk searches it, so
// the bytes the system has just copied are searched from that processor's
// cache, and both processors read and search.
//
// A chunk is searched from its first byte, on a twin replacer of its
// thread's own (stream_replacer::twin). That is the whole text's search
// exactly when no match begins in the bytes the chunk before kept back;
// otherwise the chunk is searched again behind them when its turn comes,
// which the bytes at the chunks' edges decide. The result and the count are
// those of PumpStream.
//
// A failure (a read, a search, the sink) ends the run with its error after
// the results of the chunks before it, as on one thread; the other thread
// stops, and one still in a read that does not return is not waited for
// long: it ends when its read returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/stream_pump.h"

namespace Velk {

// Reads source to its end through sink and adds the replacements to
// replacer's count; input_read is the number of input bytes read. Returns
// false, having read nothing, when the find has no twin (a regular
// expression) or no second thread starts: the caller then pumps on one.
bool PumpInPairs(stream_replacer& replacer, TByteSource& source, TStreamSink& sink,
                 std::size_t chunk, std::uint64_t& input_read);

}  // namespace Velk
