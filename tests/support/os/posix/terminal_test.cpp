// Lines read from the terminal, here a pipe standing in for it: the line
// feed ends a line, carriage returns are dropped, a line longer than the
// buffer keeps its start, and the end of the input is told apart from an
// empty line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/os/terminal.h"

namespace Velk::os {
namespace {

TEST(TerminalTest, ReadsLinesAsTyped) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string typed = "y\r\n\nabcdefgh\nlast";
  ASSERT_EQ(::write(ends[1], typed.data(), typed.size()), ssize_t(typed.size()));
  ::close(ends[1]);
  TERMINAL terminal;
  terminal.input = ends[0];
  struct LINE {
    std::string text;
    bool at_end;
  };
  const std::vector<LINE> expected = {{"y", false}, {"", false}, {"abcd", false},
                                      {"last", true}, {"", true}};
  for (const LINE& want : expected) {
    char buffer[4];
    std::size_t count = 99;
    bool at_end = false;
    ASSERT_EQ(read_terminal_line(terminal, buffer, sizeof buffer, count, at_end), 0);
    EXPECT_EQ(std::string(buffer, count), want.text);
    EXPECT_EQ(at_end, want.at_end) << want.text;
  }
  ::close(ends[0]);
}

}  // namespace
}  // namespace Velk::os
