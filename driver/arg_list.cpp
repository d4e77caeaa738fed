#include "driver/arg_list.h"

#include "support/text/text_conv_pass.h"

namespace Velk {

CArgList::CArgList(int argc, const char* const* argv,
                   const narrow_buffer& prefixes,
                   const narrow_buffer& separators, std::uint32_t first_index,
                   const narrow_buffer& path_prefixes, known_switch_test is_known)
    : prefixes_(prefixes),
      separators_(separators),
      path_prefixes_(path_prefixes),
      is_known_(is_known),
      first_index_(first_index) {
  const std::size_t count = argc > 0 ? std::size_t(argc) : 0;
  items_.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    items_[i].text = PassArgumentText(narrow_buffer(argv[i]));
  Parse();
}

void CArgList::Parse() {
  switch_count_ = 0;
  switches_.clear();
  patterns_.clear();
  bool switches_ended = false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    ARG_ITEM& item = items_[i];
    item.name.clear();
    item.value.clear();
    if (i < first_index_) continue;
    const narrow_buffer& text = item.text;
    if (!switches_ended && text == narrow_buffer::literal("--")) {
      switches_ended = true;
      continue;
    }
    if (switches_ended || !text.starts_with_any(prefixes_)) {
      patterns_.push_back(i);
      continue;
    }
    const narrow_buffer rest = text.substr(1);
    const auto separator = rest.find_first_of(separators_);
    item.name = rest.substr(0, separator);
    if (separator != narrow_buffer::npos && separator + 1 < rest.length())
      item.value = rest.substr(separator + 1);
    if (text.starts_with_any(path_prefixes_) && !(is_known_ && is_known_(item.name))) {
      item.name.clear();
      item.value.clear();
      patterns_.push_back(i);
      continue;
    }
    if (item.name.empty()) {
      item.value.clear();
      continue;
    }
    switches_.push_back(i);
    ++switch_count_;
  }
}

int CArgList::FindSwitch(const narrow_buffer& keyword, std::uint32_t k) const {
  if (keyword.empty()) return -1;
  for (std::size_t i : switches_) {
    if (!items_[i].name.iequals(keyword)) continue;
    if (k == 0) return int(i);
    --k;
  }
  return -1;
}

narrow_buffer CArgList::GetSwitchValue(const narrow_buffer& keyword,
                                       std::uint32_t k) const {
  const int index = FindSwitch(keyword, k);
  return index < 0 ? narrow_buffer() : items_[std::size_t(index)].value;
}

std::uint32_t CArgList::GetPatternCount() const { return std::uint32_t(patterns_.size()); }

narrow_buffer CArgList::GetPattern(std::uint32_t j) const {
  return j < patterns_.size() ? items_[patterns_[j]].text : narrow_buffer();
}

}  // namespace Velk
