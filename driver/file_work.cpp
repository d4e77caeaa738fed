#include "driver/file_work.h"

#include <algorithm>

#include "driver/diff_preview.h"
#include "driver/file_stream.h"
#include "driver/replace_step.h"
#include "driver/std_streams.h"
#include "engine/regex_engine.h"
#include "support/core/binary_block.h"
#include "support/core/thread_exit_hooks.h"
#include "support/fs/write_back.h"

namespace Velk {

CFileWork::CFileWork(const RUN_SETTINGS& settings, const CFileMode& files,
                     const Matcher& matcher, unsigned workers, COrderedFilePool& pool,
                     CChangeReview* review)
    : settings_(settings),
      files_(files),
      matcher_(matcher),
      pool_(pool),
      caller_(std::this_thread::get_id()),
      review_(review),
      streams_(StreamsFiles(settings, matcher)),
      interrupted_([this] { return Interrupted(); }),
      workers_(workers ? workers : 1) {}

void CFileWork::WorkerStarts(unsigned worker) {
  WORKER& own = workers_[worker];
  if (settings_.method != FindMethod::Regex || matcher_.empty()) return;
  if (std::this_thread::get_id() == caller_) {
    own.matcher = matcher_;
    return;
  }
  // The engine keeps state per thread; a library thread releases it when it
  // ends, after WorkerEnds has released the thread's expression.
  RegisterThreadExitHook(thread_exit_regex_engine, &release_regex_thread_state);
  own.matcher = CompileFind(settings_);
}

void CFileWork::WorkerEnds(unsigned worker) noexcept {
  workers_[worker] = WORKER();
}

void CFileWork::Prepare(unsigned worker, std::size_t index, FILE_JOB_RESULT& result) {
  // The text stays with the worker, which commits the job next; only a
  // result for standard output travels to Emit in the job's slot.
  WORKER& own = workers_[worker];
  result.needs_commit = false;
  // A file that is not written back is let go (and its lock with it) as
  // soon as its work ends.
  struct release_unless_committed {
    WORKER& own;
    const FILE_JOB_RESULT& result;
    ~release_unless_committed() {
      if (!result.needs_commit) own.identity = FILE_IDENTITY();
    }
  } release{own, result};
  // A streamed file whose commit was skipped goes with its new contents.
  own.stream.Reset();
  if (quit_) return;
  // Most files hold no match and are never written, so a file is read
  // unlocked first. One that is to be rewritten is read again under its
  // lock, which other rplc runs take too: if it still holds what was read,
  // the result stands; if not (another run rewrote it in between), it is
  // worked again from what the locked read found.
  std::uint64_t size = 0;
  if (!files_.Open(result.file, own.identity, size, result.messages, false)) {
    result.failed = true;
    return;
  }
  // A file larger than a chunk is streamed, and so read once: it is opened
  // again under its lock before its first byte is read. A smaller one is
  // read whole, which costs the same memory and fewer steps.
  if (streams_ && size > STREAM_CHUNK && (settings_.diff_mode || settings_.stdout_mode)) {
    // Nothing is written back, so the file stays unlocked while the job
    // waits for its turn to write.
    own.stream.Attach(own.identity);
    OutputStreamedFile(settings_, own.matcher, files_, own.stream, result,
                       [&] { return pool_.AwaitTurn(index); });
    return;
  }
  if (streams_ && size > STREAM_CHUNK) {
    if (!files_.Open(result.file, own.identity, size, result.messages, true)) {
      result.failed = true;
      return;
    }
    own.stream.Attach(own.identity);
    PrepareStreamedFile(settings_, own.matcher, files_, own.stream, result, interrupted_);
    return;
  }
  if (!files_.ReadOpened(result.file, own.identity, size, own.content, result.messages)) {
    result.failed = true;
    return;
  }
  __Work(own, result);
  if (!result.needs_commit) return;
  if (!files_.Read(result.file, own.fresh, own.identity, result.messages, true)) {
    result.needs_commit = false;
    result.failed = true;
    return;
  }
  // The text that was read: kept by the expanding loops, copied for a
  // review of the in-place ones; the plain in-place loops keep nothing.
  const narrow_buffer* read =
      settings_.expand ? &own.scratch : review_ ? &own.original : nullptr;
  if (read && *read == own.fresh) return;
  own.content.swap(own.fresh);
  __Work(own, result);
}

void CFileWork::__Work(WORKER& own, FILE_JOB_RESULT& result) {
  result.needs_commit = false;
  result.count = 0;
  // An empty file is skipped: no replacement, no output.
  if (own.content.empty()) return;
  // A binary file that a listing found is left alone, unless asked for.
  if (!settings_.binary && result.file.by_listing &&
      HasNulByte(own.content.data(),
                 std::min<std::size_t>(own.content.length(), kBinaryCheckBytes))) {
    result.left_alone = true;
    return;
  }
  if (review_) {
    // The questions come in Commit, on the calling thread, before anything
    // is written.
    result.count =
        ReplaceKeepingInput(settings_, own.matcher, own.content, own.scratch, own.original, own.log);
    result.needs_commit = result.count != 0;
    if (!result.needs_commit) own.original = narrow_buffer();
    return;
  }
  if (settings_.diff_mode) {
    // A preview writes nothing: its diff travels to Emit as the result.
    result.count = ReplaceAndPreview(settings_, own.matcher, files_.GetDiffName(result.file),
                                     own.content, own.scratch, own.log, result.content);
    return;
  }
  result.count = ReplaceAll(settings_, own.matcher, own.content, own.scratch);
  if (settings_.stdout_mode)
    result.content.swap(own.content);
  else
    result.needs_commit = result.count != 0;
}

void CFileWork::Commit(unsigned worker, std::size_t, FILE_JOB_RESULT& result) {
  if (review_) {
    __ReviewAndWrite(workers_[worker], result);
    return;
  }
  if (workers_[worker].stream.Rewriting()) {
    CommitStreamedFile(files_, workers_[worker].stream, result);
    return;
  }
  if (!files_.WriteBack(result.file, workers_[worker].content, workers_[worker].identity,
                          result.count, result.messages))
    result.failed = true;
}

void CFileWork::__ReviewAndWrite(WORKER& own, FILE_JOB_RESULT& result) {
  const REVIEW_OUTCOME outcome =
      review_->ReviewFile(files_.GetDiffName(result.file), own.original, own.content, own.log,
                          own.accepted);
  own.original = narrow_buffer();
  if (outcome.quit) quit_ = true;
  // An interrupt at a question writes nothing more, this file included.
  if (Interrupted()) {
    result.skipped = true;
    own.accepted.clear();
    return;
  }
  // The write-back refuses a file that changed while the questions were
  // open: the identity is the one read.
  result.count = outcome.accepted;
  if (!files_.WriteBack(result.file, own.accepted, own.identity, outcome.accepted,
                        result.messages))
    result.failed = true;
  own.accepted.clear();
}

bool CFileWork::Interrupted() const { return GetInterruptSignal() != 0; }

void CFileWork::Emit(std::size_t, FILE_JOB_RESULT& result) {
  if (result.output_error) std::rethrow_exception(result.output_error);
  if (result.skipped) {
    ++not_processed_;
    return;
  }
  if (result.error) files_.DescribeFailure(result.file, result.error, result.messages);
  if (!result.messages.empty()) WriteErrorText(result.messages);
  if (result.file.name.empty()) return;  // a note: its lines are all
  if (result.failed) {
    any_failed_ = true;
    return;
  }
  if (result.left_alone) {
    files_.ReportBinarySkipped(result.file);
    return;
  }
  if (settings_.diff_mode) {
    if (!result.content.empty()) WriteStandardOutput(result.content);
    files_.ReportCount(result.file, result.count);
  } else if (settings_.stdout_mode) {
    WriteStandardOutput(result.content);
  } else {
    files_.ReportCount(result.file, result.count);
  }
  total_ += result.count;
}

}  // namespace Velk
