#include "driver/ordered_file_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
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

PoolRun RunPool(const std::vector<std::string>& names, const std::vector<Outcome>& outcomes,
            unsigned threads, bool stop_on_failure) {
  std::vector<narrow_buffer> list;
  for (const std::string& name : names) list.emplace_back(name.c_str());
  FakeWork work(names, outcomes);
  FILE_POOL_OPTIONS options;
  options.threads = threads;
  options.stop_on_failure = stop_on_failure;
  options.files_in_flight_per_worker = 2;
  COrderedFilePool pool(list, options);
  PoolRun run;
  try {
    run.completed = pool.Run(work);
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
          EXPECT_EQ(run.transcript, reference.transcript);
          EXPECT_EQ(run.store, reference.store);
          EXPECT_EQ(run.completed, reference.completed);
          if (stop) {
            EXPECT_EQ(run.commits, reference.commits);
          }
          EXPECT_LE(run.max_in_flight, int(threads * 2));
        }
      }
    }
  }
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

}  // namespace
}  // namespace Velk
