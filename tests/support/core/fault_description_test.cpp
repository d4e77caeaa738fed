#include "support/core/fault_description.h"

#include <gtest/gtest.h>

#include <string>

namespace Velk {
namespace {

std::string str(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

TEST(FaultDescriptionTest, CodeTable) {
  struct Case {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {0x80000001u, "Access violation on a guard page."},
      {0x80000003u, "A breakpoint was encountered."},
      {0xC0000005u,
       "The thread tried to read from or write to a virtual address for which it does "
       "not have the appropriate access."},
      {0xC000001Du, "The thread tried to execute an invalid instruction."},
      {0xC0000090u,
       "This exception represents any floating-point exception not included in this "
       "list."},
      {0xC0000094u,
       "The thread tried to divide an integer value by an integer divisor of zero."},
      {0xC00000FDu, "The thread used up its stack."},
      {0xE06D7363u, "Visual C++ Exception."},
      {0u, "Unknown Value."},
      {0xC0000007u, "Unknown Value."},
      {0xFFFFFFFFu, "Unknown Value."},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(ExceptionCodeText(c.code), c.text) << std::hex << c.code;
}

TEST(FaultDescriptionTest, LayoutAndHexRules) {
  const std::uint64_t access[] = {1, 0x10};
  const std::uint64_t zero_and_wide[] = {0, 0xABCDEF0123ull};
  struct Case {
    std::uint32_t code;
    std::uint64_t pc;
    const std::uint64_t* parameters;
    std::size_t count;
    std::string expected;
  } cases[] = {
      {0xC0000005u, 0x401A2Bu, access, 2,
       std::string(ExceptionCodeText(0xC0000005u)) +
           "\n  exp. code  = 0xC0000005"
           "\n  pc address = 00401A2B"
           "\n  parameters = 0x1; 0x10"},
      {0x80000003u, 0, nullptr, 0,
       "A breakpoint was encountered."
       "\n  exp. code  = 0x80000003"
       "\n  pc address = 00000000"},
      {0x12u, 0xFFFFFFFFu, zero_and_wide, 2,
       "Unknown Value."
       "\n  exp. code  = 0x12"
       "\n  pc address = FFFFFFFF"
       "\n  parameters = 0x0; 0xABCDEF0123"},
      // A 64-bit address keeps all its digits.
      {0xC00000FDu, 0x7FFF12345678ull, zero_and_wide, 1,
       "The thread used up its stack."
       "\n  exp. code  = 0xC00000FD"
       "\n  pc address = 7FFF12345678"
       "\n  parameters = 0x0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(str(DescribeException(c.code, c.pc, c.parameters, c.count)), c.expected);
}

}  // namespace
}  // namespace Velk
