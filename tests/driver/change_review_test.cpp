#include "driver/change_review.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/diff_colors.h"
#include "driver/replace_step.h"

namespace Velk {
namespace {

// Answers from a script, one per question; everything shown is kept.
class CScriptedPrompt : public TReviewPrompt {
 public:
  explicit CScriptedPrompt(std::vector<std::string> answers) : answers_(std::move(answers)) {}
  bool Show(const narrow_buffer& text) override {
    shown += std::string(text.c_str(), text.length());
    return true;
  }
  bool ReadAnswer(narrow_buffer& line) override {
    if (next_ >= answers_.size()) return false;  // the end of input
    line = narrow_buffer(answers_[next_++].c_str());
    ++questions;
    return true;
  }
  std::string shown;
  int questions = 0;

 private:
  std::vector<std::string> answers_;
  std::size_t next_ = 0;
};

struct REVIEWED {
  std::string text;
  REVIEW_OUTCOME outcome;
  std::string shown;
  int questions;
};

// Replaces find by replacement in input (literally, expanding or in place)
// and reviews the result with the scripted answers.
REVIEWED Review(const std::string& input, const char* find, const char* replacement,
                const std::vector<std::string>& answers, bool expand = true,
                bool colored = false) {
  RUN_SETTINGS settings;
  settings.method = FindMethod::Literal;
  settings.find_text = narrow_buffer(find);
  settings.replacement = narrow_buffer(replacement);
  settings.expand = expand;
  narrow_buffer content(input.data(), narrow_buffer::size_type(input.size()));
  narrow_buffer scratch;
  const narrow_buffer kept = expand ? narrow_buffer() : content;
  ReplacementLog log;
  ReplaceAll(settings, Matcher(), content, scratch, &log);
  CScriptedPrompt prompt(answers);
  CChangeReview review(prompt, colored);
  narrow_buffer accepted;
  REVIEWED done;
  done.outcome = review.ReviewFile(narrow_buffer("f.txt"), expand ? scratch : kept, content,
                                   log, accepted);
  done.text = done.outcome.accepted ? std::string(accepted.c_str(), accepted.length()) : input;
  done.shown = prompt.shown;
  done.questions = prompt.questions;
  return done;
}

TEST(ChangeReview, AnswersDecideWhichChangesAreWritten) {
  const std::string three = "a1\nb\na2\nb\nb\nb\nb\nb\nb\na3\n";
  struct Row {
    std::string input;
    std::vector<std::string> answers;
    std::string output;
    std::uint32_t accepted;
    bool quit;
    int questions;
  } rows[] = {
      {three, {"y", "y", "y"}, "X1\nb\nX2\nb\nb\nb\nb\nb\nb\nX3\n", 3, false, 3},
      {three, {"n", "y", "n"}, "a1\nb\nX2\nb\nb\nb\nb\nb\nb\na3\n", 1, false, 3},
      {three, {"n", "a"}, "a1\nb\nX2\nb\nb\nb\nb\nb\nb\nX3\n", 2, false, 2},
      {three, {"y", "d"}, "X1\nb\na2\nb\nb\nb\nb\nb\nb\na3\n", 1, false, 2},
      {three, {"y", "q"}, "X1\nb\na2\nb\nb\nb\nb\nb\nb\na3\n", 1, true, 2},
      {three, {"q"}, three, 0, true, 1},
      {three, {"y"}, "X1\nb\na2\nb\nb\nb\nb\nb\nb\na3\n", 1, true, 1},  // then end of input
      // Help, unknown and empty answers ask again; capitals count.
      {three, {"?", "x", "", "yes", "Y", "N", "A"}, "X1\nb\na2\nb\nb\nb\nb\nb\nb\nX3\n", 2, false, 7},
      // Two on one line, and one reaching into the next line, are one change.
      {"aa a\nzz\n", {"y"}, "XX X\nzz\n", 3, false, 1},
      {"xa\nay\nq\n", {"n", "y"}, "xa\nXy\nq\n", 1, false, 2},
      // No line feed at the end; a deletion of a whole line.
      {"b\na", {"y"}, "b\nX", 1, false, 1},
  };
  for (const Row& row : rows) {
    for (bool expand : {true, false}) {
      SCOPED_TRACE(row.input + (expand ? " expanding" : " in place"));
      const REVIEWED r = Review(row.input, "a", "X", row.answers, expand);
      EXPECT_EQ(r.text, row.output);
      EXPECT_EQ(r.outcome.accepted, row.accepted);
      EXPECT_EQ(r.outcome.quit, row.quit);
      EXPECT_EQ(r.questions, row.questions);
    }
  }
  const REVIEWED joined = Review("xa\nay\nq\n", "a\na", "-", {"y"});
  EXPECT_EQ(joined.text, "x-y\nq\n");
  const REVIEWED deleted = Review("k\ndel\nk\n", "del\n", "", {"y"});
  EXPECT_EQ(deleted.text, "k\nk\n");
  EXPECT_NE(deleted.shown.find("@@ -1,3 +1,2 @@\n k\n-del\n k\n"), std::string::npos)
      << deleted.shown;
}

TEST(ChangeReview, EachQuestionShowsAHunkWithItsNameAndLine) {
  const REVIEWED r =
      Review("1\n2\n3\n4\nab\n6\n7\n8\n9\nab\n", "a", "X\nY", {"n", "n"});
  EXPECT_EQ(r.shown,
            "--- f.txt\n+++ f.txt\n"
            "@@ -2,7 +2,8 @@\n 2\n 3\n 4\n-ab\n+X\n+Yb\n 6\n 7\n 8\n"
            "(1/2) Apply this change to f.txt:5 [y,n,a,d,q,?]? "
            "@@ -7,4 +8,5 @@\n 7\n 8\n 9\n-ab\n+X\n+Yb\n"
            "(2/2) Apply this change to f.txt:10 [y,n,a,d,q,?]? ");
  const REVIEWED colored = Review("ab\n", "a", "X", {"y"}, true, true);
  EXPECT_EQ(colored.shown,
            std::string(kColorMeta) + "--- f.txt" + kColorReset + "\n" + kColorMeta +
                "+++ f.txt" + kColorReset + "\n" + kColorFrag + "@@ -1 +1 @@" + kColorReset +
                "\n" + kColorOld + "-ab" + kColorReset + "\n" + kColorNew + "+Xb" +
                kColorReset + "\n(1/1) Apply this change to f.txt:1 [y,n,a,d,q,?]? ");
}

TEST(ChangeReview, ReplacementsThatChangeNothingAreNotAskedAbout) {
  const REVIEWED same = Review("a a\n", "a", "a", {});
  EXPECT_EQ(same.questions, 0);
  EXPECT_EQ(same.shown, "");
  EXPECT_EQ(same.outcome.accepted, 0u);
  EXPECT_FALSE(same.outcome.quit);
}

// A file holding NUL bytes (named exactly, or with -binary) is reviewed in
// hunks as a text is: the preview shows it byte for byte too.
TEST(ChangeReview, ABinaryFileIsReviewedInHunks) {
  const std::string input("a\0a\na", 5);
  const REVIEWED r = Review(input, "a", "b", {"a"});
  EXPECT_EQ(r.questions, 1);
  EXPECT_EQ(r.text, std::string("b\0b\nb", 5));
  EXPECT_EQ(r.shown.rfind("--- f.txt\n+++ f.txt\n@@ ", 0), 0u) << r.shown;
}

}  // namespace
}  // namespace Velk
