// Differential test of the preview: over random trees that mix odd names
// (blanks, tabs, quotes, backslashes, line feeds, carriage returns, escape
// and high bytes), symbolic links into and out of the tree, hard links,
// binary files and nested folders, a random command's "-diff" output,
// applied with patch (and with git apply) to a copy of the tree, must give
// byte for byte what the command writes without "-diff", with the same
// messages and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tree_state.h"

namespace rplc_test {
namespace {

// Builds the same tree for the same seed below root: root/tree, and
// root/outside that links may lead to.
class CRandomTree {
 public:
  CRandomTree(const std::string& root, unsigned seed) : root_(root), random_(seed) {
    Make("outside/o.txt", "foo bar\n");
    folders_.push_back("");
    const int entries = 10 + Pick(20);
    for (int i = 0; i < entries; ++i) Add();
  }
  // The names (relative to root/tree) of files with several hard links:
  // patch and git apply write the name they patch as a new file and so
  // break the link, which a rewrite keeps.
  const std::set<std::string>& LinkedNames() const { return linked_names_; }

 private:
  int Pick(int n) { return int(random_() % unsigned(n)); }

  std::string Name() {
    static const std::vector<std::string> kBytes = {
        "a", "b", "c", "x", "foo", " ", "\t", "\"", "\\", "\n", "\r", "\x1b", "\xc3\xa9", "-",
        "_", ".txt", "'"};
    std::string name;
    const int parts = 1 + Pick(4);
    for (int i = 0; i < parts; ++i) name += kBytes[std::size_t(Pick(int(kBytes.size())))];
    if (name[0] == '.' || name[0] == '-') name = "n" + name;
    return name + std::to_string(counter_++);
  }

  std::string Text() {
    static const std::vector<std::string> kWords = {"foo", "bar", "baz", "FOO", "Bar", "x", " "};
    std::string text;
    const int lines = Pick(12);
    const std::string feed = Pick(4) == 0 ? "\r\n" : "\n";
    for (int i = 0; i < lines; ++i) {
      const int words = Pick(5);
      for (int w = 0; w < words; ++w) text += kWords[std::size_t(Pick(int(kWords.size())))];
      text += feed;
    }
    if (!text.empty() && Pick(3) == 0) text.pop_back();  // no line feed at the end
    return text;
  }

  void Make(const std::string& name, const std::string& content) {
    TempWrite(root_ + "/" + name, content);
  }
  static void TempWrite(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  // The way from folder (relative to the tree) up to root.
  static std::string Up(const std::string& folder) {
    std::string up = "../";
    for (const char each : folder)
      if (each == '/') up += "../";
    return up;
  }

  void Add() {
    const std::string folder = folders_[std::size_t(Pick(int(folders_.size())))];
    const std::string name = folder + Name();
    const std::string path = root_ + "/tree/" + name;
    switch (Pick(9)) {
      case 0:
        if (std::count(folder.begin(), folder.end(), '/') < 4) {
          std::filesystem::create_directories(path);
          folders_.push_back(name + "/");
        }
        break;
      case 1:  // binary: a NUL in the first block
        TempWrite(path, Text() + std::string("\0foo\n", 5) + Text());
        files_.push_back(name);
        break;
      case 2:
        if (!files_.empty())
          symlink((Up(folder) + "tree/" + files_[std::size_t(Pick(int(files_.size())))]).c_str(),
                  path.c_str());
        break;
      case 3:
        symlink((Up(folder) + "outside/o.txt").c_str(), path.c_str());
        break;
      case 4:
        symlink(Pick(2) ? ".." : "nowhere", path.c_str());
        break;
      case 5:
        if (!files_.empty()) {
          const std::string& original = files_[std::size_t(Pick(int(files_.size())))];
          if (link((root_ + "/tree/" + original).c_str(), path.c_str()) == 0) {
            linked_names_.insert(name);
            linked_names_.insert(original);
          }
        }
        break;
      default:
        TempWrite(path, Text());
        files_.push_back(name);
        break;
    }
  }

  std::string root_;
  std::mt19937 random_;
  std::vector<std::string> folders_;  // relative to the tree, ending in "/"
  std::vector<std::string> files_;
  std::set<std::string> linked_names_;
  int counter_ = 0;
};

std::vector<std::string> RandomCommand(unsigned seed) {
  std::mt19937 random(seed * 7919u + 1);
  const auto pick = [&](const auto& from) { return from[random() % from.size()]; };
  const std::vector<std::vector<std::string>> patterns = {
      {"*"}, {"-s", "*"}, {"-s", "*.txt*"}, {"*a*"}, {"-s", "*x*", "*a*"}};
  const std::vector<std::vector<std::string>> finds = {
      {"-f:foo", "-t:qux"},          {"-fic:BAR", "-t"},
      {"-r:ba(r|z)", "-t:<\\1>"},    {"-r:^", "-t:> "},
      {"-rnnl:o[:nl:]", "-t:O"},     {"-r:x$", "-t:y[:nl:]z"},
      {"-fic:foo", "-t:foo"},        {"-r:(foo|bar) ?", "-t"}};
  std::vector<std::string> command = pick(patterns);
  for (const std::string& each : pick(finds)) command.push_back(each);
  if (random() % 3 == 0) command.push_back("-binary");
  if (random() % 3 == 0) command.push_back("-noexp");
  return command;
}

std::map<std::string, std::string> Replayable(const std::string& root,
                                              const std::set<std::string>& linked_names) {
  std::map<std::string, std::string> contents = Contents(root);
  for (const std::string& name : linked_names) contents.erase("tree/" + name);
  return contents;
}

TEST(PreviewReplayTest, PatchAndGitApplyReplayTheRunOnRandomTrees) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const std::vector<std::string> command = RandomCommand(seed);
    std::string shown;
    for (const std::string& each : command) shown += each + " ";
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + shown);
    TempDir rewritten, previewed, applied, patches;
    const CRandomTree tree(rewritten.path(), seed);
    CRandomTree(previewed.path(), seed);
    CRandomTree(applied.path(), seed);

    std::vector<std::string> with_diff = command;
    with_diff.push_back("-diff");
    const RunResult preview = RunRplc(with_diff, "", previewed.path() + "/tree");
    const RunResult rewrite = RunRplc(command, "", rewritten.path() + "/tree");
    EXPECT_EQ(preview.status, rewrite.status);
    EXPECT_EQ(preview.err, rewrite.err);  // names relative to the tree
    if (preview.out.empty()) {
      EXPECT_EQ(Replayable(previewed.path(), {}), Replayable(rewritten.path(), {}));
      continue;
    }
    const std::string patch = patches.Write("p.diff", preview.out);
    EXPECT_EQ(Shell(previewed.path() + "/tree", "patch -p0 -F0 --batch -i '" + patch + "'"), 0)
        << preview.out;
    EXPECT_EQ(Replayable(previewed.path(), tree.LinkedNames()),
              Replayable(rewritten.path(), tree.LinkedNames()))
        << preview.out;
    EXPECT_EQ(Shell(applied.path() + "/tree",
                    "git apply -p0 --unsafe-paths --whitespace=nowarn '" + patch + "'"),
              0)
        << preview.out;
    EXPECT_EQ(Replayable(applied.path(), tree.LinkedNames()),
              Replayable(rewritten.path(), tree.LinkedNames()));
  }
}

}  // namespace
}  // namespace rplc_test
