#include "support/fs/sys_file.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <string>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::TempTree;

std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer B(const std::string& s) { return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size())); }
std::string Desc(int error) { return S(GetSysErrorDesc(error)); }

template <class F>
std::pair<int, std::string> CatchFile(F&& f) {
  try {
    f();
  } catch (const sysfileExp& e) {
    return {e.GetCode(), S(e.GetMessage())};
  }
  return {-1, ""};
}

TEST(SysFileTest, OpenFailureNamesTheFullPath) {
  TempTree tree;
  test::ScopedCwd cwd(tree.path());
  CSysFile file;
  const auto got = CatchFile([&] {
    file.Open(B("sub/../missing"), GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, 0);
  });
  EXPECT_EQ(got.first, 4);
  EXPECT_EQ(got.second, "CSysFile::Open - error open file\n"
                        "  file name  = " + S(CDir::GetPwd()) + "missing\n"
                        "  sys error  = 2\n"
                        "  error desc = " + Desc(2));
  EXPECT_EQ(file.GetHandle(), os::invalid_file_handle);
  EXPECT_EQ(S(file.GetPath()), "");
}

TEST(SysFileTest, OpenWithoutFullPathCarriesTheInnerMessage) {
  TempTree tree;
  const test::ChildResult result = test::RunInChild([&] {
    const std::string gone = tree / "gone";
    ::mkdir(gone.c_str(), 0700);
    if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0) return std::string("setup");
    CSysFile file;
    const auto got = CatchFile([&] { file.Open(B("x"), GENERIC_READ, OPEN_EXISTING, 0, 0, 0); });
    return std::to_string(got.first) + "|" + got.second;
  });
  EXPECT_EQ(result.output, "4|CSysFile::Open - failed determine the file path to open\n"
                           "  file name  = x\n"
                           "@ CDir::ConvToFullPath - error convert to full path\n"
                           "  path to convert   = x\n"
                           "  system error no   = 2\n"
                           "  system error desc = " + Desc(2));
}

TEST(SysFileTest, SeekResizeSizeAndSharedCopies) {
  TempTree tree;
  CSysFile copy;
  {
    CSysFile file;
    file.Open(B(tree / "f"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW, 0, FILE_ATTRIBUTE_NORMAL, 0);
    EXPECT_EQ(S(file.GetPath()), tree / "f");
    EXPECT_EQ(file.Write("hello world", 11), 11u);
    EXPECT_EQ(file.GetSize(), 11u);
    EXPECT_EQ(file.Seek(5), 5u);
    file.ResizeToCurrentPos();
    EXPECT_EQ(file.SeekFromEnd(0), 5u);
    EXPECT_EQ(SeekFile(file.GetHandle(), -2, FILE_CURRENT), 3u);
    file.Flush();
    copy = file;
  }
  // The copy keeps the shared handle open after the original is gone.
  EXPECT_EQ(copy.GetSize(), 5u);
  char text[8] = {};
  copy.Seek(0);
  EXPECT_EQ(copy.Read(text, sizeof text), 5u);  // short only at the end
  EXPECT_EQ(std::string(text, 5), "hello");
  EXPECT_EQ(test::ReadAll(tree / "f"), "hello");
}

TEST(SysFileTest, EveryOperationReportsItsOwnFailure) {
  CSysFile closed;  // no handle: every call fails with EBADF
  char byte = 0;
  const std::string tail = "\n  sys error  = 9\n  error desc = " + Desc(9);
  const struct {
    std::pair<int, std::string> got;
    int code;
    const char* head;
  } cases[] = {
      {CatchFile([&] { closed.Read(&byte, 1); }), 7, "CSysFile::Read - error reading file"},
      {CatchFile([&] { closed.Write(&byte, 1); }), 9, "CSysFile::Write - error writing file"},
      {CatchFile([&] { closed.Seek(0); }), 13, "SeekFile - error seek file pointer"},
      {CatchFile([&] { closed.SeekFromEnd(0); }), 13, "SeekFile - error seek file pointer"},
      {CatchFile([&] { closed.ResizeToCurrentPos(); }), 23,
       "CSysFile::ResizeToCurrentPos - error set end of file"},
      {CatchFile([&] { closed.Flush(); }), 15, "CSysFile::Flush - error flush file buffer"},
      {CatchFile([&] { closed.GetSize(); }), 17, "CSysFile::GetSize - error getting file size"},
      {CatchFile([&] { CSysFile::__Close(1000000); }), 6, "CSysFile::__Close - error close file handle"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.first, c.code) << c.head;
    EXPECT_EQ(c.got.second, c.head + tail);
  }
  CSysFile::__Close(os::invalid_file_handle);  // ignored
}

TEST(SysFileTest, PipesEndWithZeroAndBrokenPipeHasItsOwnCode) {
  const test::ChildResult result = test::RunInChild([] {
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe(fds) != 0) return std::string("setup");
    std::string out;
    {
      CSysFile reader;
      reader.Open(B("/proc/self/fd/" + std::to_string(fds[0])), GENERIC_READ, OPEN_EXISTING, 0, 0, 0);
      (void)!::write(fds[1], "abc", 3);
      ::close(fds[1]);
      char text[16];
      out += std::to_string(reader.Read(text, sizeof text)) + ",";  // whole data, then the end
      out += std::to_string(reader.Read(text, sizeof text)) + "|";
    }
    ::close(fds[0]);
    if (::pipe(fds) != 0) return std::string("setup");
    CSysFile writer;
    writer.Open(B("/proc/self/fd/" + std::to_string(fds[1])), GENERIC_WRITE, OPEN_EXISTING, 0, 0, 0);
    ::close(fds[0]);
    const auto got = CatchFile([&] { writer.Write("x", 1); });
    return out + std::to_string(got.first) + "|" + got.second;
  });
  EXPECT_EQ(result.output, "3,0|34|CSysFile::Write - error writing pipe\n"
                           "  sys error  = 32\n"
                           "  error desc = " + Desc(32));
}

}  // namespace
}  // namespace Velk
