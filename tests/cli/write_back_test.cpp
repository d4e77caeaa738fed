// The write-back of the binary struck at chosen moments: the system calls
// of the rewrite are slowed down with strace's fault injection (the test is
// skipped where strace cannot run), and the file is signalled or changed by
// another process while rplc waits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace rplc_test {
namespace {

bool StraceWorks() {
  static const bool works = std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0;
  return works;
}

// strace with one fault injection, quiet. The leak checker of a sanitizer
// build cannot work under a tracer and is turned off for the traced rplc.
std::vector<std::string> Strace(const std::string& injection) {
  return {"strace", "-qq", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0",
          "-e", "inject=" + injection};
}

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::file_size(path, ignored);
}

char FirstByte(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char c = 0;
  in.get(c);
  return c;
}

// Polls ready every millisecond for up to 10 s.
template <class F>
bool Await(F&& ready) {
  for (int wait = 0; wait < 10000; ++wait) {
    if (ready()) return true;
    ::usleep(1000);
  }
  return false;
}

// The report of a file whose contents another process changed meanwhile.
std::string ContentsChangedReport(const std::string& file) {
  return "[ERROR] can't write to file: " + file + "\n"
         "  CDir::WriteFile - error replace file contents\n"
         "  file name   = " + file + "\n"
         "  failed step = check that the file is the one that was read\n"
         "  error desc  = the file changed while it was being processed: "
         "its contents were changed\n";
}

// A file with a second hard link is rewritten in place. The signal comes
// while the file is half rewritten: grown but not yet written, or written
// but not yet cut. It must wait until the file is whole and cut, then end
// the process as it would have.
TEST(WriteBackTest, InterruptDuringAnInPlaceRewriteWaitsUntilTheFileIsWhole) {
  if (!StraceWorks()) GTEST_SKIP() << "strace is missing or cannot trace here";
  const std::size_t size = 4u << 20;
  const struct {
    const char* what;
    std::string before, find, replace, after;
    const char* slowed;  // the call after which rplc is held up
  } rows[] = {
      {"growing", std::string(size, 'x'), "x", "yy", std::string(2 * size, 'y'), "fallocate"},
      {"shrinking", std::string(size, 'x'), "xx", "y", std::string(size / 2, 'y'), "pwrite64"},
  };
  for (const auto& row : rows) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      TempDir dir;
      dir.Write("f.txt", row.before);
      ASSERT_EQ(::link((dir.path() + "/f.txt").c_str(), (dir.path() + "/link").c_str()), 0);
      const std::string path = dir.path() + "/f.txt";
      const bool growing = row.after.size() > row.before.size();
      bool struck = false;
      const RunResult r = RunRplcUnder(
          Strace(std::string(row.slowed) + ":delay_exit=500000"),
          {"f.txt", "-f=" + row.find, "-t=" + row.replace}, dir.path(), [&](int pid) {
            // The half-way state shows: a longer file, or new first bytes.
            struck = Await([&] {
              return growing ? SizeOf(path) == row.after.size() : FirstByte(path) == 'y';
            });
            ::kill(pid, signal_number);
          });
      const std::string where = std::string(row.what) + ", signal " + std::to_string(signal_number);
      ASSERT_TRUE(struck) << where;
      EXPECT_EQ(r.status, 128 + signal_number) << where << "\n" << r.err;
      EXPECT_TRUE(dir.Read("f.txt") == row.after) << where << ": " << SizeOf(path) << " bytes";
      EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"f.txt", "link"})) << where;
    }
  }
}

// Another process appends to the file while rplc prepares its new contents
// (held up just before it checks the file): the append is kept, the error
// names the file and the run goes on with the next file.
TEST(WriteBackTest, AFileChangedDuringTheRunIsReportedAndLeftAlone) {
  if (!StraceWorks()) GTEST_SKIP() << "strace is missing or cannot trace here";
  TempDir dir;
  dir.Write("a.txt", "old text\n");
  dir.Write("b.txt", "old text\n");
  bool appended = false;
  const RunResult r = RunRplcUnder(
      Strace("fchmod:delay_exit=1500000:when=1"),
      {"a.txt", "b.txt", "-f=old", "-t=new"}, dir.path(), [&](int pid) {
        // The new contents are ready before the mode is set; the first
        // fchmod is held up 1.5 s, long enough for the append.
        (void)pid;
        ::usleep(500000);
        std::ofstream(dir.path() + "/a.txt", std::ios::app) << "appended by another process\n";
        appended = true;
      });
  ASSERT_TRUE(appended);
  EXPECT_EQ(r.err, ContentsChangedReport(dir.path() + "/a.txt"));
  EXPECT_EQ(dir.Read("a.txt"), "old text\nappended by another process\n");
  EXPECT_EQ(dir.Read("b.txt"), "new text\n");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// A file that another process writes to while rplc is still reading it, a
// chunk at a time, is reported as changed and left as that process left it:
// the check covers the whole read, not only its start.
TEST(WriteBackTest, AFileWrittenToWhileItIsStreamedIsLeftAlone) {
  if (!StraceWorks()) GTEST_SKIP() << "strace is missing or cannot trace here";
  TempDir dir;
  // The match lies beyond the first chunk, so its unchanged start is copied
  // (copy_file_range) before the rest is read; that copy is held up.
  const std::string start(300 * 1024, 's');
  const std::string rest(600 * 1024, 'r');
  dir.Write("a.txt", start + "old" + rest);
  bool written = false;
  const RunResult r = RunRplcUnder(
      Strace("copy_file_range:delay_exit=1500000:when=1"), {"a.txt", "-f=old", "-t=new"},
      dir.path(), [&](int pid) {
        (void)pid;
        ::usleep(500000);
        std::fstream file(dir.path() + "/a.txt", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(start.size() + 3 + rest.size() - 5));
        file << "OTHER";
        written = true;
      });
  ASSERT_TRUE(written);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, ContentsChangedReport(dir.path() + "/a.txt"));
  EXPECT_TRUE(dir.Read("a.txt") == start + "old" + rest.substr(0, rest.size() - 5) + "OTHER");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.txt"}));
}

// A file removed, or swapped for a link, between the read and the write is
// neither created again nor written through the link.
TEST(WriteBackTest, AFileRemovedOrSwappedForALinkIsNotWritten) {
  if (!StraceWorks()) GTEST_SKIP() << "strace is missing or cannot trace here";
  for (const bool swap : {false, true}) {
    TempDir dir;
    dir.Write("a.txt", "old text\n");
    dir.Write("secret", "old secret\n");
    const RunResult r = RunRplcUnder(
        Strace("fchmod:delay_exit=1500000:when=1"),
        {"a.txt", "-f=old", "-t=new"}, dir.path(), [&](int) {
          ::usleep(500000);
          ::unlink((dir.path() + "/a.txt").c_str());
          if (swap) ::symlink("secret", (dir.path() + "/a.txt").c_str());
        });
    const std::string change = swap ? "a symbolic link took its name" : "it was removed or renamed";
    EXPECT_NE(r.err.find("error desc  = the file changed while it was being processed: " + change),
              std::string::npos)
        << r.err;
    EXPECT_EQ(dir.Read("secret"), "old secret\n");
    EXPECT_EQ(Listing(dir.path()), swap ? (std::vector<std::string>{"a.txt", "secret"})
                                        : std::vector<std::string>{"secret"});
  }
}

}  // namespace
}  // namespace rplc_test
