#include "driver/ordered_file_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "support/core/exceptions.h"
#include "support/core/thread.h"

namespace Velk {

namespace {

constexpr std::size_t kNoJob = std::size_t(-1);

std::string_view View(const narrow_buffer& name) {
  return std::string_view(name.c_str(), name.length());
}

// Runs one step of a job; an exception it lets escape becomes the job's
// failure.
template <class Step>
void RunStep(FILE_JOB_RESULT& result, Step step) {
  try {
    step();
  } catch (...) {
    result.error = std::current_exception();
    result.failed = true;
  }
}

void ResetResult(FILE_JOB_RESULT& result) {
  result.count = 0;
  result.failed = false;
  result.needs_commit = true;
  result.left_alone = false;
  result.skipped = false;
  result.error = nullptr;
  result.output_error = nullptr;
}

// Prepares a job unless the run was interrupted; true when it then has
// something to commit, which is skipped too once the run was interrupted.
template <class Prepare>
bool PrepareJob(const TFileWork& work, FILE_JOB_RESULT& result, Prepare prepare) {
  if (work.Interrupted()) {
    result.skipped = true;
    return false;
  }
  RunStep(result, prepare);
  if (result.failed || !result.needs_commit) return false;
  if (work.Interrupted()) {
    result.skipped = true;
    return false;
  }
  return true;
}

// A note is no work: its lines are its job's messages.
bool IsNote(FILE_JOB_RESULT& result) {
  if (!result.file.name.empty()) return false;
  result.messages = result.file.note;
  result.needs_commit = false;
  return true;
}

}  // namespace

// Everything the workers and the emitter share, guarded by one mutex. Jobs
// are handed out in list order; job i uses slot i % slots.size(), which the
// window rule frees in time: job i is taken only once job i - slots.size()
// has been emitted. Nothing here grows with the list: the names not yet
// taken wait in a queue the lister is held back on, the rest is per slot.
struct COrderedFilePool::STATE {
  struct SLOT {
    FILE_JOB_RESULT result;
    std::size_t job = kNoJob;  // the job using the slot
    bool done = false;         // the job's Prepare and Commit are over
    bool named_again = false;  // a later job on the same file waits for it
  };

  std::mutex mutex;
  std::condition_variable workers_wake;  // names, window, same-name and commit-turn waits
  // Jobs that wait for the list's end to commit wait apart: each name added
  // would otherwise wake them for nothing, once a name.
  std::condition_variable listing_wake;
  unsigned listing_waiters = 0;
  std::condition_variable emitter_wake;
  std::deque<LISTED_FILE> waiting;  // added, not yet taken
  std::size_t added = 0;
  bool list_ended = false;
  std::vector<SLOT> slots;
  // The latest taken, unfinished job of each name; the keys view the names
  // held by the jobs' slots.
  std::unordered_map<std::string_view, std::size_t> unfinished_by_name;
  std::size_t next_to_take = 0;
  std::size_t emitted = 0;  // jobs 0 .. emitted-1 are emitted
  // With stop_on_failure: jobs before ended_well ended without failure, and
  // the first failed job found so far (kNoJob: none).
  std::size_t ended_well = 0;
  std::size_t first_failure = kNoJob;
  bool emitter_waiting = false;
  unsigned turn_waiters = 0;  // jobs waiting for every earlier one to be emitted
  bool lister_held = false;  // the emitter waits for the queue to shrink
  std::size_t queue_low = 0;  // ... to this many names
  unsigned sleeping_workers = 0;
  std::atomic<bool> stopping{false};  // no job is taken or committed any more

  std::size_t Window() const { return slots.size(); }
  SLOT& SlotOf(std::size_t job) { return slots[job % slots.size()]; }
  bool Finished(std::size_t job) {
    if (job < emitted) return true;
    const SLOT& slot = slots[job % slots.size()];
    return slot.job == job && slot.done;
  }
  // Called with the lock held: wakes the emitter when it waits and there is
  // a reason to act now rather than later. Finished jobs are emitted in
  // batches: when the window is full, at a failure and at the end.
  void WakeEmitter() {
    if (!emitter_waiting) return;
    if (lister_held && waiting.size() <= queue_low) {
      emitter_wake.notify_one();
      return;
    }
    if (!Finished(emitted)) return;
    const bool window_full = next_to_take >= emitted + Window();
    const bool all_taken = list_ended && next_to_take >= added;
    if (window_full || all_taken || first_failure != kNoJob || turn_waiters)
      emitter_wake.notify_one();
  }
  // A name added wakes the workers only when one may take it now: with the
  // window full, or for any other wait, it changes nothing.
  void WakeForName() {
    if (added - 1 < emitted + Window()) WakeWorkers();
  }
  void WakeWorkers() {
    if (sleeping_workers) workers_wake.notify_all();
    if (listing_waiters && (list_ended || stopping)) listing_wake.notify_all();
  }
  template <class Ready>
  void WorkerWait(std::unique_lock<std::mutex>& hold, Ready ready) {
    ++sleeping_workers;
    workers_wake.wait(hold, ready);
    --sleeping_workers;
  }
};

class COrderedFilePool::CWorker : public TThread {
 public:
  CWorker(COrderedFilePool& pool, TFileWork& work, unsigned number)
      : pool_(pool), work_(work), number_(number) {}
  ~CWorker() override { Wait(); }

  std::uint32_t Run() override {
    pool_.__WorkerLoop(work_, number_);
    return 0;
  }

 private:
  COrderedFilePool& pool_;
  TFileWork& work_;
  unsigned number_;
};

// The calling thread's side of a run: takes the lister's names, works them
// itself (one thread) or queues them for the workers, and emits the
// finished jobs in list order between names and after the list's end.
class COrderedFilePool::CFeed final : public TFileFeed {
 public:
  CFeed(COrderedFilePool& pool, TFileWork& work) : pool_(pool), work_(work) {
    mode_ = pool.options_.threads <= 1 ? mode::here : mode::undecided;
  }
  ~CFeed() { __StopWorkers(); }

  bool AddFile(LISTED_FILE&& file) override { return __Add(std::move(file)); }

  void ReleaseCommits() override {
    if (!pool_.hold_commits_) return;
    // What was held here is worked now, in its turn.
    if (mode_ != mode::workers) {
      pool_.hold_commits_ = false;
      __WorkHeldHere();
      return;
    }
    STATE& s = *pool_.state_;
    std::lock_guard<std::mutex> hold(s.mutex);
    pool_.hold_commits_ = false;
    if (s.listing_waiters) s.listing_wake.notify_all();
  }

  // The lister failed and nothing may be written: no more job is worked.
  void Abandon() {
    have_first_ = false;
    held_here_.clear();
    ended_ = true;
    abandoned_ = true;
    if (mode_ != mode::workers) return;
    STATE& s = *pool_.state_;
    std::lock_guard<std::mutex> hold(s.mutex);
    s.stopping = true;
    s.WakeWorkers();
  }

  // The list is complete: works or emits what is left.
  void EndList() {
    __WorkHeldHere();
    if (have_first_) {
      have_first_ = false;
      __WorkHere(first_);
      first_ = LISTED_FILE();
    }
    if (mode_ != mode::workers || ended_) return;
    STATE& s = *pool_.state_;
    {
      std::lock_guard<std::mutex> hold(s.mutex);
      s.list_ended = true;
      s.WakeWorkers();
    }
    while (!ended_ && emitted_ < s.added) __EmitFinished(true);
  }

  bool Completed() const { return completed_; }
  // The run ended early (a failure under stop_on_failure or an exception).
  bool Ended() const { return ended_; }
  bool Abandoned() const { return abandoned_; }
  const std::exception_ptr& Escaped() const { return escaped_; }

 private:
  enum class mode { undecided, here, workers };

  bool __Add(LISTED_FILE&& entry) {
    if (ended_) return false;
    ++pool_.listed_;
    switch (mode_) {
      case mode::undecided:
        // A list of one file is worked here; a second entry starts the workers.
        if (!have_first_) {
          first_ = std::move(entry);
          have_first_ = true;
          return true;
        }
        __StartWorkers();
        if (mode_ == mode::here && pool_.hold_commits_) {
          have_first_ = false;
          held_here_.push_back(std::move(first_));
          held_here_.push_back(std::move(entry));
          first_ = LISTED_FILE();
          return true;
        }
        if (mode_ == mode::here) {
          have_first_ = false;
          const bool going = __WorkHere(first_);
          first_ = LISTED_FILE();
          return going && __WorkHere(entry);
        }
        have_first_ = false;
        __Queue(std::move(first_));
        first_ = LISTED_FILE();
        return __QueueAndEmit(std::move(entry));
      case mode::here:
        // Nothing is written before the list is complete.
        if (pool_.hold_commits_) {
          held_here_.push_back(std::move(entry));
          return true;
        }
        return __WorkHere(entry);
      case mode::workers:
        return __QueueAndEmit(std::move(entry));
    }
    return false;
  }

  // Works what the hold kept back here, in list order.
  void __WorkHeldHere() {
    for (LISTED_FILE& entry : held_here_)
      if (!__WorkHere(entry)) break;
    held_here_.clear();
  }

  bool __WorkHere(LISTED_FILE& entry) {
    FILE_JOB_RESULT& result = here_;
    result.file = std::move(entry);
    result.content.clear();
    result.messages.clear();
    ResetResult(result);
    try {
      if (!IsNote(result)) {
        if (!here_started_) {
          here_started_ = true;
          work_.WorkerStarts(0);
        }
        if (PrepareJob(work_, result, [&] { work_.Prepare(0, index_, result); }))
          RunStep(result, [&] { work_.Commit(0, index_, result); });
      }
      work_.Emit(index_, result);
    } catch (...) {
      escaped_ = std::current_exception();
      ended_ = true;
      return false;
    }
    ++index_;
    if (result.failed && pool_.options_.stop_on_failure) {
      completed_ = false;
      ended_ = true;
      return false;
    }
    return true;
  }

  void __StartWorkers() {
    const FILE_POOL_OPTIONS& options = pool_.options_;
    const unsigned per_worker =
        options.files_in_flight_per_worker ? options.files_in_flight_per_worker : 1;
    delete pool_.state_;
    pool_.state_ = new STATE;
    STATE& s = *pool_.state_;
    s.slots.resize(std::size_t(options.threads) * per_worker);
    s.queue_low = options.names_waiting / 2;
    // A system that refuses more threads gets the work done by fewer, or by
    // the calling thread alone.
    for (unsigned w = 0; w < options.threads; ++w) {
      auto worker = std::make_unique<CWorker>(pool_, work_, w);
      try {
        worker->Create();
      } catch (const threadExp&) {
        break;
      }
      threads_.push_back(std::move(worker));
      threads_.back()->Resume();
    }
    mode_ = threads_.empty() ? mode::here : mode::workers;
    pool_.on_workers_ = mode_ == mode::workers;
  }

  // Ends the workers and waits for them, however the run ends.
  void __StopWorkers() {
    if (threads_.empty()) {
      if (here_started_) work_.WorkerEnds(0);
      here_started_ = false;
      return;
    }
    STATE& s = *pool_.state_;
    {
      std::lock_guard<std::mutex> hold(s.mutex);
      s.stopping = true;
    }
    s.workers_wake.notify_all();
    s.listing_wake.notify_all();
    threads_.clear();  // each worker's destructor waits for its end
    pool_.on_workers_ = false;
    if (here_started_) work_.WorkerEnds(0);
    here_started_ = false;
  }

  void __Queue(LISTED_FILE&& entry) {
    STATE& s = *pool_.state_;
    std::lock_guard<std::mutex> hold(s.mutex);
    s.waiting.push_back(std::move(entry));
    ++s.added;
    s.WakeForName();
  }

  bool __QueueAndEmit(LISTED_FILE&& entry) {
    STATE& s = *pool_.state_;
    bool held;
    std::size_t ready;
    {
      std::lock_guard<std::mutex> hold(s.mutex);
      s.waiting.push_back(std::move(entry));
      ++s.added;
      s.WakeForName();
      held = !pool_.hold_commits_ &&
             s.waiting.size() >= pool_.options_.names_waiting;
      ready = __Ready(s);
    }
    // The lister goes on while the workers keep up, emitting what they
    // finished; far ahead of them it waits, emitting meanwhile.
    if (ready > emitted_ && !__EmitUpTo(ready)) return false;
    while (held) {
      if (!__EmitFinished(true)) return false;
      std::lock_guard<std::mutex> hold(s.mutex);
      held = s.waiting.size() > s.queue_low;
    }
    return true;
  }

  // Called with the lock held: the end of the finished jobs from the next
  // one to emit on.
  std::size_t __Ready(STATE& s) const {
    std::size_t ready = emitted_;
    while (ready < s.next_to_take && s.Finished(ready)) ++ready;
    return ready;
  }

  // Waits until the emitter has a reason to act (or, while the lister is
  // held, until the queue is short), then emits the finished jobs. False
  // when the run ended.
  bool __EmitFinished(bool wait) {
    STATE& s = *pool_.state_;
    const std::size_t i = emitted_;
    std::size_t ready;
    {
      std::unique_lock<std::mutex> hold(s.mutex);
      if (wait) {
        const bool holding = !s.list_ended;
        s.lister_held = holding;
        s.emitter_waiting = true;
        s.emitter_wake.wait(hold, [&] {
          return s.Finished(i) || (holding && s.waiting.size() <= s.queue_low);
        });
        s.emitter_waiting = false;
        s.lister_held = false;
      }
      ready = __Ready(s);
    }
    return __EmitUpTo(ready);
  }

  // Emits the finished jobs before ready, in order. False when the run
  // ended.
  bool __EmitUpTo(std::size_t ready) {
    STATE& s = *pool_.state_;
    std::size_t i = emitted_;
    bool go_on = true;
    for (; i < ready && go_on; ++i) {
      FILE_JOB_RESULT& result = s.SlotOf(i).result;
      try {
        work_.Emit(i, result);
      } catch (...) {
        escaped_ = std::current_exception();
        ended_ = true;
        go_on = false;
        break;
      }
      if (result.failed && pool_.options_.stop_on_failure) {
        completed_ = false;
        ended_ = true;
        go_on = false;
      }
      // The emitted job's buffers keep their storage for the slot's next job.
      result.content.clear();
      result.messages.clear();
      result.file = LISTED_FILE();
      result.error = nullptr;
    }
    if (i == emitted_ && !ended_) return true;
    emitted_ = i;
    {
      std::lock_guard<std::mutex> hold(s.mutex);
      s.emitted = i;
      if (ended_) s.stopping = true;
      s.WakeWorkers();
    }
    return go_on;
  }

  COrderedFilePool& pool_;
  TFileWork& work_;
  mode mode_;
  std::vector<std::unique_ptr<CWorker>> threads_;
  LISTED_FILE first_;
  bool have_first_ = false;
  std::deque<LISTED_FILE> held_here_;  // listed, worked here at the list's end
  FILE_JOB_RESULT here_;  // the calling thread's job
  bool here_started_ = false;
  std::size_t index_ = 0;    // next job worked here
  std::size_t emitted_ = 0;  // next job to emit from the workers
  bool completed_ = true;
  bool ended_ = false;
  bool abandoned_ = false;
  std::exception_ptr escaped_;
};

COrderedFilePool::COrderedFilePool(const FILE_POOL_OPTIONS& options) : options_(options) {}

COrderedFilePool::COrderedFilePool(const std::vector<narrow_buffer>& names,
                                   const FILE_POOL_OPTIONS& options)
    : names_(&names), options_(options) {}

COrderedFilePool::~COrderedFilePool() { delete state_; }

bool COrderedFilePool::Run(TFileWork& work) {
  static const std::vector<narrow_buffer> none;
  const std::vector<narrow_buffer>& names = names_ ? *names_ : none;
  return Run(work, [&](TFileFeed& feed) {
    for (const narrow_buffer& name : names)
      if (!feed.Add(name)) return;
  });
}

bool COrderedFilePool::Run(TFileWork& work, const FileLister& list) {
  listed_ = 0;
  hold_commits_ = options_.commit_after_listing;
  std::exception_ptr list_error;
  bool completed;
  {
    CFeed feed(*this, work);
    try {
      list(feed);
    } catch (...) {
      list_error = std::current_exception();
      if (hold_commits_) feed.Abandon();
    }
    feed.EndList();
    if (feed.Escaped()) std::rethrow_exception(feed.Escaped());
    completed = feed.Completed();
    // A lister stopped by the run's end may end with anything: the run's
    // own outcome stands.
    if (feed.Ended() && !feed.Abandoned()) list_error = nullptr;
  }
  if (list_error) std::rethrow_exception(list_error);
  return completed;
}

bool COrderedFilePool::AwaitTurn(std::size_t index) {
  if (!on_workers_) return true;
  STATE& s = *state_;
  std::unique_lock<std::mutex> hold(s.mutex);
  if (s.emitted < index && !s.stopping) {
    ++s.turn_waiters;
    s.WakeEmitter();
    s.WorkerWait(hold, [&] { return s.stopping || s.emitted >= index; });
    --s.turn_waiters;
  }
  return !s.stopping;
}

void COrderedFilePool::__WorkerLoop(TFileWork& work, unsigned worker) {
  STATE& s = *state_;
  const std::size_t window = s.Window();
  const bool in_order = options_.stop_on_failure;
  std::exception_ptr start_error;
  try {
    work.WorkerStarts(worker);
  } catch (...) {
    start_error = std::current_exception();
  }
  // Over when the run stops, or (stop_on_failure) an earlier job failed.
  auto abandoned = [&](std::size_t i) { return s.stopping || s.first_failure < i; };

  std::unique_lock<std::mutex> hold(s.mutex);
  for (;;) {
    // A job to take: listed, and inside the window.
    auto can_take = [&] { return s.next_to_take < s.added && s.next_to_take < s.emitted + window; };
    auto nothing_left = [&] { return s.list_ended && s.next_to_take >= s.added; };
    if (!can_take() && !nothing_left() && !s.stopping) {
      if (s.next_to_take < s.added) s.WakeEmitter();  // the window is full
      s.WorkerWait(hold, [&] { return s.stopping || can_take() || nothing_left(); });
    }
    if (nothing_left() || abandoned(s.next_to_take)) break;
    const std::size_t i = s.next_to_take++;
    STATE::SLOT& slot = s.SlotOf(i);
    FILE_JOB_RESULT& result = slot.result;
    result.file = std::move(s.waiting.front());
    s.waiting.pop_front();
    slot.job = i;
    slot.done = false;
    slot.named_again = false;
    if (s.lister_held) s.WakeEmitter();
    // A second job on the same file reads what the first one wrote.
    const std::string_view name = View(result.file.name);
    if (!name.empty() && !options_.names_unique) {
      auto [at, inserted] = s.unfinished_by_name.try_emplace(name, i);
      if (!inserted) {
        const std::size_t before = at->second;
        s.unfinished_by_name.erase(at);
        s.unfinished_by_name.emplace(name, i);
        s.SlotOf(before).named_again = true;
        s.WorkerWait(hold, [&] { return abandoned(i) || s.Finished(before); });
      }
    }
    if (abandoned(i)) break;
    // With stop_on_failure a job is worked only in its turn, once every
    // earlier job ended without failure: a file to be rewritten is locked
    // from its read to its write, and a job that waited for its turn while
    // holding one could deadlock with another run waiting the other way.
    if (in_order) {
      s.WorkerWait(hold, [&] { return abandoned(i) || s.ended_well == i; });
      if (abandoned(i)) break;
    }
    hold.unlock();

    ResetResult(result);
    const bool commit = !IsNote(result) && PrepareJob(work, result, [&] {
      // A worker that could not start reports that in each of its jobs.
      if (start_error) std::rethrow_exception(start_error);
      work.Prepare(worker, i, result);
    });
    // Only a run that may hold its commits takes the lock for it.
    if (commit && options_.commit_after_listing) {
      hold.lock();
      if (hold_commits_) {
        ++s.listing_waiters;
        s.listing_wake.wait(hold, [&] { return s.stopping || s.list_ended || !hold_commits_; });
        --s.listing_waiters;
      }
      hold.unlock();
    }
    // An ended run writes nothing more.
    if (commit && !s.stopping.load()) {
      if (work.Interrupted())
        result.skipped = true;
      else
        RunStep(result, [&] { work.Commit(worker, i, result); });
    }

    hold.lock();
    slot.done = true;
    if (!options_.names_unique) {
      const auto named = s.unfinished_by_name.find(View(result.file.name));
      if (named != s.unfinished_by_name.end() && named->second == i)
        s.unfinished_by_name.erase(named);
    }
    if (in_order) {
      if (result.failed) {
        if (i < s.first_failure) s.first_failure = i;
      } else {
        while (s.ended_well < s.next_to_take && s.Finished(s.ended_well) &&
               s.ended_well < s.first_failure)
          ++s.ended_well;
      }
      s.WakeWorkers();
    } else if (slot.named_again) {
      s.WakeWorkers();
    }
    s.WakeEmitter();
  }
  hold.unlock();
  work.WorkerEnds(worker);
}

}  // namespace Velk
