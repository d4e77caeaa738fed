#include "driver/ordered_file_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Velk {
namespace {

enum class Outcome { ok, no_match, read_fails, write_fails, prepare_throws, commit_throws };

// A stand-in for the file work: "files" are counters in memory, a job reads
// its counter into the content, "writes" it back incremented, and Emit
// appends a line to a transcript. Jobs sleep a little at random so that
// workers finish out of order.
class FakeWork : public TFileWork {
 public:
  FakeWork(const std::vector<std::string>& names, const std::vector<Outcome>& outcomes)
      : outcomes_(outcomes) {
    for (const std::string& name : names) store_[name] = 0;
    for (const std::string& name : names) cells_.push_back(&store_[name]);
  }

  void Prepare(unsigned, std::size_t i, FILE_JOB_RESULT& r) override {
    const int in_flight = ++in_flight_;
    for (int seen = max_in_flight_; in_flight > seen && !max_in_flight_.compare_exchange_weak(seen, in_flight);) {
    }
    Jitter(i);
    EXPECT_TRUE(r.content.empty()) << "a slot came back with old content";
    switch (outcomes_[i]) {
      case Outcome::read_fails:
        r.messages.append("[ERROR] failed reading ");
        r.messages.append_number(std::uint32_t(i));
        r.messages.push_back('\n');
        r.failed = true;
        return;
      case Outcome::prepare_throws:
        throw std::runtime_error("prepare " + std::to_string(i));
      default:
        break;
    }
    r.content.append("v");
    r.content.append_number(std::uint32_t(*cells_[i]));
    r.count = outcomes_[i] == Outcome::no_match ? 0 : 1;
    r.needs_commit = r.count != 0 || outcomes_[i] != Outcome::no_match;
  }

  void Commit(unsigned, std::size_t i, FILE_JOB_RESULT& r) override {
    Jitter(i + 7);
    switch (outcomes_[i]) {
      case Outcome::write_fails:
        r.messages.append("[ERROR] can't write ");
        r.messages.append_number(std::uint32_t(i));
        r.messages.append("\n  detail\n");
        r.failed = true;
        return;
      case Outcome::commit_throws:
        throw std::runtime_error("commit " + std::to_string(i));
      default:
        break;
    }
    if (r.count == 0) return;
    ++*cells_[i];
    std::lock_guard<std::mutex> hold(mutex_);
    commits_.push_back(i);
  }

  void Emit(std::size_t i, FILE_JOB_RESULT& r) override {
    --in_flight_;
    std::string thrown;
    if (r.error) {
      EXPECT_TRUE(r.failed);
      try {
        std::rethrow_exception(r.error);
      } catch (const std::runtime_error& e) {
        thrown = std::string("!") + e.what();
      }
    }
    transcript_ += std::to_string(i) + ":" + r.messages.c_str() + thrown + r.content.c_str() +
                   "#" + std::to_string(r.count) + "\n";
  }

  std::string transcript_;
  std::vector<std::size_t> commits_;
  std::map<std::string, int> store_;
  std::atomic<int> max_in_flight_{0};

 private:
  static void Jitter(std::size_t seed) {
    thread_local unsigned state = 12345;
    state = state * 1103515245u + 12345u + unsigned(seed);
    if ((state >> 16) % 3 == 0)
      std::this_thread::sleep_for(std::chrono::microseconds((state >> 8) % 200));
  }

  std::vector<Outcome> outcomes_;
  std::vector<int*> cells_;
  std::atomic<int> in_flight_{0};
  std::mutex mutex_;
};

struct PoolRun {
  std::string transcript;
  std::map<std::string, int> store;
  std::vector<std::size_t> commits;
  bool completed = false;
  std::string thrown;
  int max_in_flight = 0;
};

// How the list reaches the pool: whole before the run, or from a lister
// that finds the names one by one (pausing now and then, as a walk does
// between folders) and may fail after some of them.
struct Listing {
  bool fed = false;
  std::size_t fails_after = std::size_t(-1);  // names listed before the lister throws
  std::size_t names_waiting = 1024;
  bool names_unique = false;
  bool commit_after_listing = false;
  std::size_t release_at = std::size_t(-1);  // names listed before the commits are released
};

PoolRun RunPool(const std::vector<std::string>& names, const std::vector<Outcome>& outcomes,
                unsigned threads, bool stop_on_failure, const Listing& listing = {}) {
  std::vector<narrow_buffer> list;
  for (const std::string& name : names) list.emplace_back(name.c_str());
  FakeWork work(names, outcomes);
  FILE_POOL_OPTIONS options;
  options.threads = threads;
  options.stop_on_failure = stop_on_failure;
  options.files_in_flight_per_worker = 2;
  options.names_waiting = listing.names_waiting;
  options.names_unique = listing.names_unique;
  options.commit_after_listing = listing.commit_after_listing;
  PoolRun run;
  try {
    if (!listing.fed) {
      COrderedFilePool pool(list, options);
      run.completed = pool.Run(work);
    } else {
      COrderedFilePool pool(options);
      run.completed = pool.Run(work, [&](TFileFeed& feed) {
        for (std::size_t i = 0; i < list.size(); ++i) {
          if (i == listing.release_at) feed.ReleaseCommits();
          if (i == listing.fails_after) throw std::runtime_error("listing " + std::to_string(i));
          if (i % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(50));
          if (!feed.Add(list[i])) return;
        }
        if (listing.fails_after == list.size())
          throw std::runtime_error("listing " + std::to_string(list.size()));
      });
    }
  } catch (const std::runtime_error& e) {
    run.thrown = e.what();
  }
  run.transcript = work.transcript_;
  run.store = work.store_;
  run.commits = work.commits_;
  run.max_in_flight = work.max_in_flight_;
  return run;
}

struct Case {
  const char* what;
  std::vector<std::string> names;
  std::vector<Outcome> outcomes;
};

std::vector<Case> Cases() {
  using O = Outcome;
  std::vector<Case> cases;
  std::vector<std::string> many;
  std::vector<O> ok(40, O::ok);
  for (int i = 0; i < 40; ++i) many.push_back("f" + std::to_string(i));
  cases.push_back({"all succeed", many, ok});
  std::vector<O> mixed = ok;
  for (int i = 0; i < 40; i += 3) mixed[i] = O::no_match;
  cases.push_back({"some without a match", many, mixed});
  for (int at : {0, 1, 17, 39}) {
    std::vector<O> read = ok, write = ok;
    read[at] = O::read_fails;
    write[at] = O::write_fails;
    cases.push_back({"read failure", many, read});
    cases.push_back({"write failure", many, write});
  }
  for (int at : {0, 17, 39}) {
    std::vector<O> prepare = ok, commit = ok;
    prepare[at] = O::prepare_throws;
    commit[at] = O::commit_throws;
    cases.push_back({"exception in prepare", many, prepare});
    cases.push_back({"exception in commit", many, commit});
  }
  std::vector<O> two = ok;
  two[5] = O::write_fails;
  two[9] = O::read_fails;
  cases.push_back({"two failures", many, two});
  std::vector<std::string> dup = many;
  dup[10] = "f3";
  dup[11] = "f3";
  dup[30] = "f29";
  dup[39] = "f0";
  cases.push_back({"duplicates", dup, ok});
  std::vector<O> dup_fail = ok;
  dup_fail[3] = O::write_fails;
  cases.push_back({"duplicate after a failed write", dup, dup_fail});
  cases.push_back({"one file", {"only"}, {O::ok}});
  cases.push_back({"one file failing", {"only"}, {O::read_fails}});
  std::vector<O> same_all(12, O::ok);
  cases.push_back({"one file twelve times", std::vector<std::string>(12, "x"), same_all});
  return cases;
}

// A run on several threads gives what the one-thread run gave, and keeps
// at most two jobs per thread in flight.
void ExpectSameRun(const PoolRun& run, const PoolRun& reference, bool stop, unsigned threads) {
  EXPECT_EQ(run.transcript, reference.transcript);
  EXPECT_EQ(run.store, reference.store);
  EXPECT_EQ(run.completed, reference.completed);
  EXPECT_EQ(run.thrown, reference.thrown);
  if (stop) {
    EXPECT_EQ(run.commits, reference.commits);
  }
  EXPECT_LE(run.max_in_flight, int(threads * 2));
}

// Every case under every worker count gives what the one-thread run gives:
// the same transcript, the same final files, and (with stop_on_failure)
// commits only in list order and none after the first failure.
TEST(OrderedFilePool, SameAsOneThreadRun) {
  for (const Case& c : Cases()) {
    for (bool stop : {false, true}) {
      const PoolRun reference = RunPool(c.names, c.outcomes, 1, stop);
      for (unsigned threads : {2u, 3u, 8u}) {
        for (int round = 0; round < 5; ++round) {
          const PoolRun run = RunPool(c.names, c.outcomes, threads, stop);
          SCOPED_TRACE(std::string(c.what) + (stop ? " stop" : "") + " threads " +
                       std::to_string(threads));
          ExpectSameRun(run, reference, stop, threads);
        }
      }
    }
  }
}

// The same, with the list fed to the pool while it works, and with a
// lister that fails part way: the failure is rethrown after every job
// before it was emitted (and not at all when stop_on_failure ended the run
// earlier), exactly as in a one-thread run of the same listing.
TEST(OrderedFilePool, FedListSameAsOneThreadRun) {
  for (const Case& c : Cases()) {
    for (bool stop : {false, true}) {
      for (std::size_t fails_after : {std::size_t(-1), std::size_t(0), std::size_t(1),
                                      c.names.size() / 2, c.names.size()}) {
        Listing listing;
        listing.fed = true;
        listing.fails_after = fails_after;
        const PoolRun reference = RunPool(c.names, c.outcomes, 1, stop, listing);
        for (unsigned threads : {2u, 3u}) {
          for (std::size_t waiting : {std::size_t(1), std::size_t(1024)}) {
            for (int round = 0; round < 3; ++round) {
              listing.names_waiting = waiting;
              // Names never repeated may skip the same-name check.
              listing.names_unique =
                  round == 2 && std::set<std::string>(c.names.begin(), c.names.end()).size() ==
                                    c.names.size();
              const PoolRun run = RunPool(c.names, c.outcomes, threads, stop, listing);
              SCOPED_TRACE(std::string(c.what) + (stop ? " stop" : "") + " threads " +
                           std::to_string(threads) + " fails after " +
                           std::to_string(fails_after) + " waiting " + std::to_string(waiting));
              ExpectSameRun(run, reference, stop, threads);
            }
          }
        }
      }
    }
  }
}

// The whole list is the one-thread run of the same list, fed or not; and a
// failing lister reports after the files it listed.
TEST(OrderedFilePool, FedListReportsTheListingFailureAfterItsFiles) {
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) names.push_back("f" + std::to_string(i));
  const std::vector<Outcome> ok(10, Outcome::ok);
  Listing whole;
  whole.fed = true;
  EXPECT_EQ(RunPool(names, ok, 2, false, whole).transcript, RunPool(names, ok, 1, false).transcript);
  Listing failing = whole;
  failing.fails_after = 4;
  for (unsigned threads : {1u, 2u}) {
    const PoolRun run = RunPool(names, ok, threads, false, failing);
    EXPECT_EQ(run.thrown, "listing 4");
    EXPECT_EQ(run.transcript, "0:v0#1\n1:v0#1\n2:v0#1\n3:v0#1\n");
    EXPECT_EQ(run.store.at("f4"), 0);
  }
  // No name at all: nothing is worked, and the listing's failure stands.
  failing.fails_after = 0;
  EXPECT_EQ(RunPool(names, ok, 2, true, failing).thrown, "listing 0");
}

// Committing only after the listing: a lister that fails ends the run with
// its failure and nothing written; one that ends well gives the one-thread
// run's result.
TEST(OrderedFilePool, CommitAfterListingWritesNothingWhenTheListingFails) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("f" + std::to_string(i));
  const std::vector<Outcome> ok(30, Outcome::ok);
  Listing listing;
  listing.fed = true;
  listing.commit_after_listing = true;
  listing.names_waiting = 1;
  for (unsigned threads : {1u, 2u, 3u}) {
    for (bool stop : {false, true}) {
      listing.fails_after = std::size_t(-1);
      EXPECT_EQ(RunPool(names, ok, threads, stop, listing).transcript,
                RunPool(names, ok, 1, stop).transcript);
      listing.fails_after = 20;
      const PoolRun run = RunPool(names, ok, threads, stop, listing);
      EXPECT_EQ(run.thrown, "listing 20");
      EXPECT_TRUE(run.commits.empty()) << threads;
      EXPECT_EQ(run.transcript, "");
    }
  }
}

// Commits released by the lister partway: the run is the one-thread run,
// and a listing that fails afterwards leaves what was listed worked, as
// without the hold.
TEST(OrderedFilePool, CommitsReleasedWhileListingGiveTheOneThreadRun) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("f" + std::to_string(i));
  const std::vector<Outcome> ok(30, Outcome::ok);
  for (std::size_t release_at : {std::size_t(0), std::size_t(1), std::size_t(12)}) {
    for (unsigned threads : {1u, 2u, 3u}) {
      for (bool stop : {false, true}) {
        SCOPED_TRACE(std::to_string(release_at) + " " + std::to_string(threads));
        Listing held;
        held.fed = true;
        held.commit_after_listing = true;
        held.release_at = release_at;
        EXPECT_EQ(RunPool(names, ok, threads, stop, held).transcript,
                  RunPool(names, ok, 1, stop).transcript);
        Listing plain;
        plain.fed = true;
        plain.fails_after = held.fails_after = 20;
        const PoolRun run = RunPool(names, ok, threads, stop, held);
        EXPECT_EQ(run.thrown, "listing 20");
        EXPECT_EQ(run.transcript, RunPool(names, ok, 1, stop, plain).transcript);
      }
    }
  }
}

// Released, the commits go on before the list ends.
TEST(OrderedFilePool, ReleasedCommitsDoNotWaitForTheListsEnd) {
  struct CountingWork : TFileWork {
    std::atomic<int> commits{0};
    void Prepare(unsigned, std::size_t, FILE_JOB_RESULT&) override {}
    void Commit(unsigned, std::size_t, FILE_JOB_RESULT&) override { ++commits; }
    void Emit(std::size_t, FILE_JOB_RESULT&) override {}
  } work;
  FILE_POOL_OPTIONS options;
  options.threads = 2;
  options.commit_after_listing = true;
  COrderedFilePool pool(options);
  const narrow_buffer names[] = {narrow_buffer("a"), narrow_buffer("b"), narrow_buffer("c")};
  bool committed_while_listing = false;
  EXPECT_TRUE(pool.Run(work, [&](TFileFeed& feed) {
    for (const narrow_buffer& name : names) ASSERT_TRUE(feed.Add(name));
    feed.ReleaseCommits();
    // A deadlock check, not a timing: the commits come long before this.
    for (int i = 0; i < 10000 && work.commits < 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    committed_while_listing = work.commits == 3;
  }));
  EXPECT_TRUE(committed_while_listing);
}

// A lister far ahead of the workers is held back: it never has more than
// names_waiting names queued beyond those the workers took.
TEST(OrderedFilePool, ListerIsHeldBackFarAheadOfTheWorkers) {
  struct SlowWork : TFileWork {
    std::atomic<std::size_t> started{0};
    void Prepare(unsigned, std::size_t, FILE_JOB_RESULT& r) override {
      ++started;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      r.needs_commit = false;
    }
    void Commit(unsigned, std::size_t, FILE_JOB_RESULT&) override {}
    void Emit(std::size_t, FILE_JOB_RESULT&) override {}
  } work;
  FILE_POOL_OPTIONS options;
  options.threads = 2;
  options.files_in_flight_per_worker = 2;
  options.names_waiting = 16;
  COrderedFilePool pool(options);
  std::size_t most_ahead = 0;
  const narrow_buffer names[] = {narrow_buffer("a"), narrow_buffer("b"), narrow_buffer("c")};
  EXPECT_TRUE(pool.Run(work, [&](TFileFeed& feed) {
    for (std::size_t i = 0; i < 400; ++i) {
      ASSERT_TRUE(feed.Add(names[i % 3]));
      most_ahead = std::max(most_ahead, i + 1 - std::min(i + 1, work.started.load()));
    }
  }));
  EXPECT_EQ(work.started.load(), 400u);
  EXPECT_EQ(pool.GetListedCount(), 400u);
  // Queued, plus taken by a worker and not yet started.
  EXPECT_LE(most_ahead, 16u + 2u);
}

TEST(OrderedFilePool, StopOnFailureEndsAtTheFirstFailureInListOrder) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("f" + std::to_string(i));
  std::vector<Outcome> outcomes(30, Outcome::ok);
  outcomes[12] = Outcome::write_fails;
  outcomes[20] = Outcome::read_fails;
  for (int round = 0; round < 10; ++round) {
    const PoolRun run = RunPool(names, outcomes, 4, true);
    EXPECT_FALSE(run.completed);
    for (std::size_t i = 0; i < run.commits.size(); ++i) EXPECT_EQ(run.commits[i], i);
    EXPECT_EQ(run.commits.size(), 12u);
    for (int i = 12; i < 30; ++i) EXPECT_EQ(run.store.at("f" + std::to_string(i)), 0) << i;
    EXPECT_NE(run.transcript.find("12:[ERROR] can't write 12\n  detail\nv0#1\n"), std::string::npos);
    EXPECT_EQ(run.transcript.find("13:"), std::string::npos);
  }
}

TEST(OrderedFilePool, SecondJobOnAFileReadsWhatTheFirstWrote) {
  const std::vector<std::string> names(6, "same");
  for (unsigned threads : {1u, 4u}) {
    const PoolRun run = RunPool(names, std::vector<Outcome>(6, Outcome::ok), threads, false);
    EXPECT_EQ(run.transcript, "0:v0#1\n1:v1#1\n2:v2#1\n3:v3#1\n4:v4#1\n5:v5#1\n");
    EXPECT_EQ(run.store.at("same"), 6);
  }
}

// An exception from a job is that file's failure alone: it is emitted in
// its place with the error, every other file is written and emitted, and
// with stop_on_failure nothing after it is written or emitted.
TEST(OrderedFilePool, ExceptionInAJobIsThatFilesFailure) {
  std::vector<std::string> names;
  for (int i = 0; i < 25; ++i) names.push_back("f" + std::to_string(i));
  for (Outcome thrower : {Outcome::prepare_throws, Outcome::commit_throws}) {
    const bool in_prepare = thrower == Outcome::prepare_throws;
    for (int at : {0, 9, 24}) {
      std::vector<Outcome> outcomes(25, Outcome::ok);
      outcomes[at] = thrower;
      for (unsigned threads : {1u, 2u, 3u}) {
        for (bool stop : {false, true}) {
          SCOPED_TRACE("at " + std::to_string(at) + " threads " + std::to_string(threads) +
                       (stop ? " stop" : ""));
          const PoolRun run = RunPool(names, outcomes, threads, stop);
          EXPECT_EQ(run.thrown, "");
          EXPECT_EQ(run.completed, !stop);
          std::string expected;
          for (int i = 0; i < 25; ++i) {
            if (i == at)
              expected += std::to_string(i) + ":!" + (in_prepare ? "prepare " : "commit ") +
                          std::to_string(i) + (in_prepare ? "#0\n" : "v0#1\n");
            else if (i < at || !stop)
              expected += std::to_string(i) + ":v0#1\n";
          }
          EXPECT_EQ(run.transcript, expected);
          for (int i = 0; i < 25; ++i)
            EXPECT_EQ(run.store.at("f" + std::to_string(i)), i == at || (stop && i > at) ? 0 : 1)
                << i;
        }
      }
    }
  }
}

// Jobs that write output of their own once AwaitTurn lets them land in list
// order among what Emit writes, on any number of workers; once the run ends
// (stop_on_failure met a failure, or Emit threw), no later job writes.
TEST(OrderedFilePool, AJobWritesItsOwnOutputInItsTurn) {
  class CTurnWork : public TFileWork {
   public:
    CTurnWork(COrderedFilePool& pool, int failing, int throwing)
        : pool_(pool), failing_(failing), throwing_(throwing) {}
    void Prepare(unsigned, std::size_t i, FILE_JOB_RESULT& r) override {
      r.needs_commit = false;
      std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 500));
      if (int(i) == failing_) {
        r.failed = true;
        return;
      }
      if (i % 3 == 0) return;  // reported by Emit alone
      if (!pool_.AwaitTurn(i)) {
        r.skipped = true;
        return;
      }
      std::lock_guard<std::mutex> hold(mutex_);
      transcript += "own " + std::to_string(i) + "\n";
    }
    void Commit(unsigned, std::size_t, FILE_JOB_RESULT&) override {}
    void Emit(std::size_t i, FILE_JOB_RESULT& r) override {
      if (int(i) == throwing_) throw std::runtime_error("emit");
      std::lock_guard<std::mutex> hold(mutex_);
      transcript += (r.skipped ? "skipped " : "emit ") + std::to_string(i) + "\n";
    }
    std::string transcript;

   private:
    COrderedFilePool& pool_;
    const int failing_;
    const int throwing_;
    std::mutex mutex_;
  };
  std::vector<narrow_buffer> names;
  for (int i = 0; i < 40; ++i) names.push_back(narrow_buffer(("f" + std::to_string(i)).c_str()));
  for (unsigned threads : {1u, 2u, 4u})
    for (const auto& [failing, throwing] : {std::pair{-1, -1}, {17, -1}, {-1, 25}}) {
      FILE_POOL_OPTIONS options;
      options.threads = threads;
      options.stop_on_failure = failing >= 0;
      options.files_in_flight_per_worker = 2;
      COrderedFilePool pool(names, options);
      CTurnWork work(pool, failing, throwing);
      if (throwing >= 0)
        EXPECT_THROW(pool.Run(work), std::runtime_error);
      else
        EXPECT_EQ(pool.Run(work), failing < 0);
      const int last = failing >= 0 ? failing : throwing >= 0 ? throwing : 39;
      std::string expected;
      for (int i = 0; i <= last; ++i) {
        if (i % 3 != 0 && i != failing) expected += "own " + std::to_string(i) + "\n";
        if (i != throwing) expected += "emit " + std::to_string(i) + "\n";
      }
      EXPECT_EQ(work.transcript, expected) << threads << " threads, failing " << failing;
    }
}

}  // namespace
}  // namespace Velk
