#include "driver/change_review.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "driver/diff_colors.h"
#include "driver/diff_lines.h"
#include "driver/unified_diff.h"
#include "support/fs/write_back.h"
#include "support/os/error.h"

namespace Velk {
namespace {

constexpr std::size_t kContextLines = 3;

bool AtLineBoundary(std::string_view text, std::size_t pos) {
  return pos == 0 || pos == text.size() || text[pos - 1] == '\n';
}

bool ChangesBytes(std::string_view old_text, std::string_view new_text,
                  const REPLACEMENT_RECORD& r) {
  return r.input_length != r.output_length ||
         old_text.compare(r.input_start, r.input_length, new_text, r.output_start,
                          r.output_length) != 0;
}

std::size_t CountLines(std::string_view text, std::size_t begin, std::size_t end) {
  std::size_t lines = std::size_t(std::count(text.begin() + begin, text.begin() + end, '\n'));
  return lines + (end > begin && text[end - 1] != '\n' ? 1 : 0);
}

// The hunk of one change with up to three lines of context on each side, in
// the form of a unified diff. line: the number of the original's line at
// change.old_begin; shift: new line numbers minus old ones before it.
void AppendHunk(narrow_buffer& out, std::string_view old_text, std::string_view new_text,
                const REVIEW_CHANGE& change, std::size_t line, std::ptrdiff_t shift) {
  std::size_t before = change.old_begin, before_lines = 0;
  while (before_lines < kContextLines && before > 0) {
    before = LineStart(old_text, before - 1);
    ++before_lines;
  }
  std::size_t after = change.old_end, after_lines = 0;
  while (after_lines < kContextLines && after < old_text.size()) {
    after = LineEnd(old_text, after);
    ++after_lines;
  }
  const std::size_t context = before_lines + after_lines;
  const std::size_t old_start = line - before_lines;
  out.append("@@ -");
  AppendDiffRange(out, old_start, context + CountLines(old_text, change.old_begin, change.old_end));
  out.append(" +");
  AppendDiffRange(out, std::size_t(std::ptrdiff_t(old_start) + shift),
              context + CountLines(new_text, change.new_begin, change.new_end));
  out.append(" @@\n");
  AppendDiffLines(out, ' ', old_text, before, change.old_begin);
  AppendDiffLines(out, '-', old_text, change.old_begin, change.old_end);
  AppendDiffLines(out, '+', new_text, change.new_begin, change.new_end);
  AppendDiffLines(out, ' ', old_text, change.old_end, after);
}

enum class Answer { yes, no, all, none, quit, help };

bool ReadChoice(const narrow_buffer& line, Answer& answer) {
  if (line.length() != 1) return false;
  switch (line[0]) {
    case 'y': case 'Y': answer = Answer::yes; return true;
    case 'n': case 'N': answer = Answer::no; return true;
    case 'a': case 'A': answer = Answer::all; return true;
    case 'd': case 'D': answer = Answer::none; return true;
    case 'q': case 'Q': answer = Answer::quit; return true;
    case '?': answer = Answer::help; return true;
  }
  return false;
}

constexpr char kHelp[] =
    "y - apply this change\n"
    "n - do not apply this change\n"
    "a - apply this change and all later ones in this file\n"
    "d - do not apply this change nor any later one in this file\n"
    "q - quit: apply no further change (those accepted in this file are written)\n"
    "? - print help\n";

}  // namespace

std::vector<REVIEW_CHANGE> FindChanges(const narrow_buffer& original, const narrow_buffer& result,
                                       const ReplacementLog& log) {
  const std::string_view old_text = TextView(original), new_text = TextView(result);
  std::vector<REVIEW_CHANGE> changes;
  for (std::size_t k = 0; k < log.size(); ++k) {
    const REPLACEMENT_RECORD& r = log[k];
    if (!ChangesBytes(old_text, new_text, r)) continue;
    if (changes.empty() || r.input_start >= changes.back().old_end) {
      const std::size_t begin = LineStart(old_text, r.input_start);
      changes.push_back({k, k + 1, begin, 0,
                         std::size_t(std::ptrdiff_t(begin) + std::ptrdiff_t(r.output_start) -
                                     std::ptrdiff_t(r.input_start)),
                         0});
    }
    REVIEW_CHANGE& change = changes.back();
    change.end = k + 1;
    // Past the record the two texts are equal up to the next record: both
    // ends move on together to the first place that ends a line in both.
    std::size_t old_end = r.input_start + r.input_length;
    std::size_t new_end = std::size_t(r.output_start) + r.output_length;
    while (!(AtLineBoundary(old_text, old_end) && AtLineBoundary(new_text, new_end)) ||
           old_end == change.old_begin) {
      if (old_end >= old_text.size() && new_end >= new_text.size()) break;
      const std::size_t next = LineEnd(old_text, old_end);
      if (next == old_end) break;
      new_end += next - old_end;
      old_end = next;
    }
    change.old_end = old_end;
    change.new_end = new_end;
  }
  return changes;
}

std::uint64_t BuildAccepted(narrow_buffer& out, const narrow_buffer& original,
                            const narrow_buffer& result, const ReplacementLog& log,
                            const std::vector<REVIEW_CHANGE>& changes,
                            const std::vector<std::uint8_t>& accepted) {
  out.clear();
  std::uint64_t count = 0;
  std::size_t pos = 0;  // original bytes before it are in out
  for (std::size_t c = 0; c < changes.size(); ++c) {
    if (!accepted[c]) continue;
    for (std::size_t k = changes[c].first; k < changes[c].end; ++k) {
      const REPLACEMENT_RECORD& r = log[k];
      out.append(original.data() + pos, narrow_buffer::size_type(r.input_start - pos));
      out.append(result.data() + r.output_start, r.output_length);
      pos = std::size_t(r.input_start) + r.input_length;
      ++count;
    }
  }
  if (original.length() > pos)
    out.append(original.data() + pos, narrow_buffer::size_type(original.length() - pos));
  return count;
}

CReviewTerminal::~CReviewTerminal() {
  if (open_) os::close_terminal(terminal_);
}

bool CReviewTerminal::Open(narrow_buffer& reason) {
  const int error = os::open_terminal(terminal_);
  if (error) {
    char text[256];
    os::error_text(error, text, sizeof text);
    reason = narrow_buffer(text);
    return false;
  }
  open_ = true;
  return true;
}

bool CReviewTerminal::Show(const narrow_buffer& text) {
  return open_ && os::write_terminal(terminal_, text.c_str(), text.length()) == 0;
}

bool CReviewTerminal::ReadAnswer(narrow_buffer& line) {
  if (!open_) return false;
  char buffer[64];
  std::size_t count = 0;
  bool at_end = false;
  // An interrupt ends the question; another signal only resumes it.
  int error;
  while ((error = os::read_terminal_line(terminal_, buffer, sizeof buffer, count, at_end)) ==
             EINTR &&
         GetInterruptSignal() == 0) {
  }
  if (error == EINTR) {
    // What comes next (the interrupt's report) starts on a line of its own.
    Show(narrow_buffer::literal("\n"));
    return false;
  }
  if (error != 0) return false;
  line.assign(buffer, narrow_buffer::size_type(count));
  // A line ended by Ctrl+D still counts; Ctrl+D alone is the end.
  return !(at_end && count == 0);
}

REVIEW_OUTCOME CChangeReview::ReviewFile(const narrow_buffer& name, const narrow_buffer& original,
                                         const narrow_buffer& result, const ReplacementLog& log,
                                         narrow_buffer& accepted_text) {
  REVIEW_OUTCOME outcome;
  const std::vector<REVIEW_CHANGE> changes = FindChanges(original, result, log);
  if (changes.empty()) return outcome;
  const std::string_view old_text = TextView(original), new_text = TextView(result);
  std::vector<std::uint8_t> accepted(changes.size(), 0);

  narrow_buffer header;
  header.append("--- ").append(name).append("\n+++ ").append(name).push_back('\n');
  std::size_t cursor = 0, cursor_line = 1;  // line numbering moves forward only
  std::ptrdiff_t shift = 0;
  bool rest = false, rest_accepted = false;
  narrow_buffer shown, plain, answer;
  for (std::size_t c = 0; c < changes.size(); ++c) {
    const REVIEW_CHANGE& change = changes[c];
    cursor_line += std::size_t(std::count(old_text.begin() + cursor,
                                          old_text.begin() + change.old_begin, '\n'));
    cursor = change.old_begin;
    const std::size_t line = cursor_line;
    const std::ptrdiff_t this_shift = shift;
    shift += std::ptrdiff_t(CountLines(new_text, change.new_begin, change.new_end)) -
             std::ptrdiff_t(CountLines(old_text, change.old_begin, change.old_end));
    if (rest) {
      accepted[c] = rest_accepted;
      continue;
    }
    plain = header;
    header.clear();
    AppendHunk(plain, old_text, new_text, change, line, this_shift);
    shown.clear();
    if (colored_)
      AppendColoredDiff(shown, plain);
    else
      shown = plain;
    narrow_buffer question("(");
    question.append_number(c + 1, 10).push_back('/');
    question.append_number(changes.size(), 10);
    question.append(") Apply this change to ").append(name).push_back(':');
    question.append_number(line, 10);
    question.append(" [y,n,a,d,q,?]? ");
    bool asking = prompt_.Show(shown);
    Answer choice = Answer::quit;
    while (asking) {
      if (!prompt_.Show(question) || !prompt_.ReadAnswer(answer)) {
        choice = Answer::quit;
        break;
      }
      if (ReadChoice(answer, choice) && choice != Answer::help) break;
      if (!prompt_.Show(narrow_buffer::literal(kHelp))) break;
    }
    switch (choice) {
      case Answer::yes: accepted[c] = 1; break;
      case Answer::no: break;
      case Answer::all: rest = rest_accepted = true; accepted[c] = 1; break;
      case Answer::none: rest = true; break;
      case Answer::quit:
      case Answer::help: rest = true; outcome.quit = true; break;
    }
  }
  outcome.accepted = BuildAccepted(accepted_text, original, result, log, changes, accepted);
  return outcome;
}

}  // namespace Velk
