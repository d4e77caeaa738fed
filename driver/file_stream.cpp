#include "driver/file_stream.h"

#include <algorithm>
#include <cstring>

#include "driver/std_streams.h"
#include "driver/streamed_preview.h"
#include "support/core/binary_block.h"
#include "support/core/system_info.h"

namespace Velk {
namespace {

// The file from its first block on, which was read before the pump starts.
class CFileSource : public TByteSource {
 public:
  CFileSource(CStreamedFile& file, const char* head, std::size_t head_length,
              const std::function<bool()>& interrupted, bool in_turns)
      : file_(file),
        head_(head),
        head_length_(head_length),
        interrupted_(interrupted),
        in_turns_(in_turns) {}
  bool ReadsInTurns() const override { return in_turns_; }

  std::size_t Read(char* dest, std::size_t room) override {
    if (head_length_ != 0) {
      const std::size_t count = std::min(room, head_length_);
      std::memcpy(dest, head_, count);
      head_ += count;
      head_length_ -= count;
      return count;
    }
    // An interrupt stops the run from going on with a file it has not
    // begun to replace.
    if (interrupted_ && interrupted_()) throw INTERRUPTED();
    try {
      return file_.Read(dest, room);
    } catch (...) {
      failed = true;
      throw;
    }
  }

  struct INTERRUPTED {};
  bool failed = false;  // the exception came from a read

 private:
  CStreamedFile& file_;
  const char* head_;
  std::size_t head_length_;
  const std::function<bool()>& interrupted_;
  bool in_turns_;
};

// Writes nothing until the first change; then the unchanged start is copied
// and every later piece written.
class CFileSink : public TStreamSink {
 public:
  CFileSink(CStreamedFile& file, bool behind) : file_(file), behind_(behind) {}
  bool WritesBehind() const override { return behind_; }
  void Piece(const narrow_buffer& out, std::uint64_t input_start, std::size_t,
             bool changed) override {
    if (!file_.Rewriting()) {
      if (!changed) return;
      file_.BeginRewrite(input_start);
    }
    file_.Write(out.c_str(), out.length());
  }

 private:
  CStreamedFile& file_;
  bool behind_;
};

// Writes a streamed file's output to standard output, in the file's turn:
// the first piece waits until every earlier file has been reported.
class CTurnOutput {
 public:
  explicit CTurnOutput(const std::function<bool()>& await_turn) : await_turn_(await_turn) {}
  void Write(const narrow_buffer& bytes) {
    if (bytes.empty()) return;
    if (!turn_) {
      if (!await_turn_()) throw TURN_LOST();
      turn_ = true;
    }
    try {
      WriteStandardOutput(bytes);
    } catch (...) {
      throw OUTPUT_FAILED{std::current_exception()};
    }
  }

 private:
  const std::function<bool()>& await_turn_;
  bool turn_ = false;
};

// The result of each piece, as it is made ("-stdout").
class CResultOutput : public TStreamSink {
 public:
  explicit CResultOutput(CTurnOutput& output) : output_(output) {}
  void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
    output_.Write(out);
  }

 private:
  CTurnOutput& output_;
};

// Reads the file through the pump into sink, after the checks of its first
// block; fills result as PrepareStreamedFile says. False when the pump did
// not run to the end.
bool PumpFile(const RUN_SETTINGS& settings, const Matcher& matcher, const CFileMode& files,
              CStreamedFile& stream, FILE_JOB_RESULT& result,
              const std::function<bool()>& interrupted, TStreamSink* sink, std::size_t chunk,
              std::uint64_t overlap_from) {
  // The first block, for the binary rule, before anything is written.
  char head[kBinaryCheckBytes];
  std::size_t head_length = 0;
  try {
    head_length = stream.Read(head, sizeof head);
  } catch (...) {
    files.AppendReadFailure(result.file, std::current_exception(), result.messages);
    result.failed = true;
    return false;
  }
  // An empty file is skipped: no replacement, no output.
  if (head_length == 0) return false;
  if (!settings.binary && result.file.by_listing && HasNulByte(head, head_length)) {
    result.left_alone = true;
    return false;
  }

  // A large file's new contents are written on a thread of its own when a
  // second processor can take it: the system's copy into the temporary file
  // then overlaps the reads and the search. (Reading ahead as well, a third
  // busy thread on two processors, measured slower.) A literal find that
  // rewrites the file reads and searches it on both processors in turn
  // instead (paired_pump.h), which measured faster still. A smaller file,
  // or a tree of them, starts no thread.
  const bool overlap = overlap_from == 0 || (stream.GetSize() >= overlap_from &&
                                             GetProcessorCount() > 1);
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CFileSource source(stream, head, head_length, interrupted, overlap && !sink);
  CFileSink rewrite(stream, overlap);
  try {
    PumpStream(replacer, source, sink ? *sink : rewrite, chunk);
  } catch (const CFileSource::INTERRUPTED&) {
    result.skipped = true;
    return false;
  } catch (const byExp& error) {
    if (source.failed)
      files.AppendReadFailure(result.file, std::current_exception(), result.messages);
    else
      files.AppendWriteFailure(result.file, error, result.messages);
    result.failed = true;
    return false;
  }
  result.count = replacer.count();
  return true;
}

}  // namespace

bool StreamsFiles(const RUN_SETTINGS& settings, const Matcher& matcher) {
  return !settings.review && CStreamedFile::IsSupported() &&
         stream_replacer::can_stream(settings.method, matcher);
}

void PrepareStreamedFile(const RUN_SETTINGS& settings, const Matcher& matcher,
                         const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result,
                         const std::function<bool()>& interrupted, std::size_t chunk,
                         std::uint64_t overlap_from) {
  result.needs_commit = false;
  // Whatever ends the work before its commit lets the file go.
  struct release_unless_committed {
    CStreamedFile& stream;
    const FILE_JOB_RESULT& result;
    ~release_unless_committed() {
      if (!result.needs_commit) stream.Reset();
    }
  } release{stream, result};
  if (PumpFile(settings, matcher, files, stream, result, interrupted, nullptr, chunk,
               overlap_from))
    result.needs_commit = stream.Rewriting();
}

void OutputStreamedFile(const RUN_SETTINGS& settings, const Matcher& matcher,
                        const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result,
                        const std::function<bool()>& await_turn, std::size_t chunk) {
  result.needs_commit = false;
  struct release {
    CStreamedFile& stream;
    ~release() { stream.Reset(); }
  } let_go{stream};
  CTurnOutput output(await_turn);
  CResultOutput results(output);
  CStreamedPreview preview(files.GetDiffName(result.file), settings.colored,
                           [&](const narrow_buffer& hunks) { output.Write(hunks); });
  TStreamSink& sink = settings.diff_mode ? static_cast<TStreamSink&>(preview) : results;
  const std::function<bool()> never;
  try {
    if (PumpFile(settings, matcher, files, stream, result, never, &sink, chunk,
                 STREAM_OVERLAP_BYTES) &&
        settings.diff_mode)
      preview.Finish();
  } catch (const TURN_LOST&) {
    result.skipped = true;
  } catch (const OUTPUT_FAILED& failed) {
    result.output_error = failed.error;
  }
}

void CommitStreamedFile(const CFileMode& files, CStreamedFile& stream, FILE_JOB_RESULT& result) {
  try {
    stream.FinishRewrite(false);
  } catch (const byExp& error) {
    files.AppendWriteFailure(result.file, error, result.messages);
    result.failed = true;
  }
}

}  // namespace Velk
