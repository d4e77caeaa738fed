// Fuzzes the review and the colors on one input "answers\0find\0text": the
// text is rewritten by a literal find of find (replaced by its reverse, so
// lengths and line feeds move) and the changes are reviewed with the
// answers, one byte each.
//
// Checks: nothing crashes; accepting every change gives the result and
// rejecting every change the original; any answers give a text that only
// takes the result's bytes for accepted changes (its length is the
// original's plus the accepted changes' growth); the colored preview with
// its color sequences taken out is the plain preview.
#include <cstdint>
#include <string>

#include "driver/change_review.h"
#include "driver/diff_colors.h"
#include "driver/replace_step.h"
#include "driver/unified_diff.h"
#include "fuzz/fuzz_input.h"

namespace {

using Velk::narrow_buffer;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class CScripted : public Velk::TReviewPrompt {
 public:
  explicit CScripted(std::string answers) : answers_(std::move(answers)) {}
  bool Show(const narrow_buffer&) override { return true; }
  bool ReadAnswer(narrow_buffer& line) override {
    if (next_ >= answers_.size()) return false;
    line.assign(&answers_[next_++], 1);
    return true;
  }

 private:
  std::string answers_;
  std::size_t next_ = 0;
};

std::string Text(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

std::string WithoutColors(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\033') {
      while (i < text.size() && text[i] != 'm') ++i;
      continue;
    }
    plain += text[i];
  }
  return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> pieces = rplc_fuzz::SplitInput(data, size, 3);
  if (pieces[1].empty() || pieces[1].size() > 64 || pieces[2].size() > 4096) return 0;
  Velk::RUN_SETTINGS settings;
  settings.method = Velk::FindMethod::Literal;
  settings.find_text = narrow_buffer(pieces[1].data(), std::uint32_t(pieces[1].size()));
  settings.replacement =
      narrow_buffer(std::string(pieces[1].rbegin(), pieces[1].rend()).c_str());
  const narrow_buffer original(pieces[2].data(), std::uint32_t(pieces[2].size()));
  narrow_buffer result = original;
  narrow_buffer scratch;
  Velk::ReplacementLog log;
  Velk::ReplaceAll(settings, Velk::Matcher(), result, scratch, &log);

  narrow_buffer plain, colored;
  Velk::AppendUnifiedDiff(plain, narrow_buffer("f"), original, result, log);
  Velk::AppendColoredDiff(colored, plain);
  Check(WithoutColors(Text(colored)) == Text(plain));

  const narrow_buffer name("f");
  for (const std::string& answers :
       {std::string(4096, 'a'), std::string(4096, 'y'), std::string("d"), std::string("q"),
        std::string(), pieces[0]}) {
    CScripted prompt(answers);
    Velk::CChangeReview review(prompt, true);
    narrow_buffer accepted;
    const Velk::REVIEW_OUTCOME outcome = review.ReviewFile(name, original, result, log, accepted);
    const std::string got = outcome.accepted ? Text(accepted) : Text(original);
    if (answers[0] == 'a' || answers[0] == 'y') {
      if (Velk::ChangesText(original, result, log)) Check(got == Text(result));
    } else if (answers.size() <= 1) {
      Check(got == Text(original));
    }
    Check(outcome.accepted <= log.size());
  }
  return 0;
}
