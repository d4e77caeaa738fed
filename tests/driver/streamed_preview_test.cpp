#include "driver/streamed_preview.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "driver/diff_preview.h"
#include "tests/driver/stream_test_input.h"

namespace Velk {
namespace {

using test::Compile;
using test::CTextSource;
using test::Settings;

const narrow_buffer kName("dir/a file.txt");

std::string Text(const narrow_buffer& text) {
  return std::string(text.data() ? text.data() : "", text.length());
}

struct PREVIEW {
  std::string diff;
  std::uint64_t count = 0;
  std::size_t first_write_at = 0;  // input bytes read when the first hunk came
};

PREVIEW Whole(RUN_SETTINGS settings, const Matcher& matcher, const std::string& input,
              bool expand) {
  settings.expand = expand;
  narrow_buffer content(input.data(), std::uint32_t(input.size()));
  narrow_buffer scratch, out;
  ReplacementLog log;
  PREVIEW preview;
  if (!input.empty())
    preview.count = ReplaceAndPreview(settings, matcher, kName, content, scratch, log, out);
  preview.diff = Text(out);
  return preview;
}

PREVIEW Streamed(const RUN_SETTINGS& settings, const Matcher& matcher, const std::string& input,
                 std::size_t chunk, std::size_t max_read, bool ahead = false) {
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CTextSource source(input, max_read, ahead);
  PREVIEW preview;
  bool written = false;
  CStreamedPreview sink(kName, settings.colored, [&](const narrow_buffer& hunks) {
    EXPECT_FALSE(hunks.empty());
    if (!written) preview.first_write_at = source.read();
    written = true;
    preview.diff += Text(hunks);
  }, 0);
  PumpStream(replacer, source, sink, chunk);
  sink.Finish();
  preview.count = replacer.count();
  return preview;
}

// "1\n" up to "N\n", with every line in marked replaced by "<mark>N".
std::string Numbered(int lines, std::initializer_list<int> marked, const char* feed = "\n") {
  std::string text;
  for (int i = 1; i <= lines; ++i) {
    if (std::find(marked.begin(), marked.end(), i) != marked.end()) text += "mark";
    text += std::to_string(i) + feed;
  }
  return text;
}

// The streamed preview at chunk sizes of a byte and up, read in short
// pieces and read ahead, is the whole-text preview of both memory modes:
// hunks merged where their contexts touch or overlap and apart where they
// do not, changes on the first and last lines, a last line without a line
// feed, CR LF, changes across lines, empty matches, lines longer than a
// chunk, no change at all, and the colored form.
TEST(StreamedPreview, ChunkEdgesGiveTheWholeTextPreview) {
  const std::string long_line = std::string(200, 'x') + "mark" + std::string(150, 'y') + "\n";
  struct Row {
    FindMethod method;
    const char* find;
    const char* with;
    std::string input;
  } rows[] = {
      {FindMethod::Literal, "mark", "M", Numbered(30, {10})},
      {FindMethod::Literal, "mark", "M", Numbered(30, {10, 16})},  // contexts touch
      {FindMethod::Literal, "mark", "M", Numbered(30, {10, 17})},  // one line apart
      {FindMethod::Literal, "mark", "M", Numbered(30, {10, 18})},
      {FindMethod::Literal, "mark", "M", Numbered(30, {10, 12, 14, 22, 29})},
      {FindMethod::Literal, "mark", "M", Numbered(30, {1, 30})},
      {FindMethod::Literal, "mark", "M", Numbered(30, {2, 29})},
      {FindMethod::Literal, "mark", "", Numbered(12, {4, 5, 6})},
      {FindMethod::Literal, "mark", "M", Numbered(12, {3, 9}, "\r\n")},
      {FindMethod::Literal, "mark12", "end", Numbered(12, {12}).substr(0, 22)},
      {FindMethod::Literal, "9\n", "9", Numbered(12, {})},    // joins two lines
      {FindMethod::Literal, "5\n6", "5\nnew\n6", Numbered(12, {})},
      {FindMethod::Literal, "\n", "\n\n", Numbered(4, {})},
      {FindMethod::Literal, "mark", "mark", Numbered(12, {6})},  // no byte changes
      {FindMethod::Literal, "none", "x", Numbered(12, {})},
      {FindMethod::Literal, "mark", "M", long_line + Numbered(9, {8}) + long_line},
      {FindMethod::LiteralNoCase, "MARK", "m", Numbered(20, {1, 20})},
      {FindMethod::Regex, "^mark", "", Numbered(20, {3, 11})},
      {FindMethod::Regex, "x*", "-", "ab\n\ncd\n"},
      {FindMethod::Regex, "^", ">", Numbered(9, {})},
      {FindMethod::Regex, "$", "<", Numbered(9, {}).substr(0, 16)},
      {FindMethod::Regex, "^$", "E", "a\n\n\nb\n\n"},
      {FindMethod::Regex, "[0-9]+$", "(\\0)", Numbered(15, {7}, "\r\n")},
      {FindMethod::Regex, "y+", "Y", long_line + long_line},
  };
  for (const Row& row : rows) {
    for (bool colored : {false, true}) {
      RUN_SETTINGS settings = Settings(row.method, row.find, row.with);
      settings.colored = colored;
      const Matcher matcher = Compile(settings);
      ASSERT_TRUE(stream_replacer::can_stream(settings.method, matcher)) << row.find;
      const PREVIEW whole = Whole(settings, matcher, row.input, true);
      EXPECT_EQ(Whole(settings, matcher, row.input, false).diff, whole.diff) << row.find;
      for (bool ahead : {false, true})
        for (std::size_t chunk : {1, 2, 3, 5, 8, 64, 4096})
          for (std::size_t max_read : {std::size_t(1), std::size_t(7), chunk}) {
            const PREVIEW streamed = Streamed(settings, matcher, row.input, chunk, max_read, ahead);
            ASSERT_EQ(streamed.diff, whole.diff)
                << row.find << " in " << row.input << " chunk " << chunk << " colored " << colored;
            ASSERT_EQ(streamed.count, whole.count) << row.find << " chunk " << chunk;
          }
    }
  }
}

// Random texts of short lines (CR LF among them), finds and chunk sizes:
// the streamed preview is the whole-text one of both memory modes.
TEST(StreamedPreview, AgreesWithTheWholeTextPreviewOnRandomInputs) {
  std::mt19937 random(2525);
  const char alphabet[] = {'a', 'b', 'A', '\n', '\n', '\r', ' ', 'c', 'd'};
  const struct {
    FindMethod method;
    const char* find;
    const char* with;
  } finds[] = {
      {FindMethod::Literal, "ab", "X"},       {FindMethod::Literal, "a", "a\nb"},
      {FindMethod::Literal, "\r\n", "\n"},    {FindMethod::Literal, "b\n", ""},
      {FindMethod::Literal, "aa", "aa"},      {FindMethod::LiteralNoCase, "aB", "."},
      {FindMethod::Regex, "a*", "-"},         {FindMethod::Regex, "^a", ""},
      {FindMethod::Regex, "b$", "\\0\\0"},    {FindMethod::Regex, "(a+)(b?)", "\\2\\1"},
      {FindMethod::Regex, "^$", "E"},         {FindMethod::Regex, "[^b]*$", "<\\0>"},
      {FindMethod::Regex, "c|d", "c"},        {FindMethod::Regex, "A", "A\n"},
  };
  for (const auto& find : finds) {
    const RUN_SETTINGS settings = Settings(find.method, find.find, find.with);
    const Matcher matcher = Compile(settings);
    ASSERT_TRUE(stream_replacer::can_stream(settings.method, matcher)) << find.find;
    for (int round = 0; round < 120; ++round) {
      // Mostly unchanged lines, so that hunks part and join.
      std::string input;
      const std::size_t lines = random() % 40;
      for (std::size_t line = 0; line < lines; ++line) {
        if (random() % 4 == 0) {
          for (std::size_t k = random() % 6; k > 0; --k) input += alphabet[random() % 9];
        } else {
          input += "line " + std::to_string(line);
        }
        input += '\n';
      }
      if (random() % 3 == 0 && !input.empty()) input.pop_back();
      const std::size_t chunk = 1 + random() % 12;
      const std::size_t max_read = 1 + random() % 16;
      const PREVIEW whole = Whole(settings, matcher, input, round % 2 == 0);
      const PREVIEW streamed = Streamed(settings, matcher, input, chunk, max_read, round % 3 == 0);
      ASSERT_EQ(streamed.diff, whole.diff) << find.find << " in " << input << " chunk " << chunk;
      ASSERT_EQ(streamed.count, whole.count) << find.find << " chunk " << chunk;
    }
  }
}

// A hunk is handed on once the input shows that no later change can join
// it, long before the input ends.
TEST(StreamedPreview, EachHunkIsWrittenWhenComplete) {
  const RUN_SETTINGS settings = Settings(FindMethod::Literal, "mark", "M");
  const std::string input = Numbered(5000, {2, 4000});
  const PREVIEW streamed = Streamed(settings, Matcher(), input, 64, 64);
  EXPECT_EQ(streamed.diff, Whole(settings, Matcher(), input, true).diff);
  EXPECT_GT(streamed.first_write_at, 0u);
  EXPECT_LT(streamed.first_write_at, 256u);
}

}  // namespace
}  // namespace Velk
