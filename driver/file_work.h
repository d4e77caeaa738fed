// The file mode's per-file work for COrderedFilePool: read and replace
// (Prepare), write back (Commit), and the report of each file in list order
// (Emit): its "[ERROR] " lines, its result on standard output in stdout
// mode or else its count line, and its count added to the total. A file
// larger than a chunk is streamed where the find allows (file_stream.h):
// Prepare reads it and writes its new contents to a temporary file, Commit
// replaces the file by them; under "-diff" or "-stdout" Prepare writes its
// preview or result to standard output itself, in the file's turn.
//
// A regular-expression find needs a compiled expression on every thread
// that searches (a compiled expression belongs to the thread that made
// it): the calling thread uses the run's Matcher, each worker compiles its
// own once when it starts and releases it, with the engine's per-thread
// state, when it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "driver/change_review.h"
#include "driver/file_mode.h"
#include "driver/ordered_file_pool.h"
#include "driver/run_settings.h"
#include "engine/find_method.h"
#include "engine/replacement_log.h"
#include "support/fs/streamed_file.h"

namespace Velk {

class CFileWork : public TFileWork {
 public:
  // matcher: the run's compiled expression, made on the calling thread.
  // review: asks about each file's changes in Commit (under "-review",
  // which runs on the calling thread alone); null otherwise. pool: the pool
  // that runs the work, whose order a file streamed to standard output
  // waits for.
  CFileWork(const RUN_SETTINGS& settings, const CFileMode& files, const Matcher& matcher,
            unsigned workers, COrderedFilePool& pool, CChangeReview* review = nullptr);

  void WorkerStarts(unsigned worker) override;
  void WorkerEnds(unsigned worker) noexcept override;
  void Prepare(unsigned worker, std::size_t index, FILE_JOB_RESULT& result) override;
  void Commit(unsigned worker, std::size_t index, FILE_JOB_RESULT& result) override;
  void Emit(std::size_t index, FILE_JOB_RESULT& result) override;
  bool Interrupted() const override;

  std::uint64_t GetTotal() const { return total_; }
  // A file could not be read or written.
  bool AnyFailed() const { return any_failed_; }
  // Files skipped because the run was interrupted first.
  std::uint64_t GetNotProcessed() const { return not_processed_; }

 private:
  struct WORKER {
    Matcher matcher;
    narrow_buffer content;
    FILE_IDENTITY identity;  // of the file in content, for its write-back
    narrow_buffer scratch;
    narrow_buffer fresh;     // the file read again, under its lock
    narrow_buffer original;  // a review's input
    ReplacementLog log;      // a preview's or a review's replacements
    narrow_buffer accepted;  // a review's text to write
    CStreamedFile stream;    // a file streamed, until its write-back
  };

  // Replaces in own.content what the run asks for, as a rewrite, a
  // preview, a review or a result for standard output.
  void __Work(WORKER& own, FILE_JOB_RESULT& result);
  void __ReviewAndWrite(WORKER& own, FILE_JOB_RESULT& result);

  const RUN_SETTINGS& settings_;
  const CFileMode& files_;
  const Matcher& matcher_;
  COrderedFilePool& pool_;
  const std::thread::id caller_;
  CChangeReview* review_;
  const bool streams_;  // files larger than a chunk are streamed
  const std::function<bool()> interrupted_;
  std::atomic<bool> quit_{false};  // the review ended: no later file is read
  std::vector<WORKER> workers_;
  std::uint64_t total_ = 0;
  std::uint64_t not_processed_ = 0;
  bool any_failed_ = false;
};

}  // namespace Velk
