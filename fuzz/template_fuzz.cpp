// Fuzzes the replacement template against a subject and a span list drawn
// from the input: "template\0subject\0spans", where each 2 bytes of spans
// give one entry's start and length (clamped into the subject).
#include <cstdint>

#include "engine/expand_template.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto pieces = rplc_fuzz::SplitInput(data, size, 3);
  const Velk::narrow_buffer templ(pieces[0].data(), std::uint32_t(pieces[0].size()));
  const Velk::narrow_buffer subject(pieces[1].data(), std::uint32_t(pieces[1].size()));
  Velk::SpanList spans;
  const std::string& raw = pieces[2];
  for (std::size_t i = 0; i + 1 < raw.size() && spans.size() < 10; i += 2) {
    const std::uint32_t n = subject.length();
    const std::uint32_t start = n ? static_cast<unsigned char>(raw[i]) % (n + 1) : 0;
    const std::uint32_t length = static_cast<unsigned char>(raw[i + 1]) % (n - start + 1);
    spans.push_back({start, length});
  }
  if (spans.empty()) spans.push_back({0, subject.length()});

  const Velk::narrow_buffer expanded = Velk::expand_template(templ, subject, spans);
  Velk::narrow_buffer into("left over");
  Velk::expand_template_into(into, templ, subject.c_str(), spans);
  if (into != expanded) __builtin_trap();
  const std::uint32_t need = Velk::template_span_need(templ);
  if (need < 1 || need > 10) __builtin_trap();
  return 0;
}
