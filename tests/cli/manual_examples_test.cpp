// The manual page's examples, run as written: each command block of its
// EXAMPLES section, taken from the page and freed of its roff escapes, runs
// with sh in a folder prepared for it, with the built rplc first on PATH.
// A block without a row here fails the test, so every example stays
// covered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tree_state.h"

namespace rplc_test {
namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The command blocks (".nf" to ".fi") of the EXAMPLES section, as a shell
// reads them.
std::vector<std::string> ExampleBlocks() {
  const std::filesystem::path page =
      std::filesystem::path(RPLC_TEST_DATA).parent_path().parent_path() / "doc" / "rplc.1";
  std::istringstream in(SlurpFile(page.string()));
  std::vector<std::string> blocks;
  bool in_examples = false, in_block = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) in_examples = line == ".SH EXAMPLES";
    if (!in_examples) continue;
    if (line == ".nf") {
      in_block = true;
      blocks.emplace_back();
    } else if (line == ".fi") {
      in_block = false;
    } else if (in_block) {
      for (const auto& [from, to] : std::map<std::string, std::string>{
               {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\(ha", "^"}, {"\\-", "-"}, {"\\&", ""}})
        line = Replaced(line, from, to);
      blocks.back() += Replaced(line, "\\e", "\\") + "\n";
    }
  }
  return blocks;
}

// A zip archive holding one.txt and d/two.txt.
std::string ZipArchive() {
  const char* hex =
      "504b03041400000000008218225020303a360600000006000000070000006f6e652e74787468656c6c6f"
      "0a504b0304140000000000821822501f08ea46020000000200000009000000642f74776f2e747874780a"
      "504b010214031400000000008218225020303a36060000000600000007000000000000000000000080"
      "01000000006f6e652e747874504b01021403140000000000821822501f08ea4602000000020000000900"
      "0000000000000000000080012b000000642f74776f2e747874504b0506000000000200020"
      "06c000000540000000000";
  std::string bytes;
  for (const char* p = hex; p[0] && p[1]; p += 2)
    bytes.push_back(char(std::stoi(std::string(p, 2), nullptr, 16)));
  return bytes;
}

struct EXAMPLE {
  const char* starts;  // the block's first bytes
  Files before;
  Files after;          // files after the run, by name ("$HOME" is the folder)
  const char* out;      // standard output, when checked
};

TEST(ManualExamplesTest, EveryExampleRunsAsWritten) {
  const std::vector<EXAMPLE> examples = {
      {"rplc '*.txt' '*.htm' -f:teh", {{"a.txt", "teh cat\n"}, {"b.htm", "teh\n"}},
       {{"a.txt", "the cat\n"}, {"b.htm", "the\n"}}, ""},
      {"rplc '*.txt' '-fic:My Dir'", {{"a.txt", "cd my DIR/x\n"}}, {{"a.txt", "cd /SRV/ROOT/x\n"}},
       ""},
      {"rplc '*.cpp' '*.h' '-r:***:(?n)", {{"a.h", "#define A 1\nint MY_DEF;\n#define X MY_DEF MY_DEF\n"}},
       {{"a.h", "#define A 1\nint MY_DEF;\n#define X HER_DEF MY_DEF\n"}}, ""},
      {"cat server.log | rplc '-r:Connected", {{"server.log", "Connected from 218.79.1.1\nok\n"}},
       {}, "**Attack** Connected from 218.79.1.1\nok\n"},
      {"cat server.log | rplc '-r:^(Smith", {{"server.log", "Smith a\nBob\nJames b\n"}}, {},
       "Bob\n"},
      {"unzip -l '*.zip'", {{"a.zip", ZipArchive()}}, {}, "one.txt\nd/two.txt\n"},
      {"rplc -s '*.cpp' '*.h' -f:old_name", {{"src/a.cpp", "old_name\n"}, {"b.h", "old_name\n"}},
       {{"src/a.cpp", "new_name\n"}, {"b.h", "new_name\n"}}, nullptr},
      {"rplc -f:8080 -t:8081 \"$HOME/", {{"myapp/main.conf", "port 8080\n"}, {"www/a.conf", "8080\n"}},
       {{"myapp/main.conf", "port 8081\n"}, {"www/a.conf", "8081\n"}}, ""},
      {"rplc '*.txt' '-rnnl:\\r\\n'", {{"a.txt", "a\r\nb\r\n"}}, {{"a.txt", "a\nb\n"}}, ""},
      {"rplc -s '*.py' '-r:assertEquals\\('", {{"t/x.py", "self.assertEquals(a, b)\n"}},
       {{"t/x.py", "self.assertEquals(a, b)\n"},
        {"p.diff",
         "--- t/x.py\n+++ t/x.py\n@@ -1 +1 @@\n-self.assertEquals(a, b)\n+self.assertEqual(a, b)\n"}},
       "patching file t/x.py\npatching file t/x.py\n"},
  };
  const std::string bin = std::filesystem::path(RPLC_BINARY).parent_path().string();
  const std::vector<std::string> blocks = ExampleBlocks();
  ASSERT_FALSE(blocks.empty());
  for (const std::string& block : blocks) {
    SCOPED_TRACE(block);
    const EXAMPLE* example = nullptr;
    for (const EXAMPLE& each : examples)
      if (block.rfind(each.starts, 0) == 0) example = &each;
    ASSERT_NE(example, nullptr) << "an example without a row";
    TempDir dir;
    Fill(dir, example->before);
    const std::string script = dir.Write(".example.sh", block);
    const std::string command = "cd '" + dir.path() + "' && HOME='" + dir.path() +
                                "' ROOTDIR=/srv/root PATH='" + bin + "':\"$PATH\" sh -e '" +
                                script + "' > .out 2> .err";
    EXPECT_EQ(std::system(command.c_str()), 0) << dir.Read(".err");
    if (example->out) {
      EXPECT_EQ(dir.Read(".out"), example->out);
    }
    EXPECT_EQ(dir.Read(".err"), "");
    for (const auto& [name, content] : example->after) EXPECT_EQ(dir.Read(name), content) << name;
  }
}

}  // namespace
}  // namespace rplc_test
