#include "driver/arg_list.h"

#include "support/text/text_conv_pass.h"

namespace Velk {

CArgList::CArgList(int argc, const char* const* argv,
                   const narrow_buffer& prefixes,
                   const narrow_buffer& separators, std::uint32_t first_index)
    : prefixes_(prefixes), separators_(separators), first_index_(first_index) {
  const std::size_t count = argc > 0 ? std::size_t(argc) : 0;
  items_.resize(count);
  kinds_.resize(count, kind::program);
  for (std::size_t i = 0; i < count; ++i)
    items_[i].text = PassArgumentText(narrow_buffer(argv[i]));
  Parse();
}

void CArgList::Parse() {
  switch_count_ = 0;
  bool switches_ended = false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    ARG_ITEM& item = items_[i];
    item.name.clear();
    item.value.clear();
    if (i < first_index_) {
      kinds_[i] = kind::program;
      continue;
    }
    const narrow_buffer& text = item.text;
    if (!switches_ended && text == narrow_buffer::literal("--")) {
      switches_ended = true;
      kinds_[i] = kind::ignored;
      continue;
    }
    if (switches_ended || !text.starts_with_any(prefixes_)) {
      kinds_[i] = kind::pattern;
      continue;
    }
    const narrow_buffer rest = text.substr(1);
    const auto separator = rest.find_first_of(separators_);
    item.name = rest.substr(0, separator);
    if (separator != narrow_buffer::npos && separator + 1 < rest.length())
      item.value = rest.substr(separator + 1);
    if (item.name.empty()) {
      kinds_[i] = kind::ignored;
      item.value.clear();
      continue;
    }
    kinds_[i] = kind::switch_arg;
    ++switch_count_;
  }
}

int CArgList::FindSwitch(const narrow_buffer& keyword, std::uint32_t k) const {
  if (keyword.empty()) return -1;
  for (std::size_t i = first_index_; i < items_.size(); ++i) {
    if (kinds_[i] != kind::switch_arg || !items_[i].name.iequals(keyword))
      continue;
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

std::uint32_t CArgList::GetPatternCount() const {
  std::uint32_t count = 0;
  for (kind each : kinds_)
    if (each == kind::pattern) ++count;
  return count;
}

narrow_buffer CArgList::GetPattern(std::uint32_t j) const {
  for (std::size_t i = first_index_; i < items_.size(); ++i) {
    if (kinds_[i] != kind::pattern) continue;
    if (j == 0) return items_[i].text;
    --j;
  }
  return narrow_buffer();
}

}  // namespace Velk
