// The searches must give exactly what a plain left-to-right scan gives.
#include "support/core/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/core/ascii.h"

namespace Velk {
namespace {

const char* naive(const std::string& hay, const std::string& needle, bool folded) {
  for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    std::size_t k = 0;
    while (k < needle.size() &&
           (folded ? ascii::to_lower(hay[i + k]) == ascii::to_lower(needle[k])
                   : hay[i + k] == needle[k]))
      ++k;
    if (k == needle.size()) return hay.data() + i;
  }
  return nullptr;
}

TEST(ByteSearchTest, AgreesWithAPlainScanOnRandomTexts) {
  std::mt19937 random(5);
  // Small alphabets make candidates dense, which exercises the fallbacks.
  const std::string alphabets[] = {"ab", "aAbB", "sSeE\xE9\xC9 ", "xyz\n"};
  for (const std::string& alphabet : alphabets) {
    for (int round = 0; round < 2000; ++round) {
      std::string hay, needle;
      for (int i = int(random() % 300); i > 0; --i) hay.push_back(alphabet[random() % alphabet.size()]);
      for (int i = 1 + int(random() % 6); i > 0; --i)
        needle.push_back(alphabet[random() % alphabet.size()]);
      for (bool folded : {false, true}) {
        const char* want = naive(hay, needle, folded);
        const char* got = folded ? find_bytes_folded(hay.data(), hay.size(), needle.data(), needle.size())
                                 : find_bytes(hay.data(), hay.size(), needle.data(), needle.size());
        ASSERT_EQ(got, want) << "hay=" << hay << " needle=" << needle << " folded=" << folded;
      }
    }
  }
}

TEST(ByteSearchTest, DenseFalseCandidatesStayCorrect) {
  const std::string hay = std::string(100000, 'a') + "b";
  const std::string needle = std::string(50, 'a') + "b";
  EXPECT_EQ(find_bytes(hay.data(), hay.size(), needle.data(), needle.size()),
            hay.data() + hay.size() - needle.size());
  EXPECT_EQ(find_bytes_folded(hay.data(), hay.size(), "AB", 2), hay.data() + hay.size() - 2);
}

TEST(ByteSearchTest, FoldingCoversAsciiLettersOnly) {
  const std::string hay = "x\xC9y SeSsIoN";
  EXPECT_EQ(find_bytes_folded(hay.data(), hay.size(), "\xE9", 1), nullptr);
  EXPECT_EQ(find_bytes_folded(hay.data(), hay.size(), "\xC9", 1), hay.data() + 1);
  EXPECT_EQ(find_bytes_folded(hay.data(), hay.size(), "session", 7), hay.data() + 4);
  EXPECT_EQ(find_bytes(hay.data(), hay.size(), "session", 7), nullptr);
}

}  // namespace
}  // namespace Velk
