// The "-diff" preview of an input that streams (stream_pump.h): a sink that
// keeps of the input and of its result only the lines the diff still needs
// (the context before the next change, the hunk being built and the
// context after it) and hands each hunk on as soon as it is complete. The
// diff is byte for byte the one of the whole texts (unified_diff.h); only
// one hunk is ever held whole, so a run of changes with fewer than seven
// unchanged lines between any two of them is held whole too, and so is
// the line being read (with the three before it), however long.
#pragma once

#include <cstdint>
#include <functional>

#include "driver/stream_pump.h"
#include "driver/unified_diff.h"
#include "support/core/basic_buffer.h"

namespace Velk {

class CStreamedPreview : public TStreamSink {
 public:
  // write: takes the finished hunks (with the file header before the
  // first), colored when colored is set; it may throw to stop the pump.
  // Bytes no longer needed are let go once there are at least slack of
  // them (and as many as are kept); tests let go of every one.
  using Writer = std::function<void(const narrow_buffer& hunks)>;
  CStreamedPreview(const narrow_buffer& name, bool colored, Writer write,
                   std::size_t slack = 64 * 1024);

  bool WantsReplacements() const override { return true; }
  void PieceInput(const char* input, const ReplacementLog& log) override;
  void Piece(const narrow_buffer& out, std::uint64_t input_start, std::size_t input_length,
             bool changed) override;
  // After the pump has read the whole input: the last hunk.
  void Finish();

 private:
  void __SetTexts(bool complete);
  void __Write();
  void __LetGo();

  const narrow_buffer name_;
  const bool colored_;
  Writer write_;
  const std::size_t slack_;
  narrow_buffer hunks_;
  narrow_buffer colored_hunks_;
  CUnifiedDiff diff_;
  // The bytes still needed of the input and of the result, from these
  // offsets on (in the library's buffers, whose growth failing is an
  // error reported for the input).
  narrow_buffer old_, new_;
  std::uint64_t old_base_ = 0, new_base_ = 0;
  const char* input_ = nullptr;
  const ReplacementLog* log_ = nullptr;
};

}  // namespace Velk
