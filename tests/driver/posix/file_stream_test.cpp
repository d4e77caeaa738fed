// The streamed file mode on real files: results byte for byte those of the
// whole-text loops at chunk sizes of a few bytes (so that the first change
// and the unchanged start copied before it fall on every kind of edge),
// and the checks of a whole read: links a listing found never followed,
// binary files left alone, files without a match never written.
#include "driver/file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver/diff_preview.h"
#include "driver/replace_step.h"
#include "support/fs/write_back.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::ReadAll;
using test::TempTree;

narrow_buffer B(const std::string& s) {
  return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size()));
}
std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }

RUN_SETTINGS Settings(FindMethod method, const std::string& find, const std::string& with,
                      bool ignore_case = false) {
  RUN_SETTINGS settings;
  settings.method = method;
  settings.find_text = B(find);
  settings.replacement = B(with);
  settings.ignore_case = ignore_case;
  return settings;
}

Matcher MatcherOf(const RUN_SETTINGS& settings) {
  if (settings.method != FindMethod::Regex) return Matcher();
  return CompileFind(settings);
}

// Streams the file at path as the file mode's work does (open with every
// check, prepare, commit when there is something to commit).
FILE_JOB_RESULT Stream(const RUN_SETTINGS& settings, const std::string& path,
                       bool by_listing = false, std::size_t chunk = STREAM_CHUNK,
                       std::uint64_t overlap_from = STREAM_OVERLAP_BYTES,
                       const std::function<bool()>& interrupted = nullptr) {
  const Matcher matcher = MatcherOf(settings);
  CFileMode files(settings);
  FILE_JOB_RESULT result;
  result.file.name = B(path);
  result.file.by_listing = by_listing;
  FILE_IDENTITY identity;
  std::uint64_t size = 0;
  if (!files.Open(result.file, identity, size, result.messages, true)) {
    result.failed = true;
    return result;
  }
  CStreamedFile stream;
  stream.Attach(identity);
  PrepareStreamedFile(settings, matcher, files, stream, result, interrupted, chunk, overlap_from);
  if (result.needs_commit && !result.failed) CommitStreamedFile(files, stream, result);
  return result;
}

// A text longer than the first block that the binary rule reads, with
// matches at the start, at the end of that block and at the very end.
std::string Around(const std::string& match) {
  std::string text = match + "\n";
  while (text.size() < 8192 - 2) text += text.size() % 50 == 0 ? '\n' : 'a';
  text += match + "\nab\n";
  for (int i = 0; i < 300; ++i) text += "line of text\n";
  return text + match;
}

TEST(FileStreamTest, ResultsAreThoseOfTheWholeTextAtEveryChunkSize) {
  struct ROW {
    RUN_SETTINGS settings;
    std::string text;
  };
  const std::vector<ROW> rows = {
      {Settings(FindMethod::Literal, "needle", "pin"), Around("needle")},
      {Settings(FindMethod::Literal, "ab", "abab"), Around("ab")},
      {Settings(FindMethod::Literal, "first", "1"), "first" + std::string(9000, 'x')},
      {Settings(FindMethod::Literal, "last", ""), std::string(9000, 'x') + "last"},
      {Settings(FindMethod::LiteralNoCase, "NeEdLe", "pin", true), Around("nEEdle")},
      {Settings(FindMethod::Regex, "^a+$", "A"), Around("aaa")},
      {Settings(FindMethod::Regex, "e(x*)$", "<\\1>"), Around("text")},
      {Settings(FindMethod::Regex, "x*", "-"), Around("x")},
      {Settings(FindMethod::Regex, "^", "> "), Around("")},
  };
  for (const ROW& row : rows) {
    narrow_buffer expected = B(row.text), scratch;
    const std::uint64_t count = ReplaceAll(row.settings, MatcherOf(row.settings), expected, scratch);
    for (const std::uint64_t overlap_from : {STREAM_OVERLAP_BYTES, std::uint64_t(0)})
    for (const std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(3),
                                    std::size_t(7), std::size_t(4096), STREAM_CHUNK}) {
      TempTree tree;
      tree.file("f", row.text);
      const FILE_JOB_RESULT result = Stream(row.settings, tree / "f", true, chunk, overlap_from);
      const std::string where = S(row.settings.find_text) + " chunk " + std::to_string(chunk) +
                                (overlap_from == 0 ? " written behind" : "");
      EXPECT_FALSE(result.failed) << where << S(result.messages);
      EXPECT_EQ(result.count, count) << where;
      EXPECT_TRUE(ReadAll(tree / "f") == S(expected)) << where;
    }
  }
}

struct stat Status(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status;
}

TEST(FileStreamTest, AFileWithoutAMatchCostsItsReadsAndNothingElse) {
  TempTree tree;
  tree.file("f", std::string(20000, 'q'));
  const struct stat before = Status(tree / "f");
  ::usleep(20000);
  const FILE_JOB_RESULT result = Stream(Settings(FindMethod::Literal, "x", "y"), tree / "f");
  EXPECT_FALSE(result.failed);
  EXPECT_FALSE(result.needs_commit);
  EXPECT_EQ(result.count, 0u);
  const struct stat after = Status(tree / "f");
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  EXPECT_EQ(test::Names(tree.path()), std::vector<std::string>{"f"});
}

TEST(FileStreamTest, TheChecksOfAWholeReadHold) {
  const std::string binary = std::string(100, 'x') + '\0' + std::string(20000, 'x');
  const std::string late_nul = std::string(9000, 'x') + '\0' + "x";
  const struct {
    const char* what;
    std::string text;
    bool link;        // "f" is a symbolic link to the file
    bool by_listing;  // a listing found "f" (not named exactly)
    bool binary_switch;
    bool left_alone;
    bool read_fails;
    bool rewritten;
  } rows[] = {
      {"binary by listing", binary, false, true, false, true, false, false},
      {"binary named", binary, false, false, false, false, false, true},
      {"binary with -binary", binary, false, true, true, false, false, true},
      {"NUL after the first block", late_nul, false, true, false, false, false, true},
      {"link by listing", std::string(20000, 'x'), true, true, false, false, true, false},
      {"link named", std::string(20000, 'x'), true, false, false, false, false, true},
      {"empty", "", false, true, false, false, false, false},
  };
  for (const auto& row : rows) {
    TempTree tree;
    tree.file(row.link ? "target" : "f", row.text);
    if (row.link) tree.link("target", "f");
    const std::string real = tree / (row.link ? "target" : "f");
    RUN_SETTINGS settings = Settings(FindMethod::Literal, "x", "y");
    settings.binary = row.binary_switch;
    const FILE_JOB_RESULT result = Stream(settings, tree / "f", row.by_listing);
    EXPECT_EQ(result.left_alone, row.left_alone) << row.what;
    EXPECT_EQ(result.failed, row.read_fails) << row.what;
    if (row.read_fails) {
      EXPECT_EQ(S(result.messages).rfind("[ERROR] failed reading file: " + tree / "f" + "\n", 0),
                0u)
          << row.what << S(result.messages);
    }
    std::string expected = row.text;
    if (row.rewritten)
      for (char& c : expected)
        if (c == 'x') c = 'y';
    EXPECT_TRUE(ReadAll(real) == expected) << row.what;
    if (row.link) {
      EXPECT_TRUE(S_ISLNK(Status(tree / "f").st_mode)) << row.what;
    }
  }
}

// What run writes to standard output (file descriptor 1, redirected to a
// file meanwhile).
std::string StandardOutputOf(const std::function<void()>& run) {
  TempTree tree;
  const std::string path = tree / "stdout";
  const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(file, STDOUT_FILENO);
  run();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(file);
  return ReadAll(path);
}

// A file streamed to standard output under "-diff" and "-stdout", at chunk
// sizes of a few bytes: the preview and the result are those of the whole
// text, written only once the file's turn has come (and not at all when
// the run stopped first, or for a binary file a listing found).
TEST(FileStreamTest, OutputToStandardOutputIsThatOfTheWholeText) {
  std::string lines;
  for (int i = 0; i < 400; ++i) lines += (i % 37 == 5 ? "needle " : "hay ") + std::to_string(i) + "\n";
  const struct {
    RUN_SETTINGS settings;
    std::string text;
  } rows[] = {
      {Settings(FindMethod::Literal, "needle", "pin"), Around("needle")},
      {Settings(FindMethod::Literal, "needle", "pin"), lines},
      {Settings(FindMethod::Literal, "needle 5\n", ""), lines + "needle"},
      {Settings(FindMethod::Regex, "^a+$", "A"), Around("aaa")},
      {Settings(FindMethod::Regex, "[0-9]$", "#"), lines},
      {Settings(FindMethod::Regex, "x*", "-"), "ab\n\ncd"},
      {Settings(FindMethod::Literal, "none", "x"), lines},
  };
  for (const auto& row : rows)
    for (const bool diff : {true, false}) {
      RUN_SETTINGS settings = row.settings;
      settings.diff_mode = diff;
      settings.stdout_mode = !diff;
      const Matcher matcher = MatcherOf(settings);
      CFileMode files(settings);
      for (const std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(7),
                                      std::size_t(4096)})
        for (const bool turn : {true, false}) {
          TempTree tree;
          tree.file("f", row.text);
          FILE_JOB_RESULT result;
          result.file.name = B(tree / "f");
          narrow_buffer expected = B(row.text), scratch, log_text;
          ReplacementLog log;
          const std::uint64_t count =
              diff ? ReplaceAndPreview(settings, matcher, files.GetDiffName(result.file), expected,
                                       scratch, log, log_text)
                   : ReplaceAll(settings, matcher, expected, scratch);
          if (diff) expected = log_text;
          FILE_IDENTITY identity;
          std::uint64_t size = 0;
          ASSERT_TRUE(files.Open(result.file, identity, size, result.messages, false));
          CStreamedFile stream;
          stream.Attach(identity);
          int asked = 0;
          const std::function<bool()> await_turn = [&] {
            ++asked;
            return turn;
          };
          const std::string out = StandardOutputOf([&] {
            OutputStreamedFile(settings, matcher, files, stream, result, await_turn, chunk);
          });
          const std::string where = S(settings.find_text) + (diff ? " diff" : " stdout") +
                                    " chunk " + std::to_string(chunk);
          EXPECT_FALSE(result.failed) << where;
          EXPECT_FALSE(result.needs_commit) << where;
          EXPECT_EQ(asked, expected.empty() ? 0 : 1) << where;
          if (turn || expected.empty()) {
            EXPECT_TRUE(out == S(expected)) << where << "\n" << out;
            EXPECT_EQ(result.count, count) << where;
            EXPECT_FALSE(result.skipped) << where;
          } else {
            EXPECT_EQ(out, "") << where;
            EXPECT_TRUE(result.skipped) << where;
          }
          EXPECT_TRUE(ReadAll(tree / "f") == row.text) << where;
        }
    }

  // A binary file that a listing found writes nothing.
  RUN_SETTINGS settings = Settings(FindMethod::Literal, "x", "y");
  settings.stdout_mode = true;
  CFileMode files(settings);
  TempTree tree;
  tree.file("f", std::string(100, 'x') + '\0' + std::string(9000, 'x'));
  FILE_JOB_RESULT result;
  result.file.name = B(tree / "f");
  result.file.by_listing = true;
  FILE_IDENTITY identity;
  std::uint64_t size = 0;
  ASSERT_TRUE(files.Open(result.file, identity, size, result.messages, false));
  CStreamedFile stream;
  stream.Attach(identity);
  const std::function<bool()> await_turn = [] { return true; };
  EXPECT_EQ(StandardOutputOf([&] {
              OutputStreamedFile(settings, Matcher(), files, stream, result, await_turn, 5);
            }),
            "");
  EXPECT_TRUE(result.left_alone);
}

// With its writes on a thread of their own, a file keeps every promise of
// a rewrite: a write that fails (here a file-size limit, EFBIG) is
// reported with the message of a one-thread run and leaves the file as it
// was, and an interrupt between two chunks, with pieces still to write,
// leaves it too; neither leaves a temporary file, named or unnamed.
TEST(FileStreamTest, OverlappedFailuresAndInterruptsLeaveTheFileAlone) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "a needle in a line\n";
  const RUN_SETTINGS settings = Settings(FindMethod::Literal, "needle", "pin");
  std::string one_thread_messages;
  TempTree tree;
  tree.file("f", text);
  for (const std::uint64_t overlap_from : {STREAM_OVERLAP_BYTES, std::uint64_t(0)}) {
    const std::string where = overlap_from == 0 ? "written behind" : "one thread";
    const test::ChildResult limited = test::RunInChild([&] {
      InstallWriteBackSignalHandlers();  // a size limit must fail, not kill
      const struct rlimit limit = {5000, 5000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const FILE_JOB_RESULT result = Stream(settings, tree / "f", false, 64, overlap_from);
      return std::to_string(result.failed) + std::to_string(result.needs_commit) + "|" +
             S(result.messages);
    });
    EXPECT_EQ(limited.status, 0) << where;
    EXPECT_EQ(limited.output.rfind("10|[ERROR] can't write to file: " + tree / "f" + "\n  " +
                                       "CDir::WriteFile - error replace file contents\n",
                                   0),
              0u)
        << where << limited.output;
    EXPECT_NE(limited.output.find("  sys error   = 27\n"), std::string::npos) << limited.output;
    if (overlap_from != 0)
      one_thread_messages = limited.output;
    else
      EXPECT_EQ(limited.output, one_thread_messages);
    EXPECT_TRUE(ReadAll(tree / "f") == text) << where;
    EXPECT_EQ(test::Names(tree.path()), std::vector<std::string>{"f"}) << where;

    // Interrupted after a few chunks, with the temporary file begun.
    std::atomic<int> asked{0};
    const FILE_JOB_RESULT stopped = Stream(settings, tree / "f", false, 64, overlap_from,
                                           [&] { return ++asked > 20; });
    EXPECT_TRUE(stopped.skipped) << where;
    EXPECT_FALSE(stopped.failed) << where;
    EXPECT_FALSE(stopped.needs_commit) << where;
    EXPECT_TRUE(ReadAll(tree / "f") == text) << where;
    EXPECT_EQ(test::Names(tree.path()), std::vector<std::string>{"f"}) << where;
    EXPECT_EQ(test::UnnamedFilesHeld(::getpid(), tree.path()), 0) << where;
  }
}

}  // namespace
}  // namespace Velk
