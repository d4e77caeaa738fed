// COrderedFilePool: runs the per-file work of a file list on several
// threads while everything the user sees happens as in a one-thread run.
//
// Each file is one job in three steps, supplied by a TFileWork:
//   Prepare (on a worker): read and replace;
//   Commit  (on a worker, only when Prepare did not fail): write back;
//   Emit    (on the thread that called Run, strictly in list order): write
//           the job's messages and output and add up its count.
// A job's failure is its failed flag: a read or write failure the work
// reported itself, or an exception that escaped Prepare or Commit (out of
// memory, say), which is then held in the job's error for Emit to report.
// Either way it is that file's failure alone: the other files are done (or,
// with stop_on_failure, the run ends there) and Emit sees it in list order.
//
// Ordering rules:
// - With stop_on_failure, a job is worked (prepared and committed) only
//   after every earlier job has ended without failure, one at a time in
//   list order, and the first failure in list order ends the run: no later
//   job commits and no later job is emitted. (A file is locked from its
//   read to its write, and a job must not wait for its turn holding a lock
//   that another run waits for.)
// - A name that stands twice in the list is worked twice, and the later job
//   starts (reads) only after the earlier one has committed.
// - At most files_in_flight_per_worker jobs per worker are taken beyond the
//   last emitted one, so memory does not grow with the length of the list.
//   The emitter is woken in batches (when the window fills up, at a failure
//   and at the end of the list), so output may come in bursts.
//
// The list may still be growing while the jobs run: a lister hands each
// name to a TFileFeed as it finds it, on the thread that called Run, and
// the jobs found so far are worked and emitted meanwhile. An exception from
// the lister ends the list where it stands; Run rethrows it once every job
// before it has been emitted, as a one-thread run would have reported it.
// The lister is held back while it runs far ahead of the workers, so the
// names waiting to be worked stay few.
// An interrupt (the work's Interrupted turns true) stops the run from
// starting files: a job not yet prepared, or prepared with something to
// commit but not yet committing, is skipped (emitted in its place as
// skipped); a commit under way finishes. A failure found before still
// counts as one.
//
// With one thread, or a list of one file, everything runs on the calling
// thread in list order: Prepare, Commit, Emit for each job in turn.
//
// Threads: the workers are TThreads owned by Run and ended before it
// returns, also when it throws. The work's Prepare and Commit run on
// several workers at once and must keep per-worker state apart (they get the
// worker's number); Emit and the lister run on the calling thread only.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "support/core/basic_buffer.h"
#include "support/fs/dir_walk.h"

namespace Velk {

// What one job produces, handed from Prepare to Commit to Emit. The slot a
// job gets is reused by later jobs: Prepare finds the storage of an earlier
// job's buffers (cleared), not their contents.
// One entry of the file list as the lister found it: a file, or a note (a
// message to write at that place in the order, such as a folder that could
// not be searched), which no job works.
struct LISTED_FILE {
  narrow_buffer name;        // the file's name; empty for a note
  FolderRef folder;          // the folder it was found in, when kept open
  os::file_id identity;      // which file the lister saw, when known
  bool by_listing = false;   // found by listing a folder, not named exactly
  narrow_buffer note;        // a note's standard-error lines
};

struct FILE_JOB_RESULT {
  LISTED_FILE file;        // the job's entry of the file list
  narrow_buffer content;   // the file's text, read and then replaced
  narrow_buffer messages;  // standard-error lines, each ending in a line feed
  std::uint64_t count = 0; // replacements made
  bool failed = false;     // the job failed; with stop_on_failure, the run ends
  bool needs_commit = true;  // Prepare clears it when Commit would do nothing
  bool left_alone = false;   // Prepare left the file alone on purpose (Emit says why)
  bool skipped = false;      // not worked: the run was interrupted first
  std::exception_ptr error;  // escaped from Prepare or Commit (failed is then set)
  // Standard output failed while the job wrote to it in its turn: Emit
  // throws it, as a failed write of its own would have been.
  std::exception_ptr output_error;
};

class TFileWork {
 public:
  virtual ~TFileWork() = default;
  // Called on each worker before its first job and after its last, on the
  // worker itself (for per-worker state such as a compiled expression).
  virtual void WorkerStarts(unsigned worker) { (void)worker; }
  virtual void WorkerEnds(unsigned worker) noexcept { (void)worker; }
  virtual void Prepare(unsigned worker, std::size_t index, FILE_JOB_RESULT& result) = 0;
  // Runs on the worker that prepared the job, as its next step.
  virtual void Commit(unsigned worker, std::size_t index, FILE_JOB_RESULT& result) = 0;
  virtual void Emit(std::size_t index, FILE_JOB_RESULT& result) = 0;
  // True once the run was interrupted; may be called on any thread.
  virtual bool Interrupted() const { return false; }
};

// Takes the names of a file list in list order while the pool works it.
class TFileFeed {
 public:
  // Adds the next entry. False once the run has ended (stop_on_failure met
  // a failure, or Emit threw): the lister should stop listing.
  virtual bool AddFile(LISTED_FILE&& file) = 0;
  bool Add(const narrow_buffer& name) {
    LISTED_FILE file;
    file.name = name;
    return AddFile(std::move(file));
  }
  // A note's job does nothing: Emit gets its lines in messages.
  bool AddNote(const narrow_buffer& lines) {
    LISTED_FILE note;
    note.note = lines;
    return AddFile(std::move(note));
  }
  // Every file still to come was found before anything was written: the
  // jobs that commit_after_listing holds may commit from now on, as
  // without it.
  virtual void ReleaseCommits() {}

 protected:
  ~TFileFeed() = default;
};

// Lists the files of a run into the feed; runs on the thread that called Run.
using FileLister = std::function<void(TFileFeed& feed)>;

struct FILE_POOL_OPTIONS {
  unsigned threads = 1;          // workers; 1 or less runs on the calling thread
  bool stop_on_failure = false;  // the first failure in list order ends the run
  unsigned files_in_flight_per_worker = 4;
  // Names the lister may be ahead of the workers before it is held back.
  std::size_t names_waiting = 1024;
  // The lister never gives a name twice: no job waits for an earlier one
  // on the same file, and names are not compared.
  bool names_unique = false;
  // No job commits before the lister has ended (or released the commits,
  // TFileFeed::ReleaseCommits): a listing that fails then ends the run
  // before any file was written. The lister is never held back then (the
  // names waiting are all it holds).
  bool commit_after_listing = false;
};

class COrderedFilePool {
 public:
  explicit COrderedFilePool(const FILE_POOL_OPTIONS& options);
  // names: the whole file list, known before the run.
  COrderedFilePool(const std::vector<narrow_buffer>& names, const FILE_POOL_OPTIONS& options);
  ~COrderedFilePool();
  COrderedFilePool(const COrderedFilePool&) = delete;
  COrderedFilePool& operator=(const COrderedFilePool&) = delete;

  // Works every job of the list given at construction, or of what list
  // adds (equal names are the same file). Returns false when
  // stop_on_failure ended the run at a failed job (which was emitted), true
  // otherwise. An exception from Emit or from the lister propagates, in
  // list order, after the workers have ended.
  bool Run(TFileWork& work);
  bool Run(TFileWork& work, const FileLister& list);

  // Called from the Prepare or Commit of job index: waits until every
  // earlier job has been emitted, so that the job may write its own output
  // to standard output while it works, in its place in the order. False,
  // at once or later, when the run stops first: the job then writes
  // nothing. A job worked on the calling thread always has its turn.
  bool AwaitTurn(std::size_t index);

  // Names listed by the last Run (also those it did not get to work).
  std::size_t GetListedCount() const { return listed_; }

 private:
  struct STATE;
  class CWorker;
  class CFeed;

  void __WorkerLoop(TFileWork& work, unsigned worker);

  const std::vector<narrow_buffer>* names_ = nullptr;
  FILE_POOL_OPTIONS options_;
  STATE* state_ = nullptr;
  std::atomic<bool> on_workers_{false};  // the jobs run on workers
  std::size_t listed_ = 0;
  // commit_after_listing, until the lister releases the commits; changed
  // under the state's mutex once there are workers.
  bool hold_commits_ = false;
};

}  // namespace Velk
