#include "driver/stdio_stream.h"

#include "driver/std_streams.h"
#include "driver/stream_pump.h"

namespace Velk {
namespace {

class CStandardInput : public TByteSource {
 public:
  std::size_t Read(char* dest, std::size_t room) override {
    return ReadStandardInputSome(dest, room);
  }
  bool ReadsAhead() const override { return true; }
};

class CStandardOutput : public TStreamSink {
 public:
  void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
    if (!out.empty()) WriteStandardOutput(out);
  }
};

}  // namespace

std::uint64_t StreamStandardInput(const RUN_SETTINGS& settings, const Matcher& matcher) {
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CStandardInput input;
  CStandardOutput output;
  PumpStream(replacer, input, output);
  return replacer.count();
}

}  // namespace Velk
