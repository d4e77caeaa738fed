#include "driver/file_stream.h"

#include <algorithm>
#include <cstring>

#include "support/core/binary_block.h"
#include "support/core/system_info.h"

namespace Velk {
namespace {

// The file from its first block on, which was read before the pump starts.
class CFileSource : public TByteSource {
 public:
  CFileSource(CStreamedFile& file, const char* head, std::size_t head_length,
              const std::function<bool()>& interrupted)
      : file_(file), head_(head), head_length_(head_length), interrupted_(interrupted) {}

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

}  // namespace

bool StreamsFiles(const RUN_SETTINGS& settings, const Matcher& matcher) {
  return !settings.stdout_mode && !settings.diff_mode && !settings.review &&
         CStreamedFile::IsSupported() && stream_replacer::can_stream(settings.method, matcher);
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

  // The first block, for the binary rule, before anything is written.
  char head[kBinaryCheckBytes];
  std::size_t head_length = 0;
  try {
    head_length = stream.Read(head, sizeof head);
  } catch (...) {
    files.AppendReadFailure(result.file, std::current_exception(), result.messages);
    result.failed = true;
    return;
  }
  // An empty file is skipped: no replacement, no output.
  if (head_length == 0) return;
  if (!settings.binary && result.file.by_listing && HasNulByte(head, head_length)) {
    result.left_alone = true;
    return;
  }

  // A large file's new contents are written on a thread of its own when a
  // second processor can take it: the system's copy into the temporary file
  // then overlaps the reads and the search. (Reading ahead as well, a third
  // busy thread on two processors, measured slower.) A smaller file, or a
  // tree of them, starts no thread.
  const bool overlap = overlap_from == 0 || (stream.GetSize() >= overlap_from &&
                                             GetProcessorCount() > 1);
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CFileSource source(stream, head, head_length, interrupted);
  CFileSink sink(stream, overlap);
  try {
    PumpStream(replacer, source, sink, chunk);
  } catch (const CFileSource::INTERRUPTED&) {
    result.skipped = true;
    return;
  } catch (const byExp& error) {
    if (source.failed)
      files.AppendReadFailure(result.file, std::current_exception(), result.messages);
    else
      files.AppendWriteFailure(result.file, error, result.messages);
    result.failed = true;
    return;
  }
  result.count = replacer.count();
  result.needs_commit = stream.Rewriting();
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
