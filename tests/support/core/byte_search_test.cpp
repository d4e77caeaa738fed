// The searches must give exactly what a plain left-to-right scan gives.
#include "support/core/byte_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

// A text in a heap block of exactly its size, so that AddressSanitizer
// reports any read past its end (a std::string has room behind its bytes).
struct exact_block {
  std::unique_ptr<char[]> bytes;
  std::size_t size;
  explicit exact_block(const std::string& text)
      : bytes(new char[text.size() == 0 ? 1 : text.size()]), size(text.size()) {
    std::memcpy(bytes.get(), text.data(), text.size());
  }
};

// The block filters look at 16 or 32 candidates at a time, two blocks at
// once while they fit: every alignment of the match (and of the text),
// matches that end exactly at the text's end, and texts shorter than a
// block, with the needle's bytes scattered as decoys.
TEST(ByteSearchTest, AgreesWithAPlainScanAtEveryAlignmentAndEnd) {
  std::mt19937 random(7);
  const std::string needles[] = {"a", "Q", "ab", "session", "ledger shard 7", "xXx",
                                 "\xE9t\xC9", "aaaa", std::string(40, 'z') + "Z"};
  const std::string fill = "abcdefgh ssn\n";
  for (const std::string& needle : needles) {
    for (std::size_t len = 0; len < 140; ++len) {
      for (int round = 0; round < 12; ++round) {
        std::string text;
        for (std::size_t i = 0; i < len; ++i)
          text.push_back(random() % 3 ? fill[random() % fill.size()]
                                      : needle[random() % needle.size()]);
        // Plant the needle (or, every third round, leave none) at a random
        // place, the text's end included.
        if (round % 3 && needle.size() <= len) {
          const std::size_t at = round % 3 == 2 ? len - needle.size()
                                                : random() % (len - needle.size() + 1);
          for (std::size_t i = 0; i < needle.size(); ++i)
            text[at + i] = random() % 2 ? char(ascii::to_upper(needle[i])) : needle[i];
        }
        for (bool folded : {false, true}) {
          for (std::size_t skip = 0; skip < std::min<std::size_t>(len + 1, 3); ++skip) {
            const exact_block block(text);
            const byte_finder finder(needle.data(), needle.size(), folded);
            const char* got = finder.find(block.bytes.get() + skip, len - skip);
            const std::string rest = text.substr(skip);
            const char* plain = naive(rest, needle, folded);
            ASSERT_EQ(got ? got - (block.bytes.get() + skip) : -1,
                      plain ? plain - rest.data() : -1)
                << "text=" << text << " skip=" << skip << " needle=" << needle
                << " folded=" << folded;
          }
        }
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

TEST(ByteSearchTest, TwoWayAgreesWithAPlainScan) {
  std::mt19937 random(11);
  const std::string alphabets[] = {"a", "ab", "aAbB", "abc\xE9\xC9"};
  for (const std::string& alphabet : alphabets) {
    for (int round = 0; round < 3000; ++round) {
      std::string hay, needle;
      for (int i = int(random() % 200); i > 0; --i) hay.push_back(alphabet[random() % alphabet.size()]);
      // Needles built from a repeated unit are the periodic case.
      std::string unit;
      for (int i = 1 + int(random() % 4); i > 0; --i) unit.push_back(alphabet[random() % alphabet.size()]);
      for (int i = int(random() % 5); i >= 0; --i) needle += unit;
      if (random() % 2) needle.push_back(alphabet[random() % alphabet.size()]);
      for (bool folded : {false, true}) {
        ASSERT_EQ(two_way_find(hay.data(), hay.size(), needle.data(), needle.size(), folded),
                  naive(hay, needle, folded))
            << "hay=" << hay << " needle=" << needle << " folded=" << folded;
      }
    }
  }
}

// Texts that make a candidate scan compare nearly the whole needle at every
// candidate. Each search must stay within a few comparisons per text byte,
// whether the needle is absent or sits at the very end.
TEST(ByteSearchTest, PeriodicNeedlesCostLinearWork) {
  std::string unit20 = "abcdefghijklmnopqrst";
  std::string mixed_x;
  for (int i = 0; i < 400000; ++i) mixed_x.push_back(i % 3 ? 'x' : 'X');
  struct Case {
    const char* name;
    std::string hay, needle;
  };
  std::vector<Case> cases = {
      {"x...xy over x", std::string(400000, 'x'), std::string(2000, 'x') + "y"},
      {"x...xy over mixed-case x", mixed_x, std::string(2000, 'x') + "y"},
      {"period 20", "", ""},
      {"ab...abc over ab", "", ""},
  };
  for (int i = 0; i < 20000; ++i) cases[2].hay += unit20;
  for (int i = 0; i < 100; ++i) cases[2].needle += unit20;
  cases[2].needle += "b";
  for (int i = 0; i < 200000; ++i) cases[3].hay += "ab";
  for (int i = 0; i < 500; ++i) cases[3].needle += "ab";
  cases[3].needle += "c";

  for (const Case& c : cases) {
    for (bool present : {false, true}) {
      const std::string hay = present ? c.hay + c.needle : c.hay;
      const char* want = present ? hay.data() + c.hay.size() : nullptr;
      for (bool folded : {false, true}) {
        if (!folded && c.hay == mixed_x) continue;  // no exact occurrence to test
        search_work work;
        const char* got = folded
            ? find_bytes_folded(hay.data(), hay.size(), c.needle.data(), c.needle.size(), &work)
            : find_bytes(hay.data(), hay.size(), c.needle.data(), c.needle.size(), &work);
        EXPECT_EQ(got, want) << c.name << " present=" << present << " folded=" << folded;
        EXPECT_LE(work.compared, 4 * hay.size() + 2 * c.needle.size())
            << c.name << " present=" << present << " folded=" << folded;
      }
    }
  }
}

// Ordinary text must stay on the fast candidate scan.
TEST(ByteSearchTest, OrdinaryTextDoesNotNeedTheFallback) {
  std::string log;
  for (int i = 0; i < 2000; ++i)
    log += "2026-12-08T10:00:00.123Z web-" + std::to_string(i % 7) +
           " api[1234]: INFO user=erin opened session 4f2a from 10.0.0." + std::to_string(i % 250) + "\n";
  for (const char* needle : {"session", "Session", "connection", "erin opened", "e"}) {
    for (bool folded : {false, true}) {
      search_work work;
      const std::size_t count = std::strlen(needle);
      const char* got = folded ? find_bytes_folded(log.data(), log.size(), needle, count, &work)
                               : find_bytes(log.data(), log.size(), needle, count, &work);
      EXPECT_EQ(got, naive(log, needle, folded)) << needle << " folded=" << folded;
      EXPECT_FALSE(work.two_way) << needle << " folded=" << folded;
    }
  }
}

// Replaces every occurrence the way the replace loops do with
// copy_replacing: a room of at most `room` bytes at a time, in an output
// block of exactly that size (so that AddressSanitizer sees a write past
// it), and find for what the copy hands back.
struct copy_outcome {
  std::string text;
  std::size_t count = 0;
  bool handed_back = false;
};
copy_outcome replace_by_copy(const byte_finder& finder, std::size_t needle_length,
                             const std::string& hay, const std::string& with, std::size_t room) {
  copy_outcome got;
  std::size_t read = 0;
  for (;;) {
    std::unique_ptr<char[]> out(new char[room == 0 ? 1 : room]);
    const byte_finder::copy_done done = finder.copy_replacing(
        hay.data() + read, hay.size() - read, {out.get(), room, with.data(), with.size()});
    EXPECT_LE(done.written, room);
    got.text.append(out.get(), done.written);
    read += done.read;
    got.count += done.count;
    if (done.why == byte_finder::copy_done::no_more) break;
    if (done.why == byte_finder::copy_done::handed_back) {
      got.handed_back = true;
      while (const char* match = finder.find(hay.data() + read, hay.size() - read)) {
        got.text.append(hay, read, std::size_t(match - hay.data()) - read).append(with);
        read = std::size_t(match - hay.data()) + needle_length;
        ++got.count;
      }
      break;
    }
    room = room * 2 + 1;  // no room for the next occurrence
  }
  got.text.append(hay, read, std::string::npos);
  return got;
}

copy_outcome replace_plainly(const std::string& hay, const std::string& needle,
                             const std::string& with, bool folded) {
  const auto same = [&](char a, char b) {
    return folded ? ascii::to_lower(a) == ascii::to_lower(b) : a == b;
  };
  copy_outcome want;
  std::size_t i = 0;
  while (i < hay.size()) {
    std::size_t k = 0;
    while (k < needle.size() && i + k < hay.size() && same(hay[i + k], needle[k])) ++k;
    if (k == needle.size()) {
      want.text += with;
      i += needle.size();
      ++want.count;
    } else {
      want.text.push_back(hay[i++]);
    }
  }
  return want;
}

// The one-scan copy gives exactly the text and count of replacing match by
// match: dense and self-overlapping needles, replacements shorter and
// longer than the needle, rooms too small for one gap, and texts on either
// side of a block's width.
TEST(ByteSearchTest, CopyReplacingAgreesWithReplacingMatchByMatch) {
  std::mt19937 random(13);
  const std::string alphabets[] = {"ab", "aAbB", "sesion \n", "xyz\n\xE9"};
  const std::string withs[] = {"", "Z", "connection", std::string(300, 'w')};
  for (const std::string& alphabet : alphabets) {
    for (int round = 0; round < 1500; ++round) {
      std::string hay, needle;
      for (int i = int(random() % 200); i > 0; --i) hay.push_back(alphabet[random() % alphabet.size()]);
      for (int i = 1 + int(random() % 5); i > 0; --i)
        needle.push_back(alphabet[random() % alphabet.size()]);
      const std::string& with = withs[random() % 4];
      const std::size_t room = random() % 2 ? hay.size() * (with.size() + 1) + 1 : random() % 40;
      for (bool folded : {false, true}) {
        const byte_finder finder(needle.data(), needle.size(), folded);
        const copy_outcome got = replace_by_copy(finder, needle.size(), hay, with, room);
        const copy_outcome want = replace_plainly(hay, needle, with, folded);
        ASSERT_EQ(got.text, want.text) << "hay=" << hay << " needle=" << needle << " folded=" << folded;
        ASSERT_EQ(got.count, want.count) << "hay=" << hay << " needle=" << needle;
      }
    }
  }
}

// Texts of several megabytes: candidates are gathered in batches of a
// bounded span, dense or sparse as the batch before, so matches sit at
// batch edges, in runs, and far apart.
TEST(ByteSearchTest, CopyReplacingLongTextsAgreesWithReplacingMatchByMatch) {
  std::mt19937 random(17);
  const std::string needle = "session";
  for (int round = 0; round < 4; ++round) {
    std::string hay(std::size_t(3) << 20, ' ');
    for (char& c : hay) c = "abcdefghijklmnopqrstuvwxyz ssn\n"[random() % 31];
    // Dense stretches, then single matches around each mebibyte.
    for (std::size_t at = 5000; at < 300000; at += 40 + random() % 200) hay.replace(at, 7, needle);
    for (std::size_t mib = 1; mib < 3; ++mib)
      for (std::ptrdiff_t d : {-9, -7, -3, 0, 5, 64}) hay.replace((mib << 20) + d + round, 7, needle);
    for (bool folded : {false, true}) {
      const byte_finder finder(needle.data(), needle.size(), folded);
      const copy_outcome got = replace_by_copy(finder, needle.size(), hay, "connection", hay.size() * 2);
      const copy_outcome want = replace_plainly(hay, needle, "connection", folded);
      ASSERT_EQ(got.count, want.count) << "round " << round << " folded=" << folded;
      ASSERT_TRUE(got.text == want.text) << "round " << round << " folded=" << folded;
    }
  }
}

// Where candidates cost more than a linear scan allows, the copy stops and
// leaves the rest to find, whose two-way fallback keeps the work linear.
TEST(ByteSearchTest, CopyReplacingHandsCostlyTextsBackToFind) {
  // Both filter bytes pass once in every period of the text, and each
  // candidate compares most of the needle.
  std::string unit, periods;
  for (char c = 'a'; c <= 't'; ++c) unit.push_back(c);
  for (int i = 0; i < 2000; ++i) periods += unit;
  const std::string needle = unit + unit + unit + unit + unit + "b";
  const std::string hay = "b" + needle + periods + needle;
  const byte_finder finder(needle.data(), needle.size(), false);
  const copy_outcome got = replace_by_copy(finder, needle.size(), hay, "<>", hay.size());
  EXPECT_TRUE(got.handed_back);
  EXPECT_EQ(got.count, 2u);
  EXPECT_EQ(got.text, "b<>" + periods + "<>");
}

}  // namespace
}  // namespace Velk
