#include "engine/expand_template.h"

#include <cstring>

namespace Velk {

void expand_template_into(narrow_buffer& output, const narrow_buffer& templ,
                          const char* subject, const SpanList& spans) {
  output.clear();
  const char* text = templ.c_str();
  const std::uint32_t length = templ.length();
  std::uint32_t pos = 0;
  while (pos < length) {
    const void* hit = std::memchr(text + pos, '\\', length - pos);
    const std::uint32_t slash =
        hit ? std::uint32_t(static_cast<const char*>(hit) - text) : length;
    output.append(text + pos, slash - pos);
    if (slash + 1 >= length) break;  // no backslash left, or a trailing one: dropped
    const char ch = text[slash + 1];
    if (ch >= '0' && ch <= '9') {
      const std::uint32_t k = std::uint32_t(ch - '0');
      if (k < spans.size() && spans[k].length)
        output.append(subject + spans[k].start, spans[k].length);
    } else {
      output.push_back(ch);
    }
    pos = slash + 2;
  }
}

narrow_buffer expand_template(const narrow_buffer& templ, const narrow_buffer& subject,
                              const SpanList& spans) {
  narrow_buffer output;
  expand_template_into(output, templ, subject.c_str(), spans);
  return output;
}

std::uint32_t template_span_need(const narrow_buffer& templ) {
  std::uint32_t need = 1;
  const char* text = templ.c_str();
  for (std::uint32_t pos = 0; pos + 1 < templ.length(); ++pos) {
    if (text[pos] != '\\') continue;
    const char ch = text[++pos];
    if (ch >= '0' && ch <= '9' && std::uint32_t(ch - '0') + 1 > need)
      need = std::uint32_t(ch - '0') + 1;
  }
  return need;
}

}  // namespace Velk
