// CArgList: the command line split once into switches and file patterns.
//
// A switch starts with one of the prefix characters ("-/" for rplc), has a
// keyword compared case-insensitively (ASCII), and may carry a value after
// the first separator character (":=" for rplc). Every other argument is a
// file pattern. The argument "--" ends the switches: every later argument is
// a pattern, whatever it begins with (so absolute paths can be named).
// An argument whose keyword comes out empty ("-", "-:x") is ignored: it is
// neither a switch that can be asked for nor a pattern.
//
// Some prefix characters may also begin a file path ("/" on POSIX). An
// argument opened by one of those is a switch only when is_known accepts
// its keyword; otherwise (an empty keyword too) it is a file pattern, an
// absolute path.
//
// The list never rejects anything: the driver asks which switches it does
// not know. For every keyword the first occurrence counts.
#pragma once

#include <cstdint>
#include <vector>

#include "support/core/basic_buffer.h"

namespace Velk {

struct ARG_ITEM {
  narrow_buffer text;   // the whole argument as received
  narrow_buffer name;   // switch keyword; empty for a file pattern
  narrow_buffer value;  // switch value; empty when there is none
};

class CArgList {
 public:
  using known_switch_test = bool (*)(const narrow_buffer& keyword);

  CArgList(int argc, const char* const* argv, const narrow_buffer& prefixes,
           const narrow_buffer& separators, std::uint32_t first_index,
           const narrow_buffer& path_prefixes = narrow_buffer(),
           known_switch_test is_known = nullptr);

  // Index of the k-th item (from 0) whose keyword equals keyword ignoring
  // ASCII case; -1 when there is none or keyword is empty.
  int FindSwitch(const narrow_buffer& keyword, std::uint32_t k = 0) const;
  bool HasSwitch(const narrow_buffer& keyword) const {
    return FindSwitch(keyword, 0) != -1;
  }
  // The value of that item (sharing storage); empty when not found.
  narrow_buffer GetSwitchValue(const narrow_buffer& keyword,
                               std::uint32_t k = 0) const;

  std::uint32_t GetPatternCount() const;
  // The j-th file pattern (from 0); empty when j is out of range.
  narrow_buffer GetPattern(std::uint32_t j) const;

  std::uint32_t GetSwitchCount() const { return switch_count_; }
  // The k-th switch (from 0) in command-line order, k below GetSwitchCount.
  const ARG_ITEM& GetSwitch(std::uint32_t k) const { return items_[switches_[k]]; }

 private:
  void Parse();

  std::vector<ARG_ITEM> items_;
  narrow_buffer prefixes_;
  narrow_buffer separators_;
  narrow_buffer path_prefixes_;
  known_switch_test is_known_;
  std::vector<std::size_t> switches_;  // item indices, in order
  std::vector<std::size_t> patterns_;
  std::uint32_t switch_count_ = 0;
  std::uint32_t first_index_;
};

}  // namespace Velk
