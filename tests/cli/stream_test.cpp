// The streamed finds end to end: inputs larger than a chunk through
// standard input and files, results byte for byte those of the whole-text
// finds, files without a match untouched, and memory that does not grow
// with the input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/cli/run_binary.h"

namespace rplc_test {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

// A text of several chunks with the find text straddling every chunk
// boundary (and at the very start and end), and the expected result.
struct BIG_TEXT {
  std::string input;
  std::string expected;
  int count = 0;
};

BIG_TEXT Straddling(const std::string& find, const std::string& with, int chunks = 5) {
  BIG_TEXT text;
  text.input = find;
  text.expected = with;
  ++text.count;
  for (int k = 1; k <= chunks; ++k) {
    for (std::size_t filler = 0; text.input.size() < k * kChunk - find.size() / 2; ++filler) {
      const char c = filler % 61 == 60 ? '\n' : char('a' + filler % 7);
      text.input += c;
      text.expected += c;
    }
    text.input += find;
    text.expected += with;
    ++text.count;
  }
  text.input += "\ntail" + find;
  text.expected += "\ntail" + with;
  ++text.count;
  return text;
}

TEST(StreamTest, StandardInputLargerThanAChunk) {
  const BIG_TEXT text = Straddling("NEEDLE", "pin");
  for (const char* find : {"-f:NEEDLE", "-fic:needle", "-r:NEE+DLE", "-ric:ne+dle"}) {
    for (const char* mode : {"-exp", "-noexp"}) {
      RunResult r = RunRplc({find, "-t:pin", mode, "-trc"}, text.input);
      EXPECT_EQ(r.status, 0) << find;
      EXPECT_EQ(r.err, "") << find;
      EXPECT_TRUE(r.out == text.expected + "\n## total replaced " +
                               std::to_string(text.count) + " matchs\n")
          << find << " " << mode;
    }
  }
}

TEST(StreamTest, LineBoundedExpressionOverLongLines) {
  // Lines longer than a chunk: the window grows for them.
  std::string input = std::string(kChunk + 100, 'x') + "\n" + std::string(3 * kChunk, 'y') +
                      "\nx\n";
  RunResult r = RunRplc({"-r:^x+$", "-t:X"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == "X\n" + std::string(3 * kChunk, 'y') + "\nX\n");
  r = RunRplc({"-r:y$", "-t:E"}, input);
  EXPECT_TRUE(r.out == std::string(kChunk + 100, 'x') + "\n" + std::string(3 * kChunk - 1, 'y') +
                           "E\nx\n");
}

TEST(StreamTest, FilesAreStreamedAndUnmatchedFilesUntouched) {
  TempDir dir;
  const BIG_TEXT text = Straddling("session", "connection");
  dir.Write("big.txt", text.input);
  dir.Write("none.txt", std::string(3 * kChunk, 'q'));
  struct stat before {};
  ASSERT_EQ(stat((dir.path() + "/none.txt").c_str(), &before), 0);
  RunResult r = RunRplc({"*.txt", "-f:session", "-t:connection", "-frc"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n## " + std::to_string(text.count) + " replacements in file: " +
                       dir.path() + "/big.txt\n");
  EXPECT_TRUE(dir.Read("big.txt") == text.expected);
  struct stat after {};
  ASSERT_EQ(stat((dir.path() + "/none.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(StreamTest, FirstMatchFarIntoTheFile) {
  // The unchanged start is copied from the file into the new one.
  TempDir dir;
  const std::string head(3 * kChunk + 17, 'h');
  dir.Write("f.txt", head + "old\n" + "old");
  RunResult r = RunRplc({"f.txt", "-r:^old$", "-t:new"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(dir.Read("f.txt") == head + "old\nnew");
}

TEST(StreamTest, HardLinkedFileRewrittenInPlaceByChunks) {
  TempDir dir;
  const BIG_TEXT text = Straddling("XY", "XYZ");
  const std::string file = dir.Write("linked.txt", text.input);
  ASSERT_EQ(link(file.c_str(), (dir.path() + "/other").c_str()), 0);
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  RunResult r = RunRplc({"linked.txt", "-f:XY", "-t:XYZ"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(dir.Read("other") == text.expected);
  struct stat after {};
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
}

// "-diff" and "-stdout" over files larger than a chunk, beside small ones
// and one without a match, stream them and write what the whole-text
// finds write ("-rnnl" with the same plain pattern never streams), in list
// order with their count lines; so does "-diff" over standard input.
TEST(StreamTest, PreviewAndStandardOutputOfLargeFilesAreThoseOfTheWholeText) {
  TempDir dir;
  const BIG_TEXT text = Straddling("session", "connection");
  dir.Write("a.txt", text.input);
  dir.Write("b.txt", "one session\n");
  dir.Write("c.txt", std::string(3 * kChunk, 'q') + "\n");
  std::string lines;
  for (int i = 0; lines.size() < 2 * kChunk; ++i)
    lines += (i % 11 == 0 ? "a session " : "line ") + std::to_string(i) + "\r\n";
  dir.Write("d.txt", lines + "session");
  for (const char* mode : {"-diff", "-stdout"}) {
    for (const char* find : {"-f:session", "-fic:SESSION", "-r:ses+ion"}) {
      const RunResult streamed =
          RunRplc({"*.txt", find, "-t:connection", mode, "-frc", "-trc"}, "", dir.path());
      const RunResult whole =
          RunRplc({"*.txt", "-rnnl:session", "-t:connection", mode, "-frc", "-trc"}, "",
                  dir.path());
      EXPECT_EQ(streamed.status, 0) << mode << find;
      EXPECT_EQ(streamed.err, "") << mode << find;
      EXPECT_EQ(whole.status, 0) << mode;
      EXPECT_GT(whole.out.size(), kChunk) << mode;
      EXPECT_TRUE(streamed.out == whole.out) << mode << " " << find;
    }
    EXPECT_TRUE(dir.Read("a.txt") == text.input);
  }
  const RunResult streamed = RunRplc({"-f:session", "-t:connection", "-diff"}, lines);
  const RunResult whole = RunRplc({"-rnnl:session", "-t:connection", "-diff"}, lines);
  EXPECT_EQ(streamed.status, 0);
  EXPECT_TRUE(streamed.out == whole.out);
  EXPECT_EQ(streamed.out.substr(0, 44), "--- (standard input)\n+++ (standard input)\n@@");
}

// A streamed preview holds only the lines around each change: its peak
// memory does not grow with an input of many changes far larger than it.
TEST(StreamTest, PreviewMemoryDoesNotGrowWithTheInput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's own memory is counted too";
#endif
  TempDir dir;
  std::string block;
  for (int i = 1; i < 10; ++i) block += "the quick brown fox jumps over the lazy dog " + std::to_string(i) + "\n";
  block += "a line with a needle in it\n";
  // Written a block at a time: a child forked from a large test process
  // would count its pages as its own.
  std::size_t size = 0;
  {
    std::ofstream out(dir.path() + "/big.txt", std::ios::binary);
    for (; size < (std::size_t(48) << 20); size += block.size()) out << block;
  }
  const RunResult from_stdin =
      RunRplcUnder({"sh", "-c", "exec \"$0\" \"$@\" < big.txt > stdin.diff"},
                   {"-f:needle", "-t:pin", "-diff"}, dir.path(), nullptr);
  EXPECT_EQ(from_stdin.status, 0);
  const RunResult from_file =
      RunRplcUnder({"sh", "-c", "exec \"$0\" \"$@\" > file.diff"},
                   {"big.txt", "-r:ne+dle", "-t:pin", "-diff"}, dir.path(), nullptr);
  EXPECT_EQ(from_file.status, 0);
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LE(usage.ru_maxrss, 16 * 1024) << "peak resident KiB";
  struct stat info {};
  ASSERT_EQ(stat((dir.path() + "/stdin.diff").c_str(), &info), 0);
  EXPECT_GT(info.st_size, off_t(size / 2));
  ASSERT_EQ(stat((dir.path() + "/file.diff").c_str(), &info), 0);
  EXPECT_GT(info.st_size, off_t(size / 2));
}

// Files large enough to be written on a thread of their own (from 8 MiB):
// exact results, renamed over or rewritten in place (a hard link), and no
// temporary file left behind.
TEST(StreamTest, LargeFilesOverlappedGiveExactResults) {
  TempDir dir;
  const BIG_TEXT text = Straddling("session", "connection", 40);
  ASSERT_GT(text.input.size(), 8u << 20);
  dir.Write("big.txt", text.input);
  const std::string linked = dir.Write("linked.txt", text.input);
  ASSERT_EQ(link(linked.c_str(), (dir.path() + "/other").c_str()), 0);
  RunResult r = RunRplc({"*.txt", "-f:session", "-t:connection", "-trc"}, "", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n## total replaced " + std::to_string(2 * text.count) + " matchs\n");
  EXPECT_TRUE(dir.Read("big.txt") == text.expected);
  EXPECT_TRUE(dir.Read("other") == text.expected);
  struct stat status {};
  ASSERT_EQ(stat(linked.c_str(), &status), 0);
  EXPECT_EQ(status.st_nlink, 2u);
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"big.txt", "linked.txt", "other"}));
}

// A 5 GiB sparse file with matches at both ends and across the 2 GiB and
// 4 GiB marks is filtered exactly from standard input, and rewritten
// exactly in file mode, in memory that does not grow with it.
TEST(StreamTest, SparseFileOfFiveGibibytesSlow) {
  const off_t size = off_t(5) << 30;
  const std::string find = "MARK";
  const off_t marks[] = {0, (off_t(2) << 30) - 2, (off_t(4) << 30) - 1, size - 4};
  for (const bool file_mode : {false, true}) {
    SCOPED_TRACE(file_mode ? "file mode" : "standard input");
    TempDir dir;
    const std::string file = dir.path() + "/huge.bin";
    {
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(ftruncate(fd, size), 0);
      for (off_t at : marks) ASSERT_EQ(pwrite(fd, find.data(), find.size(), at), 4);
      close(fd);
    }
    // Named exactly, the file is worked although it holds NUL bytes.
    std::string expected_out = "\n## 4 replacements in file: " + file + "\n";
    std::string result = file;
    RunResult r;
    if (file_mode) {
      r = RunRplc({"huge.bin", "-f:MARK", "-t:LONGER", "-frc"}, "", dir.path());
    } else {
      // The output goes to a file beside the input.
      r = RunRplcUnder({"sh", "-c", "exec \"$0\" \"$@\" < huge.bin > out.bin"},
                       {"-f:MARK", "-t:LONGER", "-trc"}, dir.path(), [](int) {});
      expected_out = "";
      result = dir.path() + "/out.bin";
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected_out);
    // The larger of the two runs' peaks.
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LE(usage.ru_maxrss, 16 * 1024) << "peak resident KiB";

    const std::string total = file_mode ? "" : "\n## total replaced 4 matchs\n";
    struct stat info {};
    ASSERT_EQ(stat(result.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, off_t(size + 4 * 2 + total.size()));
    const int fd = open(result.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    off_t shift = 0;
    for (off_t at : marks) {
      char around[10] = {};
      const off_t from = at + shift - 1;
      const ssize_t got = pread(fd, around, 8, from < 0 ? 0 : from);
      ASSERT_GE(got, 7);
      const std::string seen(around, std::size_t(got));
      const std::string want = (from < 0 ? "" : std::string(1, '\0')) + "LONGER";
      EXPECT_EQ(seen.substr(0, want.size()), want) << "at " << at;
      shift += 2;
    }
    close(fd);
  }
}

}  // namespace
}  // namespace rplc_test
