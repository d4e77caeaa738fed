#include <gtest/gtest.h>

#include "support/core/exceptions.h"
#include "support/text/dll_loader.h"
#include "tests/support/text/conv_test_util.h"

namespace Velk {
namespace {

using test::narrow;
using test::str;

TEST(DllLoader, FileNames) {
  const struct {
    const char *base, *version, *extension, *file;
  } cases[] = {
      {"iconv", "", "dll", "libiconv.so"},
      {"icuuc", "72", "dll", "libicuuc.so.72"},
      {"c", "6", "dll", "libc.so.6"},
      {"a/b", "", "dll", "a/libb.so"},
      {"/usr/lib/x", "1", "so", "/usr/lib/libx.so.1"},
      {"a/b", "", "", "a/b"},
      {"name", "38", "", "name38"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(str(CDllLoader::FileName(narrow(c.base), narrow(c.version),
                                       narrow(c.extension))),
              c.file);
}

// The loader's message up to the error number, which depends on the system.
std::string head_of(const dlllExp& e) {
  const std::string text = str(e.GetMessage());
  return text.substr(0, text.find("  sys error code"));
}

TEST(DllLoader, FailedLoadNamesTheFileAndItsBytesOnPosix) {
  const struct {
    const char* base;
    const char* expected;
  } cases[] = {
      {"ab",
       "CDllLoader::CDllLoader - error loading dynamic library\n"
       "  dll path       = ab\n"
       "  path hex code  = 6162\n"},
      {"a/b",
       "CDllLoader::CDllLoader - error loading dynamic library\n"
       "  dll path       = a/b\n"
       "  path hex code  = 612F62\n"},
  };
  for (const auto& c : cases) {
    try {
      CDllLoader loader(narrow(c.base), narrow_buffer(), narrow_buffer());
      ADD_FAILURE() << "loaded " << c.base;
    } catch (const dlllExp& e) {
      EXPECT_EQ(e.GetCode(), 1);
      EXPECT_EQ(head_of(e), c.expected);
      // The last line is the loader's own text, which names the file.
      const std::string text = str(e.GetMessage());
      const std::size_t desc = text.find("\n  sys error desc = ");
      ASSERT_NE(desc, std::string::npos) << text;
      EXPECT_NE(text.find(c.base, desc), std::string::npos) << text;
      EXPECT_NE(text.back(), '\n');
    }
  }
}

TEST(DllLoader, ResolvesEntryPointsAndReportsMissingOnesOnPosix) {
  CDllLoader libc(narrow("c"), narrow("6"), narrow("dll"));
  EXPECT_NE(libc.GetProc(narrow("strlen")), nullptr);
  try {
    libc.GetProc(narrow("no_such_entry_point"));
    ADD_FAILURE() << "resolved a missing entry point";
  } catch (const dlllExp& e) {
    EXPECT_EQ(e.GetCode(), 3);
    EXPECT_EQ(head_of(e),
              "CDllLoader::GetProc - error get the address of specific proc\n"
              "  proc name      = no_such_entry_point\n");
    EXPECT_NE(str(e.GetMessage()).find("\n  sys error desc = "), std::string::npos);
  }
}

}  // namespace
}  // namespace Velk
