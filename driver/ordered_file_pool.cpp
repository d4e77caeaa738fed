#include "driver/ordered_file_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "support/core/exceptions.h"
#include "support/core/thread.h"

namespace Velk {

namespace {

constexpr std::size_t kNoJob = std::size_t(-1);

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
  result.skipped = false;
  result.error = nullptr;
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

// For each job, the nearest earlier job with the same name, or kNoJob.
std::vector<std::size_t> EarlierSameName(const std::vector<narrow_buffer>& names) {
  std::vector<std::size_t> earlier(names.size(), kNoJob);
  std::unordered_map<std::string_view, std::size_t> last;
  last.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view name(names[i].c_str(), names[i].length());
    auto [at, inserted] = last.try_emplace(name, i);
    if (!inserted) {
      earlier[i] = at->second;
      at->second = i;
    }
  }
  return earlier;
}

}  // namespace

// Everything the workers and the emitter share, guarded by one mutex. Jobs
// are handed out in list order; job i uses slot i % slots.size(), which the
// window rule frees in time: job i is taken only once job i - slots.size()
// has been emitted.
struct COrderedFilePool::STATE {
  std::mutex mutex;
  std::condition_variable workers_wake;  // window, same-name and commit-turn waits
  std::condition_variable emitter_wake;
  std::vector<std::size_t> earlier_same_name;
  std::vector<std::uint8_t> named_again;  // per job: a later job waits for it
  std::vector<FILE_JOB_RESULT> slots;
  std::vector<std::uint8_t> finished;  // per job: Prepare and Commit are over
  std::size_t next_to_take = 0;
  std::size_t emitted = 0;  // jobs 0 .. emitted-1 are emitted
  // With stop_on_failure: jobs before ended_well ended without failure, and
  // the first failed job found so far (kNoJob: none).
  std::size_t ended_well = 0;
  std::size_t first_failure = kNoJob;
  bool emitter_waiting = false;
  std::atomic<bool> stopping{false};  // no job is taken or committed any more
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

COrderedFilePool::COrderedFilePool(const std::vector<narrow_buffer>& names,
                                   const FILE_POOL_OPTIONS& options)
    : names_(names), options_(options) {}

COrderedFilePool::~COrderedFilePool() { delete state_; }

bool COrderedFilePool::Run(TFileWork& work) {
  if (options_.threads <= 1 || names_.size() <= 1) return __RunHere(work);
  return __RunOnWorkers(work);
}

bool COrderedFilePool::__RunHere(TFileWork& work) {
  FILE_JOB_RESULT result;
  work.WorkerStarts(0);
  struct ends {
    TFileWork& work;
    ~ends() { work.WorkerEnds(0); }
  } at_end{work};
  for (std::size_t i = 0; i < names_.size(); ++i) {
    result.content.clear();
    result.messages.clear();
    ResetResult(result);
    if (PrepareJob(work, result, [&] { work.Prepare(0, i, result); }))
      RunStep(result, [&] { work.Commit(0, i, result); });
    work.Emit(i, result);
    if (result.failed && options_.stop_on_failure) return false;
  }
  return true;
}

bool COrderedFilePool::__RunOnWorkers(TFileWork& work) {
  const std::size_t jobs = names_.size();
  const unsigned workers = unsigned(std::min<std::size_t>(options_.threads, jobs));
  const unsigned per_worker = options_.files_in_flight_per_worker ? options_.files_in_flight_per_worker : 1;

  delete state_;
  state_ = new STATE;
  STATE& s = *state_;
  s.earlier_same_name = EarlierSameName(names_);
  s.named_again.assign(jobs, 0);
  for (std::size_t before : s.earlier_same_name)
    if (before != kNoJob) s.named_again[before] = 1;
  s.slots.resize(std::min<std::size_t>(std::size_t(workers) * per_worker, jobs));
  s.finished.assign(jobs, 0);

  // Stops the workers and waits for their end however Run leaves.
  std::vector<std::unique_ptr<CWorker>> threads;
  struct stopper {
    STATE& s;
    std::vector<std::unique_ptr<CWorker>>& threads;
    ~stopper() {
      {
        std::lock_guard<std::mutex> hold(s.mutex);
        s.stopping = true;
      }
      s.workers_wake.notify_all();
      threads.clear();  // each worker's destructor waits for its end
    }
  } stop_all{s, threads};

  // A system that refuses more threads gets the work done by fewer, or by
  // the calling thread alone.
  for (unsigned w = 0; w < workers; ++w) {
    auto worker = std::make_unique<CWorker>(*this, work, w);
    try {
      worker->Create();
    } catch (const threadExp&) {
      break;
    }
    threads.push_back(std::move(worker));
    threads.back()->Resume();
  }
  if (threads.empty()) return __RunHere(work);

  std::size_t i = 0;
  while (i < jobs) {
    // Everything finished from i on is emitted in one go.
    std::size_t ready = i;
    {
      std::unique_lock<std::mutex> hold(s.mutex);
      if (!s.finished[i]) {
        s.emitter_waiting = true;
        s.emitter_wake.wait(hold, [&] { return s.finished[i] != 0; });
        s.emitter_waiting = false;
      }
      while (ready < jobs && ready < i + s.slots.size() && s.finished[ready]) ++ready;
    }
    for (; i < ready; ++i) {
      FILE_JOB_RESULT& result = s.slots[i % s.slots.size()];
      work.Emit(i, result);
      if (result.failed && options_.stop_on_failure) return false;
      // The emitted job's buffers keep their storage for the slot's next job.
      result.content.clear();
      result.messages.clear();
      result.error = nullptr;
    }
    {
      std::lock_guard<std::mutex> hold(s.mutex);
      s.emitted = i;
    }
    s.workers_wake.notify_all();
  }
  return true;
}

void COrderedFilePool::__WorkerLoop(TFileWork& work, unsigned worker) {
  STATE& s = *state_;
  const std::size_t jobs = names_.size();
  const std::size_t window = s.slots.size();
  const bool in_order = options_.stop_on_failure;
  std::exception_ptr start_error;
  try {
    work.WorkerStarts(worker);
  } catch (...) {
    start_error = std::current_exception();
  }
  // Called with the lock held: wakes the emitter when it waits for a job
  // that is done and there is a reason to emit now rather than later.
  auto wake_emitter = [&] {
    if (!s.emitter_waiting || !s.finished[s.emitted]) return;
    const bool window_full = s.next_to_take >= s.emitted + window;
    if (window_full || s.next_to_take >= jobs || s.first_failure != kNoJob)
      s.emitter_wake.notify_one();
  };
  // Over when the run stops, or (stop_on_failure) an earlier job failed.
  auto abandoned = [&](std::size_t i) { return s.stopping || s.first_failure < i; };

  std::unique_lock<std::mutex> hold(s.mutex);
  for (;;) {
    if (s.next_to_take < jobs && s.next_to_take >= s.emitted + window) {
      wake_emitter();
      s.workers_wake.wait(hold, [&] {
        return s.stopping || s.next_to_take >= jobs || s.next_to_take < s.emitted + window;
      });
    }
    if (s.next_to_take >= jobs || abandoned(s.next_to_take)) break;
    const std::size_t i = s.next_to_take++;
    // A second job on the same file reads what the first one wrote.
    const std::size_t before = s.earlier_same_name[i];
    if (before != kNoJob)
      s.workers_wake.wait(hold, [&] { return abandoned(i) || s.finished[before] != 0; });
    if (abandoned(i)) break;
    // With stop_on_failure a job is worked only in its turn, once every
    // earlier job ended without failure: a file to be rewritten is locked
    // from its read to its write, and a job that waited for its turn while
    // holding one could deadlock with another run waiting the other way.
    if (in_order) {
      s.workers_wake.wait(hold, [&] { return abandoned(i) || s.ended_well == i; });
      if (abandoned(i)) break;
    }
    FILE_JOB_RESULT& result = s.slots[i % window];
    hold.unlock();

    ResetResult(result);
    bool commit = PrepareJob(work, result, [&] {
      // A worker that could not start reports that in each of its jobs.
      if (start_error) std::rethrow_exception(start_error);
      work.Prepare(worker, i, result);
    });
    // An ended run writes nothing more.
    if (commit && !s.stopping.load()) {
      if (work.Interrupted())
        result.skipped = true;
      else
        RunStep(result, [&] { work.Commit(worker, i, result); });
    }

    hold.lock();
    s.finished[i] = 1;
    if (in_order) {
      if (result.failed) {
        if (i < s.first_failure) s.first_failure = i;
      } else {
        while (s.ended_well < jobs && s.finished[s.ended_well] &&
               s.ended_well < s.first_failure)
          ++s.ended_well;
      }
      s.workers_wake.notify_all();
    } else if (s.named_again[i]) {
      s.workers_wake.notify_all();
    }
    wake_emitter();
  }
  hold.unlock();
  work.WorkerEnds(worker);
}

}  // namespace Velk
