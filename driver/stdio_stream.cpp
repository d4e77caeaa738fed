#include "driver/stdio_stream.h"

#include "driver/std_streams.h"
#include "driver/stream_pump.h"
#include "driver/streamed_preview.h"
#include "driver/unified_diff.h"
#include "support/core/system_info.h"

namespace Velk {
namespace {

class CStandardInput : public TByteSource {
 public:
  explicit CStandardInput(bool ahead) : ahead_(ahead) {}
  std::size_t Read(char* dest, std::size_t room) override {
    return ReadStandardInputSome(dest, room);
  }
  bool ReadsAhead() const override { return ahead_; }
  bool ReadsInTurns() const override { return ahead_; }

 private:
  bool ahead_;
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
  // Reading ahead pays only with a second processor to read on.
  const bool ahead = GetProcessorCount() > 1;
  CStandardInput input(ahead);
  CStandardOutput output;
  // A literal find is read and searched on both processors in turn, in
  // chunks that stay in a processor's cache.
  const bool in_turns = ahead && settings.method != FindMethod::Regex;
  PumpStream(replacer, input, output,
             in_turns ? STREAM_CHUNK_IN_TURNS : ahead ? STREAM_CHUNK_READ_AHEAD : STREAM_CHUNK);
  return replacer.count();
}

std::uint64_t PreviewStandardInput(const RUN_SETTINGS& settings, const Matcher& matcher) {
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  // The smaller chunk bounds a piece's replacement records too.
  CStandardInput input(GetProcessorCount() > 1);
  CStreamedPreview preview(narrow_buffer::literal(kStandardInputDiffName), settings.colored,
                           [](const narrow_buffer& hunks) { WriteStandardOutput(hunks); });
  PumpStream(replacer, input, preview, STREAM_CHUNK);
  preview.Finish();
  return replacer.count();
}

}  // namespace Velk
