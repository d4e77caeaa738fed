#include "driver/help_screen.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace Velk {
namespace {

// The lines that name the platform and its shell.
#if defined(_WIN32)
#define SYSTEM_NAME "Windows"
#define SHOW_FILE "type"
#define ENV_ROOTDIR "%ROOTDIR%"
#else
#define SYSTEM_NAME "POSIX systems"
#define SHOW_FILE "cat"
#define ENV_ROOTDIR "$ROOTDIR"
#endif

// Runs PrintHelp with standard output sent to a temporary file and returns
// what reached it.
std::string CaptureHelp() {
  std::fflush(stdout);
  std::FILE* sink = std::tmpfile();
  if (!sink) return "tmpfile failed";
  const int saved = dup(1);
  dup2(fileno(sink), 1);
  PrintHelp();  // flushes on its own: nothing is flushed for it here
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(sink);
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, sink)) > 0) text.append(chunk, got);
  std::fclose(sink);
  return text;
}

const std::string kRule(79, '=');

// A line of the three-column class table: POSIX name from column 8, Perl
// escape from column 24, description from column 35 (counting from 1).
std::string ClassRow(const std::string& posix, const std::string& perl,
                     const std::string& description) {
  std::string line(7, ' ');
  line += posix;
  line.resize(23, ' ');
  line += perl;
  line.resize(34, ' ');
  return line + description;
}

std::vector<std::string> ExpectedLines() {
  return {
      "",
      "",
      kRule,
      "      find and replace Ver 2.1.6.1213 - rplc",
      "      console find and replace for " SYSTEM_NAME,
      kRule,
      "Find string in files or pipe, and replace it to another string",
      "",
      "USAGE: rplc [filePattern1 filePattern2 ...] {FindOption:StringToFind}",
      "          {ReplaceOption:StringToReplacement} [OtherOptions]",
      "",
      kRule,
      "FIND OPTIONs:",
      "  -f:      - find",
      "  -fic:    - find ignore case",
      "  -r:      - regular expresion find",
      "  -ric:    - regular expresion find ignore case",
      "  -rnnl:   - regular expresion find ignore newline",
      "  -rnnlic: - regular expresion find ignore newline ignore case",
      "",
      kRule,
      "REPLACE OPTIONs:",
      R"(  -t:      - change the match to"StringToReplacement")",
      R"(  -tu:     - make the "StringToReplacement" upper case, and change the match)",
      "             to it.",
      R"(  -tl:     - make the "StringToReplacement" lower case, and change the match)",
      "             to it.",
      "  NOTE: If find option you specified is a regular expresion method, the replace",
      R"(        option will support sub expressions (\0-\9) as well.)",
      "",
      kRule,
      "OTHER OPTIONs:",
      "  -h -?    - Is screen",
      "  -s       - include sub folders",
      "  -exp     - enable the memory expand algorithm, will double the memory usage,",
      "             but MUCH quick in many case. Now Default.",
      "  -noexp   - disable the memory expension algorithm, see also: -exp.",
      "  -stdio   - get input from standard input device (keyboard and pipe),",
      "             and put the results to standard output device.",
      "             default when file pattern is omitted.",
      "  -stdout  - get input from file(s) as normally, but put the results to",
      "             standard output device.",
      "  -frc     - show File Replacements Count",
      "  -trc     - show Total Replacements Count",
      "  -errstop - stop on a file or sub-directory access error (the old behave).",
      "             DEFAULT: ignore the access error and try to continue.",
      "  -diff    - preview: show every change as a unified diff, and write no file.",
      "             The diff applies with \"patch -p0\" from the current folder.",
      "  -binary  - work binary files too (a NUL byte in the first 8192 bytes);",
      "             DEFAULT: wildcards and -s leave them alone.",
      "",
      kRule,
      "POSIX and perl style Regular Expression:",
      "",
      R"(  - "find - replace" fully support POSIX.2 Extended and Perl style Regular)",
      "     Expresion. Here is a list of they character classes:",
      ClassRow("POSIX", "perl", "Description"),
      std::string(7, ' ') + std::string(68, '-'),
      ClassRow("[:alnum:]", "", "letters and digits"),
      ClassRow("[:alpha:]", R"(\a)", "letters"),
      ClassRow("[:lower:]", R"(\l)", "lowercase letters"),
      ClassRow("[:upper:]", R"(\u)", "uppercase letters"),
      ClassRow("[:blank:]", "", "space and tab characters"),
      ClassRow("[:space:]", R"(\s)", "whitespace characters"),
      ClassRow("[:cntrl:]", "", "control characters"),
      ClassRow("[:digit:]", R"(\d)", "decimal digits"),
      ClassRow("[:xdigit:]", R"(\x)", "hexadecimal digits"),
      ClassRow("[:graph:]", "", "printable characters excluding space"),
      ClassRow("[:print:]", R"(\p)", "printable characters including space"),
      ClassRow("[:punct:]", "", "punctuation characters"),
      "",
      "  - And here a some special char classes in perl:",
      "       perl   POSIX equivalent  Description",
      std::string(7, ' ') + std::string(68, '-'),
      R"(       \o     [0-7]             octal digit)",
      R"(       \O     [^0-7]            non-octal digit)",
      R"(       \w     [[:alnum:]_]      word character)",
      R"(       \W     [^[:alnum:]_]     non-word character)",
      R"(       \A     [^[:alpha:]]      non-alphabetic character)",
      R"(       \L     [^[:lower:]]      non-lowercase character)",
      R"(       \U     [^[:upper:]]      non-uppercase character)",
      R"(       \S     [^[:space:]]      non-whitespace character)",
      R"(       \D     [^[:digit:]]      non-digit)",
      R"(       \X     [^[:xdigit:]]     non-hex digit)",
      R"(       \P     [^[:print:]]      non-printable characters)",
      R"(       \<     [^[:alpha:]_]     begin of word)",
      R"(       \>     [^[:alnum:]_]     end of word)",
      "",
      "  - note: posix char class must working in the square brackets. contrary,",
      "          perl's must stay outside of the brackets.",
      "",
      "  - And several alias has been created to help input some special char:",
      "       perl style    POSIX style     Description",
      std::string(7, ' ') + std::string(71, '-'),
      R"(       \"            [:dq:]          double quotation)",
      R"(       \'            [:sq:]          single quotation)",
      R"(       \t            [:tb:]          table)",
      R"(       \n            [:nl:]          new line (0x0A))",
      R"(       \r            [:rt:]          return (0x0D))",
      R"(       \b            [:bs:]          backspace)",
      "",
      "    NOTE: the posix style alias also available on /t, /tu and /tl when using",
      R"(          the regex ("/r" and "/ric") match.)",
      "",
      kRule,
      "TCL 8.2 Compatibal ARE expression:",
      "",
      "  - Use '***:' prefix with -r:, -ric:, -rnnl: or -rnnlic: to enable Advanced",
      "    Regular Expression mode. The ARE mode have more powerful expression then",
      "    POSIX BRE and ERE rule. And it has it's own char classes. More info at:",
      "    the re_syntax(n) manual page of Tcl 8.2 or later",
      "",
      kRule,
      "SWITCH PREFIX and SUFFIX:",
      R"(  * All switchs (options) are case-insensitive (i.e: "-fic:" or "-FIC:"))",
      R"(  * Switch Prefix can be either "-" or "/" (i.e: "/s" or "-s"))",
      R"(  * Switch Suffix can be either ":" or "=" (i.e: "/f:", "/f=", "-f:" or "-f="))",
      "",
      kRule,
      "EXAMPLEs:",
      "  rplc *.txt *.htm -f:teh -t:the",
      R"(  rplc *.txt -fic:"My Dir" -tu:")" ENV_ROOTDIR R"(")",
      R"(  rplc *.cpp *.h -r:"***:(#define.*?)MY_DEF" /t:"\1HER_DEF")",
      "  " SHOW_FILE R"( server.log | rplc /r:"Connected.*218.79" /t:"**Attack** \0")",
      "  " SHOW_FILE R"( server.log | rplc /r:"^(Smith|James).*\n" /t)",
      R"x(  unzip -l *.zip | rplc /r:"^(.{22}:\d\d\s*|(A|  \a| -|.*files$).*\n)" /t)x",
  };
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start != text.size()) lines.push_back(text.substr(start));  // unterminated tail
  return lines;
}

TEST(HelpScreenTest, EveryLineAsSpecified) {
  const std::string screen = CaptureHelp();
  ASSERT_FALSE(screen.empty());
  EXPECT_EQ(screen.back(), '\n');
  const std::vector<std::string> got = SplitLines(screen);
  const std::vector<std::string> expected = ExpectedLines();
  for (std::size_t i = 0; i < std::min(got.size(), expected.size()); ++i)
    EXPECT_EQ(got[i], expected[i]) << "line " << i + 1;
  // Nothing after the last example.
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_EQ(got.size(), 126u);
}

TEST(HelpScreenTest, RulesAndClassColumns) {
  const std::vector<std::string> got = SplitLines(CaptureHelp());
  int rules = 0;
  for (const std::string& line : got)
    if (line.find_first_not_of('=') == std::string::npos && !line.empty()) {
      ++rules;
      EXPECT_EQ(line.size(), 79u);
    }
  EXPECT_EQ(rules, 9);
  for (const std::string& line : got) {
    if (line.compare(0, 9, "       [:") != 0) continue;
    EXPECT_EQ(line.find_first_not_of(' '), 7u) << line;
    // The Perl escape, when present, starts at column 24, the description
    // at column 35.
    EXPECT_TRUE(line[23] == '\\' || line[23] == ' ') << line;
    EXPECT_NE(line[34], ' ') << line;
    EXPECT_EQ(line[33], ' ') << line;
  }
}

TEST(HelpScreenTest, IsTheSameEveryTime) { EXPECT_EQ(CaptureHelp(), CaptureHelp()); }

}  // namespace
}  // namespace Velk
