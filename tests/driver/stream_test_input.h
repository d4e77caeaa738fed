// Inputs for the tests of streamed runs: a text handed out in short reads,
// and run settings for a find.
#pragma once

#include <algorithm>
#include <atomic>
#include <string>

#include "driver/run_settings.h"
#include "driver/stream_pump.h"
#include "engine/compile_matcher.h"

namespace Velk::test {

// Hands out the text in reads of at most max_read bytes, as a pipe may;
// read ahead on the pump's reader thread, or by two threads in turn, when
// asked to.
class CTextSource : public TByteSource {
 public:
  CTextSource(const std::string& text, std::size_t max_read, bool ahead = false,
              bool in_turns = false)
      : text_(text), max_read_(max_read), ahead_(ahead || in_turns), in_turns_(in_turns) {}
  std::size_t Read(char* dest, std::size_t room) override {
    const std::size_t at = at_;
    const std::size_t n = std::min({room, max_read_, text_.size() - at});
    text_.copy(dest, n, at);
    at_ = at + n;
    return n;
  }
  bool ReadsAhead() const override { return ahead_; }
  bool ReadsInTurns() const override { return in_turns_; }
  std::size_t read() const { return at_; }

 private:
  const std::string& text_;
  std::size_t max_read_;
  bool ahead_;
  bool in_turns_;
  std::atomic<std::size_t> at_{0};  // read() may be asked on another thread
};

inline RUN_SETTINGS Settings(FindMethod method, const std::string& find, const std::string& with,
                             bool ignore_case = false) {
  RUN_SETTINGS settings;
  settings.method = method;
  settings.find_text = narrow_buffer(find.data(), std::uint32_t(find.size()));
  settings.replacement = narrow_buffer(with.data(), std::uint32_t(with.size()));
  settings.ignore_case = ignore_case;
  return settings;
}

inline Matcher Compile(const RUN_SETTINGS& settings) {
  if (settings.method != FindMethod::Regex) return Matcher();
  return compile_matcher(settings.find_text, {.ignore_case = settings.ignore_case});
}

}  // namespace Velk::test
