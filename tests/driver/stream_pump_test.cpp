#include "driver/stream_pump.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "driver/replace_step.h"
#include "engine/compile_matcher.h"

namespace Velk {
namespace {

// Hands out the text in reads of at most max_read bytes, as a pipe may.
class CTextSource : public TByteSource {
 public:
  CTextSource(const std::string& text, std::size_t max_read) : text_(text), max_read_(max_read) {}
  std::size_t Read(char* dest, std::size_t room) override {
    const std::size_t n = std::min({room, max_read_, text_.size() - at_});
    text_.copy(dest, n, at_);
    at_ += n;
    return n;
  }

 private:
  const std::string& text_;
  std::size_t max_read_;
  std::size_t at_ = 0;
};

class CTextSink : public TStreamSink {
 public:
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
};

RUN_SETTINGS Settings(FindMethod method, const std::string& find, const std::string& with,
                      bool ignore_case = false) {
  RUN_SETTINGS settings;
  settings.method = method;
  settings.find_text = narrow_buffer(find.data(), std::uint32_t(find.size()));
  settings.replacement = narrow_buffer(with.data(), std::uint32_t(with.size()));
  settings.ignore_case = ignore_case;
  return settings;
}

Matcher Compile(const RUN_SETTINGS& settings) {
  if (settings.method != FindMethod::Regex) return Matcher();
  return compile_matcher(settings.find_text, {.ignore_case = settings.ignore_case});
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
                 std::size_t chunk, std::size_t max_read) {
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CTextSource source(input, max_read);
  CTextSink sink;
  EXPECT_EQ(PumpStream(replacer, source, sink, chunk), input.size());
  EXPECT_EQ(sink.input_seen, input.size());
  return {sink.result, replacer.count()};
}

// Every case at chunk sizes from one byte up, with reads as short as one
// byte: matches straddling a chunk's edge, a find text longer than a chunk,
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
    for (std::size_t chunk : {1, 2, 3, 5, 7, 64})
      for (std::size_t max_read : {std::size_t(1), std::size_t(4), chunk}) {
        const OUTCOME streamed = Streamed(settings, matcher, row.input, chunk, max_read);
        EXPECT_EQ(streamed.text, row.output) << row.find << " chunk " << chunk;
        EXPECT_EQ(streamed.count, row.count) << row.find << " chunk " << chunk;
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
      const OUTCOME streamed = Streamed(settings, matcher, input, chunk, max_read);
      ASSERT_EQ(streamed.text, expanding.text) << find.find << " chunk " << chunk;
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

}  // namespace
}  // namespace Velk
