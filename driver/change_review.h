// The "-review" dialogue: each change of one file shown as a small hunk and
// accepted or rejected at the terminal, as "git add -p" asks, and the text
// with only the accepted changes built from the original, the result and
// the replacement log (the engine is not run again).
//
// A change is one replacement, or several whose lines touch (a second
// replacement on the same line, or one that reaches into the line of the
// next), so each question shows whole lines. Replacements that leave their
// bytes as they were change nothing and are not asked about.
//
// Answers: y (apply), n (skip), a (apply this and the rest of the file),
// d (skip this and the rest of the file), q (quit: no further change is
// applied, in this file or any later one; what was accepted in this file
// is still written), ? (help). An end of input or a terminal that fails is
// a quit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"
#include "support/os/terminal.h"

namespace Velk {

// One change asked about: the log records [first, end) and the whole lines
// they touch, old [old_begin, old_end) in the original and new [new_begin,
// new_end) in the result.
struct REVIEW_CHANGE {
  std::size_t first, end;
  std::size_t old_begin, old_end;
  std::size_t new_begin, new_end;
};

// The changes of a text, in order. A text holding a NUL byte is one change
// of all its records, shown as the binary notice of the preview.
std::vector<REVIEW_CHANGE> FindChanges(const narrow_buffer& original, const narrow_buffer& result,
                                       const ReplacementLog& log);

// The original with the records of the accepted changes applied; returns
// how many records that is.
std::uint64_t BuildAccepted(narrow_buffer& out, const narrow_buffer& original,
                            const narrow_buffer& result, const ReplacementLog& log,
                            const std::vector<REVIEW_CHANGE>& changes,
                            const std::vector<std::uint8_t>& accepted);

// Where the questions go and the answers come from.
class TReviewPrompt {
 public:
  virtual ~TReviewPrompt() = default;
  // Shows text; false when it could not be shown.
  virtual bool Show(const narrow_buffer& text) = 0;
  // Reads one answer line; false at the end of input or on a failure.
  virtual bool ReadAnswer(narrow_buffer& line) = 0;
};

// The controlling terminal as a TReviewPrompt.
class CReviewTerminal : public TReviewPrompt {
 public:
  CReviewTerminal() = default;
  ~CReviewTerminal() override;
  CReviewTerminal(const CReviewTerminal&) = delete;
  CReviewTerminal& operator=(const CReviewTerminal&) = delete;

  // False, with the system's reason, when the process has no terminal.
  bool Open(narrow_buffer& reason);
  bool Show(const narrow_buffer& text) override;
  bool ReadAnswer(narrow_buffer& line) override;
  // The terminal shows color sequences (rather than printing them).
  bool ShowsColors() const { return open_ && terminal_.shows_colors; }

 private:
  os::TERMINAL terminal_;
  bool open_ = false;
};

struct REVIEW_OUTCOME {
  std::uint64_t accepted = 0;  // replacements in the accepted changes
  bool quit = false;           // the user quit: ask about no later file
};

// Asks about every change of one file and leaves in accepted_text the text
// to write (meaningful only when outcome.accepted is not 0).
class CChangeReview {
 public:
  CChangeReview(TReviewPrompt& prompt, bool colored) : prompt_(prompt), colored_(colored) {}

  REVIEW_OUTCOME ReviewFile(const narrow_buffer& name, const narrow_buffer& original,
                            const narrow_buffer& result, const ReplacementLog& log,
                            narrow_buffer& accepted_text);

 private:
  TReviewPrompt& prompt_;
  bool colored_;
};

}  // namespace Velk
