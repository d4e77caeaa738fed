#include "driver/stream_pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>

#include "driver/replace_step.h"
#include "engine/compile_matcher.h"
#include "tests/driver/stream_test_input.h"

namespace Velk {
namespace {

// Takes the pieces on the pump's writer thread when asked to.
class CTextSink : public TStreamSink {
 public:
  explicit CTextSink(bool behind = false) : behind_(behind) {}
  bool WritesBehind() const override { return behind_; }
  void Piece(const narrow_buffer& out, std::uint64_t input_start, std::size_t input_length,
             bool changed) override {
    EXPECT_EQ(input_start, input_seen);  // pieces follow each other
    input_seen += input_length;
    if (!changed) {
      EXPECT_EQ(out.length(), input_length);
    }
    result.append(out.c_str(), out.length());
    if (changed) ++changed_pieces;
  }
  std::string result;
  std::uint64_t input_seen = 0;
  int changed_pieces = 0;

 private:
  bool behind_;
};

using test::CTextSource;
using test::Compile;
using test::Settings;

// The ways a pump can run: reading on the calling thread or ahead, writing
// there or behind, or reading and searching on two threads in turn (a
// literal find; the others take one of the ways before).
struct THREADS {
  bool ahead;
  bool behind;
  bool turns = false;
};
constexpr THREADS kAllThreads[] = {{false, false}, {true, false}, {false, true},
                                   {true, true},   {false, false, true}};

std::string Describe(const THREADS& threads) {
  return " ahead " + std::to_string(threads.ahead) + " behind " +
         std::to_string(threads.behind) + " turns " + std::to_string(threads.turns);
}

struct OUTCOME {
  std::string text;
  std::uint64_t count;
};

OUTCOME Whole(RUN_SETTINGS settings, const Matcher& matcher, const std::string& input,
              bool expand) {
  settings.expand = expand;
  narrow_buffer content(input.data(), std::uint32_t(input.size()));
  narrow_buffer scratch;
  const std::uint32_t count = ReplaceAll(settings, matcher, content, scratch);
  return {std::string(content.c_str(), content.length()), count};
}

OUTCOME Streamed(const RUN_SETTINGS& settings, const Matcher& matcher, const std::string& input,
                 std::size_t chunk, std::size_t max_read, THREADS threads = {false, false}) {
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CTextSource source(input, max_read, threads.ahead, threads.turns);
  CTextSink sink(threads.behind);
  EXPECT_EQ(PumpStream(replacer, source, sink, chunk), input.size());
  EXPECT_EQ(sink.input_seen, input.size());
  return {sink.result, replacer.count()};
}

// Every case at chunk sizes from one byte up, with reads as short as one
// byte, read on the calling thread and read ahead: matches straddling a chunk's edge, a find text longer than a chunk,
// lines longer than a chunk, "^" and "$" at chunk edges, empty matches, CR
// LF. The streamed result is the whole-text result of both memory modes.
TEST(StreamPump, ChunkEdgesGiveTheWholeTextResult) {
  struct Row {
    FindMethod method;
    const char* find;
    const char* with;
    std::string input;
    const char* output;
    std::uint64_t count;
  } rows[] = {
      {FindMethod::Literal, "aa", "b", "aaa", "ba", 1},
      {FindMethod::Literal, "a", "aa", "aa", "aaaa", 2},
      {FindMethod::Literal, "aab", "X", "aaaabaab", "aaXX", 2},
      {FindMethod::Literal, "abcdefghij", "-", "xxabcdefghijabcdefghiabcdefghij", "xx-abcdefghi-", 2},
      {FindMethod::Literal, "ab", "", "abababx", "x", 3},
      {FindMethod::Literal, "zz", "y", "no match at all", "no match at all", 0},
      {FindMethod::Literal, "\r\n", "\n", "a\r\nb\r\r\n\r", "a\nb\r\n\r", 2},
      {FindMethod::LiteralNoCase, "ab", "x", "AbaB", "xx", 2},
      {FindMethod::LiteralNoCase, "SeSsIoN", "c", "session SESSION sessio", "c c sessio", 2},
      {FindMethod::Regex, "x*", "-", "ab", "-a-b", 2},
      {FindMethod::Regex, "x*", "-", "ab\ncd\n", "-a-b-\n-c-d-\n", 6},
      {FindMethod::Regex, "^", ">", "a\n\nbc\n", ">a\n>\n>bc\n>", 4},
      {FindMethod::Regex, "$", "<", "a\n\nbc", "a<\n<\nbc<", 3},
      {FindMethod::Regex, "$", "<", "a\n\nbc\n", "a<\n<\nbc<\n", 3},
      {FindMethod::Regex, "^b", "X", "a\nb", "a\nX", 1},
      {FindMethod::Regex, "^$", "E", "\n\na\n\n", "E\nE\na\nE\n", 3},
      {FindMethod::Regex, "x*$", "!", "x\nxx\ny", "!!\n!!\ny!", 5},
      {FindMethod::Regex, "\\r$", "", "a\r\nb\r\r\nc\r", "a\nb\r\nc", 3},
      {FindMethod::Regex, "([a-z]+) ([0-9]+)", "\\2 \\1", "ab 12\ncd 345 ef 6\n",
       "12 ab\n345 cd 6 ef\n", 3},
      {FindMethod::Regex, "[^x]+", "<\\0>", "ab\nxcx\n", "<ab>\nx<c>x\n", 2},
      {FindMethod::Regex, "a.c", "-", "abc\na\nc axc", "-\na\nc -", 2},
      {FindMethod::Regex, "b+$", "B", std::string(40, 'b') + "\n" + std::string(3, 'b') + "a",
       "B\nbbba", 1},
  };
  for (const Row& row : rows) {
    const RUN_SETTINGS settings = Settings(row.method, row.find, row.with);
    const Matcher matcher = Compile(settings);
    ASSERT_TRUE(stream_replacer::can_stream(settings.method, matcher)) << row.find;
    for (bool expand : {true, false}) {
      const OUTCOME whole = Whole(settings, matcher, row.input, expand);
      EXPECT_EQ(whole.text, row.output) << row.find << " expand " << expand;
      EXPECT_EQ(whole.count, row.count) << row.find << " expand " << expand;
    }
    for (const THREADS threads : kAllThreads)
      for (std::size_t chunk : {1, 2, 3, 5, 7, 64})
        for (std::size_t max_read : {std::size_t(1), std::size_t(4), chunk}) {
          const OUTCOME streamed = Streamed(settings, matcher, row.input, chunk, max_read, threads);
          const std::string where =
              std::string(row.find) + " chunk " + std::to_string(chunk) + Describe(threads);
          EXPECT_EQ(streamed.text, row.output) << where;
          EXPECT_EQ(streamed.count, row.count) << where;
        }
  }
}

// Only expressions whose matches provably stay within a line stream; the
// rest keep the whole-text loops.
TEST(StreamPump, OnlyLineBoundedExpressionsStream) {
  struct Row {
    const char* pattern;
    bool newline_sensitive;
    bool streams;
  } rows[] = {
      {"[0-9]+", true, true},
      {"^([0-9]+)-([0-9]+)$", true, true},
      {"a.b", true, true},
      {"[^a]", true, true},
      {"(a|b)*c", true, true},
      {"a\nb", true, false},
      {"[[:space:]]+", true, false},
      {"\\s", true, false},
      {"[^a]", false, false},
      {"[0-9]+", false, false},
      {"***:abc", true, false},
      {"(a)\\1", true, false},
      {"a^b", true, false},
  };
  for (const Row& row : rows) {
    const Matcher matcher =
        compile_matcher(narrow_buffer(row.pattern), {.newline_sensitive = row.newline_sensitive});
    ASSERT_FALSE(matcher.empty()) << row.pattern;
    EXPECT_EQ(stream_replacer::can_stream(FindMethod::Regex, matcher), row.streams)
        << row.pattern;
  }
  EXPECT_TRUE(stream_replacer::can_stream(FindMethod::Literal, Matcher()));
  EXPECT_TRUE(stream_replacer::can_stream(FindMethod::LiteralNoCase, Matcher()));
  // An invalid expression passes the text through unchanged.
  EXPECT_TRUE(stream_replacer::can_stream(FindMethod::Regex, Matcher()));
  const OUTCOME passed =
      Streamed(Settings(FindMethod::Regex, "(", "x"), Matcher(), "a\nb(c", 2, 1);
  EXPECT_EQ(passed.text, "a\nb(c");
  EXPECT_EQ(passed.count, 0u);
}

// Random texts, finds and chunk sizes: the streamed run agrees with both
// whole-text loops byte for byte and in its count.
TEST(StreamPump, StreamedAgreesWithWholeTextOnRandomInputs) {
  std::mt19937 random(25);
  const char alphabet[] = {'a', 'b', 'A', '\n', '\r', ' '};
  const struct {
    FindMethod method;
    const char* find;
    const char* with;
  } finds[] = {
      {FindMethod::Literal, "ab", "X"},      {FindMethod::Literal, "aa", "aaa"},
      {FindMethod::Literal, "\r\n", ""},     {FindMethod::Literal, "abab", "-"},
      {FindMethod::Literal, "aba", "b"},     {FindMethod::Literal, "aaaa", "a"},
      {FindMethod::LiteralNoCase, "aB", "."}, {FindMethod::LiteralNoCase, "a", "AA"},
      {FindMethod::Regex, "a*", "-"},        {FindMethod::Regex, "^a", "^"},
      {FindMethod::Regex, "b$", "$"},        {FindMethod::Regex, "(a+)(b?)", "\\2\\1"},
      {FindMethod::Regex, "^$", "E"},        {FindMethod::Regex, "[^b]*$", "<\\0>"},
      {FindMethod::Regex, "A|b+", "_"},      {FindMethod::Regex, "\\r?$", ";"},
  };
  for (const auto& find : finds) {
    const RUN_SETTINGS settings = Settings(find.method, find.find, find.with);
    const Matcher matcher = Compile(settings);
    ASSERT_TRUE(stream_replacer::can_stream(settings.method, matcher)) << find.find;
    for (int round = 0; round < 150; ++round) {
      std::string input(random() % 48, ' ');
      for (char& c : input) c = alphabet[random() % sizeof alphabet];
      const std::size_t chunk = 1 + random() % 9;
      const std::size_t max_read = 1 + random() % 12;
      const OUTCOME expanding = Whole(settings, matcher, input, true);
      const OUTCOME in_place = Whole(settings, matcher, input, false);
      const THREADS threads = kAllThreads[round % std::size(kAllThreads)];
      const OUTCOME streamed = Streamed(settings, matcher, input, chunk, max_read, threads);
      ASSERT_EQ(streamed.text, expanding.text)
          << find.find << " chunk " << chunk << Describe(threads);
      ASSERT_EQ(streamed.count, expanding.count) << find.find << " chunk " << chunk;
      ASSERT_EQ(in_place.text, expanding.text) << find.find;
    }
  }
}

// The sink learns which pieces hold a replacement, so that a file writer
// can leave an input without a match untouched.
TEST(StreamPump, PiecesTellWhereTheFirstChangeIs) {
  const RUN_SETTINGS settings = Settings(FindMethod::Literal, "needle", "pin");
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, Matcher());
  const std::string input = std::string(100, '.') + "needle" + std::string(100, '.');
  CTextSource source(input, 1000);
  CTextSink sink;
  PumpStream(replacer, source, sink, 16);
  EXPECT_EQ(sink.changed_pieces, 1);
  EXPECT_EQ(replacer.count(), 1u);

  stream_replacer none(settings.method, settings.find_text, settings.replacement, Matcher());
  const std::string plain(1000, 'x');
  CTextSource plain_source(plain, 1000);
  CTextSink plain_sink;
  PumpStream(none, plain_source, plain_sink, 16);
  EXPECT_EQ(plain_sink.changed_pieces, 0);
  EXPECT_EQ(plain_sink.result, plain);
}

// Lines that outgrow the room in front of a chunk, and then short ones
// again: the read-ahead pump moves from windows in its chunks' buffers to a
// window of its own and back, with the whole-text result.
TEST(StreamPump, LongLinesReadAheadGiveTheWholeTextResult) {
  const RUN_SETTINGS settings = Settings(FindMethod::Regex, "b+$", "<\\0>");
  const Matcher matcher = Compile(settings);
  std::string input;
  for (std::size_t length : {3, 40, 1, 200, 0, 9, 700, 2})
    input += std::string(length, 'a') + "bb" + (length % 2 ? "\n" : "\r\n");
  input += std::string(300, 'b');
  const OUTCOME whole = Whole(settings, matcher, input, true);
  for (std::size_t chunk : {4, 16, 64})
    for (std::size_t max_read : {std::size_t(3), chunk}) {
      const OUTCOME streamed = Streamed(settings, matcher, input, chunk, max_read, {true, true});
      EXPECT_EQ(streamed.text, whole.text) << "chunk " << chunk << " max_read " << max_read;
      EXPECT_EQ(streamed.count, whole.count) << "chunk " << chunk;
    }
}

// A read that fails ends the run with its error, after the pieces of what
// was read before it, whichever thread read them; a sink that fails stops
// the reading.
TEST(StreamPump, FailuresOnEitherSideEndTheRun) {
  class CFailingSource : public TByteSource {
   public:
    std::size_t Read(char* dest, std::size_t room) override {
      if (reads_++ == fail_at) throw std::runtime_error("read failed");
      std::memset(dest, 'x', room);
      return room;
    }
    bool ReadsAhead() const override { return threads.ahead || threads.turns; }
    bool ReadsInTurns() const override { return threads.turns; }
    THREADS threads;
    int fail_at = 3;
    int reads_ = 0;
  };
  class CFailingSink : public TStreamSink {
   public:
    void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
      if (++calls == fail_at) throw std::runtime_error("write failed");
      written += out.length();
    }
    int fail_at = 0;
    int calls = 0;
    std::size_t written = 0;
  };
  const RUN_SETTINGS settings = Settings(FindMethod::Literal, "xy", "z");
  for (const THREADS threads : {THREADS{false, false}, THREADS{true, false},
                                THREADS{false, false, true}}) {
    for (int fail_at : {0, 1, 2, 3, 4}) {
      stream_replacer replacer(settings.method, settings.find_text, settings.replacement,
                               Matcher());
      CFailingSource source;
      source.threads = threads;
      source.fail_at = fail_at;
      CFailingSink sink;
      EXPECT_THROW(PumpStream(replacer, source, sink, 8), std::runtime_error)
          << Describe(threads);
      // The chunks read; all but the byte that may begin a match written.
      EXPECT_EQ(sink.written, fail_at == 0 ? 0u : 8u * fail_at - 1) << Describe(threads);
    }
    for (int fail_at : {1, 2, 5}) {
      stream_replacer again(settings.method, settings.find_text, settings.replacement,
                            Matcher());
      CFailingSource endless;
      endless.threads = threads;
      endless.fail_at = -1;
      CFailingSink failing;
      failing.fail_at = fail_at;
      EXPECT_THROW(PumpStream(again, endless, failing, 8), std::runtime_error)
          << Describe(threads);
      EXPECT_EQ(failing.calls, fail_at) << Describe(threads);
    }
  }
}

// Written behind, a failed piece ends the run with the sink's own error:
// no piece after it reaches the sink, and the pump stops reading an input
// that never ends. A read that fails meanwhile drops what was not written.
TEST(StreamPump, FailuresOfAWriterThreadEndTheRun) {
  class CMatchesWithoutEnd : public TByteSource {
   public:
    std::size_t Read(char* dest, std::size_t room) override {
      if (reads++ == fail_at) throw std::runtime_error("read failed");
      for (std::size_t i = 0; i < room; ++i) dest[i] = "xy"[i % 2];
      return room - room % 2;
    }
    bool ReadsAhead() const override { return ahead; }
    bool ahead = false;
    int fail_at = -1;
    int reads = 0;
  };
  class CFailingSink : public TStreamSink {
   public:
    bool WritesBehind() const override { return true; }
    void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
      if (++calls == fail_at) throw std::runtime_error("disk full");
      written += out.length();
    }
    int fail_at = -1;
    int calls = 0;
    std::size_t written = 0;
  };
  const RUN_SETTINGS settings = Settings(FindMethod::Literal, "xy", "z");
  for (bool ahead : {false, true}) {
    stream_replacer replacer(settings.method, settings.find_text, settings.replacement, Matcher());
    CMatchesWithoutEnd endless;
    endless.ahead = ahead;
    CFailingSink sink;
    sink.fail_at = 5;
    try {
      PumpStream(replacer, endless, sink, 8);
      ADD_FAILURE() << "no failure, ahead " << ahead;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "disk full") << ahead;
    }
    EXPECT_EQ(sink.calls, 5) << ahead;
    EXPECT_EQ(sink.written, 4u * 4u) << ahead;  // four pieces of "zzzz"

    stream_replacer again(settings.method, settings.find_text, settings.replacement, Matcher());
    CMatchesWithoutEnd failing;
    failing.ahead = ahead;
    failing.fail_at = 40;
    CFailingSink writes;
    try {
      PumpStream(again, failing, writes, 8);
      ADD_FAILURE() << "no failure, ahead " << ahead;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "read failed") << ahead;
    }
    EXPECT_LE(writes.written, 40u * 4u) << ahead;
    EXPECT_EQ(writes.written % 4, 0u) << ahead;
  }
}

// A read that brings less than asked (a pipe or a terminal with nothing more
// for now) has what it brought worked and passed on before the pump waits
// for more: the second read waits until the sink has the first line's
// result, which a pump holding the line for a whole chunk never gives. A
// literal find keeps back only a tail that may begin a match, and a
// line-bounded expression passes on a line that ends the read.
TEST(StreamPump, WhatAShortReadBroughtIsPassedOnBeforeTheNextRead) {
  struct SHARED {
    std::mutex mutex;
    std::condition_variable changed;
    std::string result;
  };
  class CSlowSource : public TByteSource {
   public:
    CSlowSource(SHARED& shared, THREADS threads, std::string want)
        : shared_(shared), threads_(threads), want_(std::move(want)) {}
    std::size_t Read(char* dest, std::size_t room) override {
      if (reads_++ == 0) {
        const std::string line = "a session\n";
        EXPECT_GT(room, line.size());
        line.copy(dest, line.size());
        return line.size();
      }
      // Not a bound on speed: only keeps a pump that holds the line from
      // hanging the test.
      std::unique_lock<std::mutex> hold(shared_.mutex);
      waited_out = !shared_.changed.wait_for(hold, std::chrono::seconds(60),
                                             [&] { return shared_.result == want_; });
      return 0;
    }
    bool ReadsAhead() const override { return threads_.ahead || threads_.turns; }
    bool ReadsInTurns() const override { return threads_.turns; }
    bool waited_out = false;

   private:
    SHARED& shared_;
    THREADS threads_;
    std::string want_;
    int reads_ = 0;
  };
  class CSharedSink : public TStreamSink {
   public:
    explicit CSharedSink(SHARED& shared) : shared_(shared) {}
    void Piece(const narrow_buffer& out, std::uint64_t, std::size_t, bool) override {
      std::lock_guard<std::mutex> hold(shared_.mutex);
      shared_.result.append(out.c_str(), out.length());
      shared_.changed.notify_all();
    }

   private:
    SHARED& shared_;
  };
  struct Find {
    FindMethod method;
    const char* find;
    const char* want;  // the first line's result
  } finds[] = {{FindMethod::Literal, "session", "a connection\n"},
               {FindMethod::Regex, "s+ion$", "a seconnection\n"}};
  for (const Find& find : finds) {
    const RUN_SETTINGS settings = Settings(find.method, find.find, "connection");
    const Matcher matcher = Compile(settings);
    for (const THREADS threads : {THREADS{false, false}, THREADS{true, false},
                                  THREADS{false, false, true}}) {
      SHARED shared;
      CSlowSource source(shared, threads, find.want);
      CSharedSink sink(shared);
      stream_replacer replacer(settings.method, settings.find_text, settings.replacement,
                               matcher);
      PumpStream(replacer, source, sink);
      EXPECT_FALSE(source.waited_out) << find.find << Describe(threads);
      EXPECT_EQ(replacer.count(), 1u) << find.find << Describe(threads);
    }
  }
}

}  // namespace
}  // namespace Velk
