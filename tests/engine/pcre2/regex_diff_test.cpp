// The differential test of the two engines outside libFuzzer, so that it
// also runs where libFuzzer does not (the Windows build under wine): the
// seed corpus of fuzz/corpus/regex_diff, then random inputs from a fixed
// seed, each through the fuzz target's own checks (same groups, the same
// spans at every start position, the same replace-loop output).
// RPLC_DIFF_INPUTS sets the number of random inputs (default 3000).
#define RPLC_DIFF_REPORT rplc_diff_report
#include "fuzz/regex_diff_fuzz.cpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

std::string g_input;  // the input being checked, for the report

}  // namespace

void rplc_diff_report() {
  std::fprintf(stderr, "the engines differ on the input (hex):");
  for (const char c : g_input) std::fprintf(stderr, " %02x", unsigned(static_cast<unsigned char>(c)));
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
}

namespace {

void CheckInput(const std::string& input) {
  g_input = input;
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(RegexDiffTest, SeedCorpusAgrees) {
  static const char* const seeds[] = {"alpha_beta", "anchors_nnl", "colour_end", "count_from",
                                      "digits",     "empty_match", "error_warn", "high_bytes",
                                      "perl_classes", "prices"};
  for (const char* seed : seeds) {
    std::ifstream in(std::string(RPLC_SOURCE_DIR) + "/fuzz/corpus/regex_diff/" + seed,
                     std::ios::binary);
    ASSERT_TRUE(in) << seed;
    CheckInput(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
}

// Mostly token patterns over the small alphabet, which the fast path takes
// most often; every fourth input raw bytes.
TEST(RegexDiffTest, RandomInputsAgree) {
  const char* wanted = std::getenv("RPLC_DIFF_INPUTS");
  const long inputs = wanted ? std::atol(wanted) : 3000;
  std::mt19937 random(2718);
  for (long n = 0; n < inputs; ++n) {
    std::string input;
    std::uint8_t options = std::uint8_t(random() & 3);
    if (n % 4 != 3) options |= 4 | 8;
    input += char(options ? options : 4);
    const std::size_t pattern = 1 + random() % 12, text = random() % 80;
    for (std::size_t i = 0; i < pattern; ++i) input += char(1 + random() % 255);
    input += '\0';
    for (std::size_t i = 0; i < text; ++i) input += char(random() % 256);
    CheckInput(input);
  }
}

}  // namespace
