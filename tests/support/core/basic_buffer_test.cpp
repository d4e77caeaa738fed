#include "support/core/basic_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

TEST(BasicBufferTest, DefaultIsEmptyWithNonNullCString) {
  narrow_buffer b;
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.capacity(), 0u);
  EXPECT_EQ(b.data(), nullptr);
  ASSERT_NE(b.c_str(), nullptr);
  EXPECT_EQ(b.c_str()[0], '\0');
}

TEST(BasicBufferTest, GrowthPolicyWorkedValues) {
  narrow_buffer b;
  b.reserve_grow(10);
  EXPECT_EQ(b.capacity(), 31u);
  b.reserve_grow(40);
  EXPECT_EQ(b.capacity(), 63u);

  narrow_buffer c;
  c.reserve_exact(100);
  ASSERT_EQ(c.capacity(), 100u);
  c.reserve_grow(101);
  EXPECT_EQ(c.capacity(), 150u);

  wide_buffer w;
  w.reserve_exact(100);
  w.reserve_grow(101);
  EXPECT_EQ(w.capacity(), 150u);
}

TEST(BasicBufferTest, SharedBlockIsCopiedWithMaskAndNoGrowthFactor) {
  narrow_buffer a("hello");
  narrow_buffer b = a;
  EXPECT_EQ(a.share_count(), 2u);
  b.reserve_grow(3);  // shared: max(3, length 5) | 31
  EXPECT_EQ(b.capacity(), 31u);
  EXPECT_EQ(a.share_count(), 1u);
  EXPECT_EQ(b.share_count(), 1u);
}

TEST(BasicBufferTest, SelfAppendDoublesWhetherOrNotTheBlockMoves) {
  for (std::uint32_t spare : {0u, 100u}) {
    narrow_buffer b;
    b.reserve_exact(7 + spare);
    b.append("abcdef");
    const char* before = b.data();
    b.append(b.data(), b.length());
    EXPECT_EQ(str(b), "abcdefabcdef") << "spare " << spare;
    if (spare) {
      EXPECT_EQ(b.data(), before);
    }
  }
  narrow_buffer c("xyz");
  c.append(c.data() + 1, 2);
  EXPECT_EQ(str(c), "xyzyz");
}

// Each case: text, pos, count, source range within the same text.
TEST(BasicBufferTest, ReplaceWithOwnContentsInAllOverlapCases) {
  struct Case { std::uint32_t pos, count, opos, ocount; };
  const Case cases[] = {
      {2, 4, 3, 2},   // ocount <= count
      {6, 2, 0, 4},   // source entirely before the hole
      {2, 3, 1, 6},   // source overlapping the hole
      {1, 2, 5, 4},   // source entirely after the hole
  };
  for (const Case& c : cases) {
    narrow_buffer b("0123456789");
    std::string expected = "0123456789";
    const std::string source = expected.substr(c.opos, c.ocount);
    expected.replace(c.pos, c.count, source);
    b.replace(c.pos, c.count, b, c.opos, c.ocount);
    EXPECT_EQ(str(b), expected) << c.pos << "," << c.count << "," << c.opos;
    EXPECT_EQ(b.c_str()[b.length()], '\0');
  }
}

TEST(BasicBufferTest, CopyOnWriteKeepsSourceAndShareState) {
  narrow_buffer a("shared");
  narrow_buffer b = a;
  EXPECT_EQ(a.data(), b.data());
  b.append("!");
  EXPECT_EQ(str(a), "shared");
  EXPECT_EQ(str(b), "shared!");
  EXPECT_EQ(a.share_count(), 1u);
  EXPECT_EQ(b.share_count(), 1u);
  narrow_buffer c = b;
  c.to_upper();
  EXPECT_EQ(str(b), "shared!");
  EXPECT_EQ(str(c), "SHARED!");
}

TEST(BasicBufferTest, LiteralViewsSurviveCopiesAndOwnMakesACopy) {
  static const char text[] = "view";
  narrow_buffer v = narrow_buffer::literal(text);
  narrow_buffer copy = v;
  EXPECT_TRUE(copy.is_view());
  EXPECT_EQ(copy.data(), text);
  EXPECT_EQ(copy.capacity(), narrow_buffer::max_size);
  copy.own();
  EXPECT_FALSE(copy.is_view());
  EXPECT_NE(copy.data(), text);
  EXPECT_EQ(copy.capacity(), 5u);
  EXPECT_EQ(str(copy), "view");
  narrow_buffer sub = copy.subview(1, 2);
  EXPECT_TRUE(sub.is_view());
  EXPECT_EQ(str(sub), "ie");
}

TEST(BasicBufferTest, WritesNeverGoThroughAView) {
  static const char text[] = "literal";
  for (int op = 0; op < 5; ++op) {
    narrow_buffer v = narrow_buffer::literal(text);
    switch (op) {
      case 0: v.append("/"); break;
      case 1: v.push_back('/'); break;
      case 2: v.to_upper(); break;
      case 3: v.erase(0, 1); break;
      case 4: v.replace(0, 1, "L", 1); break;
    }
    EXPECT_STREQ(text, "literal") << "operation " << op;
    EXPECT_FALSE(v.is_view()) << "operation " << op;
  }
  narrow_buffer whole("0123456789");
  narrow_buffer slice = whole.subview(2, 3);
  slice.append("x");
  EXPECT_EQ(str(whole), "0123456789");
  EXPECT_EQ(str(slice), "234x");
}

TEST(BasicBufferTest, AssignAndClearNeverWriteIntoAView) {
  narrow_buffer v = narrow_buffer::literal("constant");
  v.assign("other", 5);
  EXPECT_EQ(str(v), "other");
  narrow_buffer w = narrow_buffer::literal("constant");
  w.clear();
  EXPECT_EQ(w.length(), 0u);
}

TEST(BasicBufferTest, AppendNumber) {
  struct Case { std::uint64_t value; unsigned base; const char* text; };
  const Case cases[] = {{0, 16, "0"}, {255, 16, "FF"}, {7, 1, "0"},
                        {7, 37, "0"}, {4294967295u, 10, "4294967295"},
                        {4294967296ull, 10, "4294967296"},
                        {18446744073709551615ull, 10, "18446744073709551615"},
                        {35, 36, "Z"}, {5, 2, "101"}};
  for (const Case& c : cases) {
    narrow_buffer b("x");
    b.append_number(c.value, c.base);
    EXPECT_EQ(str(b), std::string("x") + c.text) << c.value << " base " << c.base;
  }
  narrow_buffer big("junk");
  big.assign_number(0x123456789ABCull, 16);
  EXPECT_EQ(str(big), "123456789ABC");
}

TEST(BasicBufferTest, ICompare) {
  EXPECT_EQ(narrow_buffer("abc").icompare(narrow_buffer("ABCD")), -1);
  EXPECT_EQ(narrow_buffer("ABC").icompare(narrow_buffer("abc")), 0);
  EXPECT_EQ(narrow_buffer("b").icompare(narrow_buffer("A")), 1);
  // Bytes above 0x7F have no case partner and compare unsigned.
  EXPECT_EQ(narrow_buffer("\xC9").icompare(narrow_buffer("\xE9")), -1);
}

TEST(BasicBufferTest, FindEdges) {
  narrow_buffer b("abcabc");
  EXPECT_EQ(b.find("", 6, 0), 6u);
  EXPECT_EQ(b.find("", 7, 0), narrow_buffer::npos);
  EXPECT_EQ(b.find("bc", 0, 2), 1u);
  EXPECT_EQ(b.find("bc", 2, 2), 4u);
  EXPECT_EQ(b.find("bc", 5, 2), narrow_buffer::npos);
  EXPECT_EQ(b.find("abcabcd", 0, 7), narrow_buffer::npos);
  EXPECT_EQ(b.rfind("bc", narrow_buffer::npos, 2), 4u);
  EXPECT_EQ(b.rfind("", 3, 0), 3u);
  EXPECT_EQ(b.find_first_of("cx", 0, 2), 2u);
  EXPECT_EQ(b.find_last_of("a", narrow_buffer::npos, 1), 3u);
  EXPECT_EQ(b.find_first_of("", 0, 0), narrow_buffer::npos);
}

TEST(BasicBufferTest, IFindFoldsAsciiOnly) {
  narrow_buffer b("xxAbaBab\xC9");
  EXPECT_EQ(b.ifind(narrow_buffer("ab")), 2u);
  EXPECT_EQ(b.ifind(narrow_buffer("ab"), 3), 4u);
  EXPECT_EQ(b.ifind(narrow_buffer("AB"), 5), 6u);
  EXPECT_EQ(b.ifind(narrow_buffer("\xE9")), narrow_buffer::npos);
  EXPECT_EQ(b.ifind(narrow_buffer("\xC9")), 8u);
  EXPECT_EQ(b.ifind(narrow_buffer(""), 4), 4u);
  EXPECT_EQ(b.ifind(narrow_buffer("ab"), 9), narrow_buffer::npos);
}

TEST(BasicBufferTest, CaseConversionIsAsciiOnly) {
  narrow_buffer b("aZ\xE9\xC9-1");
  b.to_upper();
  EXPECT_EQ(str(b), "AZ\xE9\xC9-1");
  b.to_lower();
  EXPECT_EQ(str(b), "az\xE9\xC9-1");
}

TEST(BasicBufferTest, EraseAndAssignSubstrings) {
  narrow_buffer b("0123456789");
  b.erase(2, 3);
  EXPECT_EQ(str(b), "0156789");
  b.erase(5);
  EXPECT_EQ(str(b), "01567");
  b.assign(b, 1, 3);
  EXPECT_EQ(str(b), "156");
  narrow_buffer c("hello world");
  c.assign(c.data() + 6, 5);
  EXPECT_EQ(str(c), "world");
}

TEST(BasicBufferTest, FormatIsBoundedByMaxlen) {
  narrow_buffer b("n=");
  b.append_format(16, "%d", 42);
  EXPECT_EQ(str(b), "n=42");
  narrow_buffer c;
  c.assign_format(4, "%s", "abcdefgh");
  EXPECT_EQ(str(c), "abc");
}

TEST(BasicBufferTest, ByteBufferWritesNoTerminatorAndSharesPrefixes) {
  byte_buffer a;
  const unsigned char raw[] = {1, 2, 3, 4};
  a.assign(raw, 4);
  EXPECT_EQ(a.capacity(), 4u);
  byte_buffer b;
  b.assign(a, 0, 2);
  EXPECT_EQ(b.length(), 2u);
  EXPECT_EQ(b.data(), a.data());
  a.erase(2);
  EXPECT_EQ(a.length(), 2u);
}

TEST(BasicBufferTest, ConcatenationAndNarrowing) {
  narrow_buffer path = narrow_buffer("dir") + "/" + narrow_buffer("file");
  EXPECT_EQ(str(path), "dir/file");
  wide_buffer w(u"A\u0142z");
  narrow_buffer n;
  assign_narrowed(n, w);
  EXPECT_EQ(str(n), "A\x42z");
}

TEST(BasicBufferTest, OversizedRequestsThrowAndLeaveTheBufferUnchanged) {
  narrow_buffer b("keep");
  try {
    b.reserve_grow(std::size_t(narrow_buffer::max_size) + 1);
    FAIL() << "no exception";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "basic_buffer::__realloc - failed reallocating memory");
  }
  EXPECT_EQ(str(b), "keep");
}

// --- sources inside the buffer itself ---------------------------------------

// Counts the blocks the buffer frees, so that a test sees a block released
// too early (while the buffer still reads it) or more than once.
struct counted_free {
  static inline int released = 0;
  template <class T>
  void operator()(T* block) const noexcept {
    ++released;
    std::free(block);
  }
};
using counted_buffer = basic_buffer<char, counted_free>;

std::string str(const counted_buffer& b) { return std::string(b.c_str(), b.length()); }

// Each operation gives the buffer a source that lies in the buffer itself.
// Alone, the buffer must keep its block (nothing freed while it lives but a
// scratch copy the operation makes for itself, one release at the end); with
// a second holder of the block, that holder must keep its text, and both
// blocks are freed exactly once in the end.
TEST(BasicBufferTest, SelfSourcesInEveryAssigningAndAppendingOperation) {
  struct Case {
    const char* name;
    void (*apply)(counted_buffer&);
    const char* expected;
    int scratch = 0;
  };
  const Case cases[] = {
      {"self copy-assignment", [](counted_buffer& a) { const counted_buffer& same = a; a = same; },
       "hello world"},
      {"self move-assignment", [](counted_buffer& a) { counted_buffer& same = a; a = std::move(same); },
       "hello world"},
      {"a = a.subview(6)", [](counted_buffer& a) { a = a.subview(6); }, "world"},
      {"a = named view", [](counted_buffer& a) { counted_buffer v = a.subview(2, 3); a = v; }, "llo"},
      {"a = empty view at the end", [](counted_buffer& a) { a = a.subview(11); }, ""},
      {"assign(a.subview(6))", [](counted_buffer& a) { a.assign(a.subview(6)); }, "world"},
      {"assign(view, pos, count)", [](counted_buffer& a) { a.assign(a.subview(2), 4, 3); }, "wor"},
      {"assign(a, pos, count)", [](counted_buffer& a) { a.assign(a, 6, 3); }, "wor"},
      {"assign(pointer into a)", [](counted_buffer& a) { a.assign(a.data() + 6, 99); }, "world"},
      {"attach(pointer into a)", [](counted_buffer& a) { a.attach(a.data() + 6, 5); }, "world"},
      {"append(a)", [](counted_buffer& a) { a.append(a); }, "hello worldhello world"},
      {"append(a.subview(0, 5))", [](counted_buffer& a) { a.append(a.subview(0, 5)); }, "hello worldhello"},
      {"append(pointer into a)", [](counted_buffer& a) { a.append(a.data() + 5, 6); }, "hello world world"},
      {"append(a.c_str())", [](counted_buffer& a) { a.append(a.c_str()); }, "hello worldhello world"},
      {"replace(a.subview)", [](counted_buffer& a) { a.replace(0, 5, a.subview(6)); }, "world world", 1},
  };
  for (const Case& c : cases) {
    for (bool shared : {false, true}) {
      counted_free::released = 0;
      {
        counted_buffer a("hello world");
        counted_buffer other;
        if (shared) other = a;
        c.apply(a);
        EXPECT_EQ(str(a), c.expected) << c.name << " shared=" << shared;
        EXPECT_FALSE(a.is_view()) << c.name << " shared=" << shared;
        EXPECT_EQ(a.c_str()[a.length()], '\0') << c.name;
        EXPECT_EQ(counted_free::released, c.scratch) << c.name << " shared=" << shared;
        if (shared) {
          EXPECT_EQ(str(other), "hello world") << c.name;
        }
        const int blocks = c.scratch + (a.data() == other.data() || !shared ? 1 : 2);
        a = counted_buffer();
        other = counted_buffer();
        EXPECT_EQ(counted_free::released, blocks) << c.name << " shared=" << shared;
      }
    }
  }
}

// A view taken before the buffer shrank still names memory of the block.
TEST(BasicBufferTest, AssigningAStaleViewOfItselfCopiesBeforeLettingGo) {
  counted_free::released = 0;
  {
    counted_buffer a("hello world");
    counted_buffer tail = a.subview(6);
    a.erase(3);
    a = tail;
    EXPECT_EQ(str(a), "world");
    EXPECT_FALSE(a.is_view());
    EXPECT_EQ(counted_free::released, 1);  // the old block, after the copy
  }
  EXPECT_EQ(counted_free::released, 2);
}

TEST(BasicBufferTest, FormattingItsOwnTextIntoItself) {
  narrow_buffer a("abc");
  a.append_format(32, "-%s-%d", a.c_str(), 7);
  EXPECT_EQ(str(a), "abc-abc-7");
  a.assign_format(32, "[%s]", a.c_str());
  EXPECT_EQ(str(a), "[abc-abc-7]");
  // Bigger than the block: the old text is read before it is let go.
  narrow_buffer big(std::string(100, 'x').c_str());
  big.append_format(300, "%s", big.c_str());
  EXPECT_EQ(str(big), std::string(200, 'x'));
}

// Copies handed to other threads are read and dropped there while the owner
// keeps writing: first un-sharing, then, once every copy is gone, in place.
// Under ThreadSanitizer this checks the ordering of the share count.
TEST(BasicBufferTest, CopiesDroppedOnOtherThreadsWhileTheOwnerWrites) {
  for (int round = 0; round < 50; ++round) {
    narrow_buffer owner("copy on write across threads");
    std::atomic<int> sum{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
      readers.emplace_back([copy = narrow_buffer(owner), &sum]() mutable {
        int local = 0;
        for (char ch : copy) local += ch;
        sum += local;
        copy = narrow_buffer();
      });
    }
    if (round % 2) owner.to_upper();  // while copies may still be alive
    while (owner.is_shared()) std::this_thread::yield();
    const char* block = owner.data();
    owner.to_lower();
    EXPECT_EQ(owner.data(), block);  // sole holder: written in place
    owner.push_back('!');
    EXPECT_EQ(str(owner), "copy on write across threads!");
    for (std::thread& reader : readers) reader.join();
  }
}

}  // namespace
}  // namespace Velk
