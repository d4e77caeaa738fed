// Fuzzes the review and the colors on one input "answers\0find\0text": the
// text is rewritten by a literal find of find (replaced by its reverse, so
// lengths and line feeds move) and the changes are reviewed with the
// answers, one byte each.
//
// Checks: nothing crashes; accepting every change gives the result and
// rejecting every change (or quitting at once) the original; the colored
// preview with its color sequences taken out is the plain preview.
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
  // (A text that holds escape bytes of its own cannot be told apart.)
  if (pieces[2].find('\033') == std::string::npos && pieces[1].find('\033') == std::string::npos)
    Check(WithoutColors(Text(colored)) == Text(plain));

  const narrow_buffer name("f");
  // Every change accepted, none, and the input's own answers.
  const std::string scripts[] = {std::string(4096, 'a'), std::string(4096, 'y'), "d", "q", "",
                                 pieces[0]};
  for (std::size_t k = 0; k < std::size(scripts); ++k) {
    CScripted prompt(scripts[k]);
    Velk::CChangeReview review(prompt, k % 2 == 0);
    narrow_buffer accepted;
    const Velk::REVIEW_OUTCOME outcome = review.ReviewFile(name, original, result, log, accepted);
    const std::string got = outcome.accepted ? Text(accepted) : Text(original);
    if (k < 2) Check(got == Text(result));
    if (k >= 2 && k < 5) Check(got == Text(original) && outcome.accepted == 0);
    Check(outcome.accepted <= log.size());
  }
  return 0;
}
