// The folder walk: version-control folders, names that look like
// wildcards, trees deeper than a path may be long, and names without
// wildcards looked up directly.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "tests/support/core/child_process.h"
#include "tests/support/fs/deep_chain.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::DeepChain;
using test::ScopedCwd;
using test::TempTree;

std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer B(const std::string& s) { return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size())); }

std::vector<std::string> Found(CDir& dir, const std::string& pattern, bool recursive,
                               bool hidden = true) {
  FileList list;
  dir.GetAllFiles(list, B(pattern), recursive, hidden, false);
  std::vector<std::string> out;
  for (const narrow_buffer& each : list) out.push_back(S(each));
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Folders(CDir& dir, bool recursive) {
  FileList list;
  dir.GetAllSubDirs(list, B("*"), recursive, true, false, false);
  std::vector<std::string> out;
  for (const narrow_buffer& each : list) out.push_back(S(each));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(DirWalkTest, VersionControlFoldersAreNeverEnteredByRecursion) {
  TempTree tree;
  tree.file("a.txt");
  for (const char* vcs : {".git", ".hg", ".svn", ".bzr", "_darcs", "CVS"}) {
    tree.dir(vcs);
    tree.file(std::string(vcs) + "/index");
  }
  tree.dir(".git/logs");
  tree.file(".git/logs/HEAD");
  tree.dir("sub");
  tree.file("sub/b.txt");
  tree.dir("sub/.svn");
  tree.file("sub/.svn/entries");
  tree.file("sub/.git");  // a file of that name (a linked working tree) is a file
  tree.dir("sub/git");    // names that merely resemble them are searched
  tree.file("sub/git/c");
  // A pattern naming a folder is told apart relative to the current folder.
  ScopedCwd cwd(tree.path());
  CDir dir(B("."), false, false);

  EXPECT_EQ(Found(dir, "*", true), (std::vector<std::string>{tree / "a.txt", tree / "sub/.git",
                                                             tree / "sub/b.txt",
                                                             tree / "sub/git/c"}));
  EXPECT_EQ(Folders(dir, true), (std::vector<std::string>{tree / "sub", tree / "sub/git"}));
  // Without recursion a version-control folder is an ordinary folder.
  EXPECT_EQ(Folders(dir, false).size(), 7u);
  // A pattern that names a path inside one still works, with or without -s.
  EXPECT_EQ(Found(dir, ".git/*", true),
            (std::vector<std::string>{tree / ".git/index", tree / ".git/logs/HEAD"}));
  EXPECT_EQ(Found(dir, ".git/index", false), (std::vector<std::string>{tree / ".git/index"}));
  EXPECT_EQ(Found(dir, "sub/.svn", false), (std::vector<std::string>{tree / "sub/.svn/entries"}));
}

TEST(DirWalkTest, NamesHoldingWildcardCharactersAreTakenAsTheyAre) {
  TempTree tree;
  for (const char* folder : {"*", "?", "[a]", "sub"}) tree.dir(folder);
  tree.file("*/a.txt");
  tree.file("?/q.txt");
  tree.file("[a]/r.txt");
  tree.file("sub/x.txt");
  tree.file("sub/*.txt");  // a file literally named "*.txt"
  CDir dir(B(tree.path()), false, false);
  EXPECT_EQ(Found(dir, "*.txt", true),
            (std::vector<std::string>{tree / "*/a.txt", tree / "?/q.txt", tree / "[a]/r.txt",
                                      tree / "sub/*.txt", tree / "sub/x.txt"}));
  EXPECT_EQ(Folders(dir, true),
            (std::vector<std::string>{tree / "*", tree / "?", tree / "[a]", tree / "sub"}));
  // In a pattern's folder part "*" is a name; in its last part a wildcard.
  EXPECT_EQ(Found(dir, "*/*", false), (std::vector<std::string>{tree / "*/a.txt"}));
  EXPECT_EQ(Found(dir, "sub/*.txt", false),
            (std::vector<std::string>{tree / "sub/*.txt", tree / "sub/x.txt"}));
}

TEST(DirWalkTest, TreesDeeperThanAPathMayBeLongAreWalked) {
  TempTree tree;
  tree.file("top.txt");
  const DeepChain chain(tree.path());
  ASSERT_TRUE(chain.ok());
  ASSERT_GT(chain.DeepFile().size(), std::size_t(PATH_MAX));
  CDir dir(B(tree.path()), false, false);
  // Strict error policy: a failure anywhere would throw.
  EXPECT_EQ(Found(dir, "*.txt", true),
            (std::vector<std::string>{chain.DeepFile(), tree / "top.txt"}));
  FileList folders;
  dir.GetAllSubDirs(folders, B("*"), true, true, false, false);
  EXPECT_EQ(folders.size(), std::size_t(DeepChain::kDepth));
}

TEST(DirWalkTest, ANameWithoutWildcardsIsLookedUpDirectly) {
  TempTree tree;
  tree.file("a.txt");
  tree.file(".h.txt");
  tree.dir("sub");
  tree.file("sub/x.txt");
  tree.dir("sub/inner");
  tree.file("sub/inner/y.txt");
  tree.link("a.txt", "via.txt");
  ScopedCwd cwd(tree.path());
  CDir dir(B("."), false, false);
  const struct {
    std::string pattern;
    bool hidden;
    std::vector<std::string> files;
  } cases[] = {
      {"a.txt", true, {tree / "a.txt"}},
      {"./a.txt", true, {tree / "a.txt"}},
      {"sub/../a.txt", true, {tree / "a.txt"}},
      {"sub/x.txt", true, {tree / "sub/x.txt"}},
      {tree / "sub/x.txt", true, {tree / "sub/x.txt"}},
      {"via.txt", true, {tree / "via.txt"}},      // a link to a file is that file
      {".h.txt", true, {tree / ".h.txt"}},
      {".h.txt", false, {}},                      // hidden, not wanted
      {"sub", true, {tree / "sub/x.txt"}},        // a folder: its files, as before
      {"nosuch.txt", true, {}},                   // missing: no match, no error
      {"sub/nosuch", true, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Found(dir, c.pattern, false, c.hidden), c.files) << c.pattern;
  // With recursion a plain name is still looked for in every sub-folder.
  tree.file("sub/inner/a.txt");
  EXPECT_EQ(Found(dir, "a.txt", true),
            (std::vector<std::string>{tree / "a.txt", tree / "sub/inner/a.txt"}));
  // A missing folder is still an error.
  FileList list;
  try {
    dir.GetAllFiles(list, B("nosuch/a.txt"), false, true, true);
    ADD_FAILURE() << "no error for a missing folder";
  } catch (const dirExp& e) {
    EXPECT_EQ(e.GetCode(), 3);
  }
}

TEST(DirWalkTest, AFileInAFolderThatCannotBeListedCanBeNamed) {
  TempTree tree;
  tree.dir("locked");
  tree.file("locked/f.txt");
  ASSERT_EQ(::chmod((tree / "locked").c_str(), 0711), 0);
  const test::ChildResult result = test::RunInChild(
      [&] {
        CDir dir(B(tree.path()), false, false);
        std::string out;
        for (const std::string& each : Found(dir, "locked/f.txt", false)) out += each;
        out += "|";
        FileList listed;
        dir.GetAllFiles(listed, B("locked/*.txt"), false, true, true);
        out += std::to_string(listed.size());
        return out;
      },
      true);
  if (result.status == 99) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output, tree / "locked/f.txt" + "|0");
}

// A name in the folder itself that nothing has (a dangling link's included)
// is settled by its status call: the folder is not listed for it, so a long
// list of such names costs a call each, and a folder that cannot be listed
// gives no error for them.
TEST(DirWalkTest, AMissingNameIsSettledWithoutAListing) {
  TempTree tree;
  tree.dir("locked");
  tree.file("locked/f.txt");
  tree.link("gone.txt", "locked/dangling.txt");
  ASSERT_EQ(::chmod((tree / "locked").c_str(), 0711), 0);
  const test::ChildResult result = test::RunInChild(
      [&] {
        CDir dir(B(tree / "locked"), false, false);
        std::string out;
        for (const char* name : {"nosuch.txt", "dangling.txt", "f.txt"}) {
          FileList listed;
          try {
            dir.GetAllFiles(listed, B(name), false, true, false);
            out += std::to_string(listed.size());
          } catch (const dirExp&) {
            out += "listed";
          }
        }
        return out;
      },
      true);
  if (result.status == 99) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "001");
}

}  // namespace
}  // namespace Velk

namespace Velk {
namespace {

// Keeps every entry a walk reports, each with its folder kept open.
struct KEEP_ALL : TWalkSink {
  std::vector<WALK_ENTRY> entries;
  void Found(WALK_ENTRY& entry) override { entries.push_back(entry); }
  bool FolderFailed(const narrow_buffer&, const dirExp&) override { return true; }
  bool WantsFolders() const override { return true; }
};

// Files a walk finds come with their folder kept open: a file read through
// it is the file named, found by its name within that folder (so even a
// folder renamed meanwhile still gives it), and however many folders the
// walk passes, no more than the limit are held at once.
TEST(DirWalkTest, FilesComeWithTheirFolderOpenWithinTheLimit) {
  KEEP_ALL sink;
  TempTree tree;
  const int folders = kSharedFolderLimit + 10;
  for (int i = 0; i < folders; ++i) {
    const std::string sub = "d" + std::to_string(i);
    tree.dir(sub);
    tree.file(sub + "/a.txt", "text " + std::to_string(i));
    tree.file(sub + "/b.txt", "more");
  }
  ScopedCwd cwd(tree.path());
  CDir dir(B("."), false, false);
  dir.WalkFiles(sink, B("*.txt"), true, true);
  ASSERT_EQ(sink.entries.size(), std::size_t(2 * folders));
  int held = 0;
  for (std::size_t k = 0; k < sink.entries.size(); k += 2) {
    const WALK_ENTRY& a = sink.entries[k];
    // Both files of a folder share its one handle, or neither has one.
    EXPECT_EQ(a.folder, sink.entries[k + 1].folder);
    if (a.folder) ++held;
  }
  EXPECT_EQ(held, kSharedFolderLimit);

  const WALK_ENTRY& first = sink.entries.front();
  ASSERT_TRUE(first.folder);
  const std::string name = S(first.path);
  const std::string folder = name.substr(0, name.rfind('/'));
  narrow_buffer before, content;
  CDir::ReadFile(first.path, before);
  ASSERT_EQ(::rename(folder.c_str(), (folder + ".moved").c_str()), 0);
  CDir::ReadFile(first.path, first.folder, content, 1000, nullptr, &first.identity, false);
  EXPECT_EQ(S(content), S(before));
  // Without its folder the name alone no longer reaches it.
  EXPECT_THROW(CDir::ReadFile(first.path, FolderRef(), content, 1000, nullptr, nullptr, false),
               sysfileExp);
  ASSERT_EQ(::rename((folder + ".moved").c_str(), folder.c_str()), 0);
}

// Records what a walk hands over, and can act on the tree while it runs.
class CRecordingSink : public TWalkSink {
 public:
  std::function<void(const WALK_ENTRY&)> on_found;
  std::vector<WALK_ENTRY> found;
  std::vector<std::string> failed;  // the folders, then each message

  void Found(WALK_ENTRY& entry) override {
    if (on_found) on_found(entry);
    found.push_back(entry);
  }
  bool FolderFailed(const narrow_buffer& folder, const dirExp& error) override {
    failed.push_back(S(folder));
    failed.push_back(S(error.GetMessage()));
    return true;
  }
};

int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(DirWalkTest, EntriesCarryTheIdentityTheirStatusGivesAndHowTheyWereFound) {
  TempTree tree;
  tree.file("a.txt");
  tree.dir("sub");
  tree.file("sub/b.txt");
  ASSERT_EQ(link((tree / "a.txt").c_str(), (tree / "sub/hard.txt").c_str()), 0);
  tree.link("a.txt", "alias.txt");
  CDir dir(B(tree.path()), false, false);
  for (const char* pattern : {"*.txt", "alias.txt", "sub/b.txt"}) {
    SCOPED_TRACE(pattern);
    CRecordingSink sink;
    dir.WalkFiles(sink, B(pattern), std::string(pattern) == "*.txt", true);
    ASSERT_FALSE(sink.found.empty());
    for (const WALK_ENTRY& entry : sink.found) {
      struct stat status {};
      ASSERT_EQ(stat(entry.path.c_str(), &status), 0) << S(entry.path);
      EXPECT_TRUE(entry.identity.known);
      EXPECT_EQ(entry.identity.volume, std::uint64_t(status.st_dev));
      EXPECT_EQ(entry.identity.file_number, std::uint64_t(status.st_ino));
      EXPECT_EQ(entry.by_wildcard, std::string(pattern) == "*.txt");
      EXPECT_EQ(S(entry.path).substr(entry.name_offset).find('/'), std::string::npos);
    }
  }
  // The link is left to wildcards; the hard link is found under its name.
  CRecordingSink sink;
  dir.WalkFiles(sink, B("*.txt"), true, true);
  std::vector<std::string> names;
  for (const WALK_ENTRY& entry : sink.found) names.push_back(S(entry.path));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{tree / "a.txt", tree / "sub/b.txt",
                                             tree / "sub/hard.txt"}));
}

// A chain far deeper than the walk may hold folders open, with a file and
// a leaf folder at every level: the walk never holds more than its bound,
// and comes back up through folders whose handles it had closed.
TEST(DirWalkTest, DeepTreesAreWalkedWithABoundedNumberOfOpenFolders) {
  constexpr int kDepth = int(kWalkOpenFolderLimit) * 4;
  TempTree tree;
  std::string folder;
  for (int level = 0; level < kDepth; ++level) {
    tree.file(folder + "f.txt");
    tree.dir(folder + "leaf");
    tree.file(folder + "leaf/g.txt");
    folder += "d/";
    tree.dir(folder);
  }
  CDir dir(B(tree.path()), false, false);
  CRecordingSink sink;
  const int before = OpenDescriptors();
  int most = before;
  sink.on_found = [&](const WALK_ENTRY&) { most = std::max(most, OpenDescriptors()); };
  dir.WalkFiles(sink, B("*.txt"), true, true);
  EXPECT_EQ(sink.found.size(), std::size_t(2 * kDepth));
  EXPECT_TRUE(sink.failed.empty());
  EXPECT_LE(most - before, int(kWalkOpenFolderLimit) + 2);  // + the one being counted
  EXPECT_EQ(OpenDescriptors(), before);
}

// A folder moved away while the walk is below it, after its handle was
// closed: going back up leads to the folder it now is in, which is not the
// one the walk left, so the rest of that folder is reported, not walked.
TEST(DirWalkTest, AFolderMovedWhileItsHandleWasClosedIsReported) {
  const int kDepth = int(kWalkOpenFolderLimit) + 4;
  TempTree tree;
  tree.dir("elsewhere");
  tree.dir("top");
  std::string folder = "top/";
  for (int level = 0; level < kDepth; ++level) {
    folder += "d/";
    tree.dir(folder);
  }
  tree.file(folder + "deep.txt");
  // Sub-folders of top/d beside the chain: those listed after it are left
  // when the walk finds it moved.
  constexpr int kSiblings = 6;
  for (int i = 0; i < kSiblings; ++i) {
    tree.dir("top/d/z" + std::to_string(i));
    tree.file("top/d/z" + std::to_string(i) + "/late.txt");
  }
  CDir dir(B(tree.path() + "/top"), false, false);
  CRecordingSink sink;
  sink.on_found = [&](const WALK_ENTRY& entry) {
    if (S(entry.path).find("deep.txt") != std::string::npos)
      rename((tree / "top/d/d").c_str(), (tree / "elsewhere/d").c_str());
  };
  dir.WalkFiles(sink, B("*.txt"), true, true);
  int late = 0;
  for (const WALK_ENTRY& entry : sink.found)
    late += S(entry.path).find("late.txt") != std::string::npos;
  if (late == kSiblings) {
    EXPECT_TRUE(sink.failed.empty()) << "nothing was left to walk";  // all listed before the chain
    return;
  }
  ASSERT_EQ(sink.failed.size(), 2u);
  EXPECT_EQ(sink.failed[0], tree / "top/d/");
  EXPECT_NE(sink.failed[1].find("moved or replaced"), std::string::npos) << sink.failed[1];
  EXPECT_EQ(sink.found.size(), std::size_t(late) + 1);
  EXPECT_EQ(S(sink.found[std::size_t(late)].path).find("deep.txt") != std::string::npos, true);
}

// Names given one by one and looked up by one listing of the folder they
// share come out as each name alone finds them; what the listing cannot
// settle is left to that lookup.
TEST(DirWalkTest, NamesSharingAFolderAreFoundAsEachAloneIs) {
  TempTree tree;
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) {
    names.push_back("f" + std::to_string(i) + ".c");
    tree.file(names.back());
  }
  tree.file(".hidden");
  tree.link("f0.c", "link.c");
  tree.link("gone.c", "dangling.c");
  tree.dir("folder");
  tree.dir("sub");
  tree.file("sub/alone.c");
  ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);
  const std::vector<std::string> left = {"f3.c",      ".hidden", "link.c",     "dangling.c",
                                         "folder",    "fifo",    "missing.c",  "sub/alone.c",
                                         "*.c",       "",        "./f4.c",     "missing.c",
                                         "sub/no.c"};
  names.insert(names.end(), left.begin(), left.end());
  std::vector<narrow_buffer> given;
  for (const std::string& name : names) given.push_back(B(name));
  CDir dir(B(tree.path()), false, false);
  for (const bool hidden : {true, false}) {
    std::vector<WALK_ENTRY> found;
    std::vector<bool> absent;
    dir.FindNamedFiles(given, found, hidden, true, &absent);
    ASSERT_EQ(found.size(), given.size());
    ASSERT_EQ(absent.size(), given.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i] + (hidden ? " with hidden names" : ""));
      // Only a name missing from a folder listed whole is known absent; a
      // link (even a dangling one) is in the listing, and a folder of few
      // names is not listed.
      EXPECT_EQ(absent[i], names[i] == "missing.c");
      const bool listed = (i < 10 || names[i] == "f3.c" || names[i] == "./f4.c" ||
                           (hidden && names[i] == ".hidden"));
      if (!listed) {
        EXPECT_TRUE(found[i].path.empty());
        continue;
      }
      KEEP_ALL alone;
      dir.WalkFiles(alone, given[i], false, hidden);
      ASSERT_EQ(alone.entries.size(), 1u);
      EXPECT_EQ(S(found[i].path), S(alone.entries[0].path));
      EXPECT_EQ(found[i].name_offset, alone.entries[0].name_offset);
      EXPECT_TRUE(found[i].identity == alone.entries[0].identity);
      EXPECT_FALSE(found[i].by_wildcard);
      EXPECT_TRUE(found[i].folder != nullptr);
    }
  }
  // A few names in a folder are left to their own lookups.
  std::vector<WALK_ENTRY> found;
  dir.FindNamedFiles({B("f1.c"), B("f2.c")}, found, true, true);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[0].path.empty() && found[1].path.empty());
}

// Names looked for in every folder of a tree by one walk: each name's sink
// gets what that name's own walk finds, in the same order, also for names
// given twice, hidden names, names of links and names that match nothing.
TEST(DirWalkTest, OneWalkForSeveralNamesFindsWhatEachNameAloneFinds) {
  TempTree tree;
  for (const std::string folder : {"", "a/", "a/b/", "a/b/c/", ".hid/", "z/", "z/.git/"}) {
    if (!folder.empty()) tree.dir(folder);
    tree.file(folder + "f.c");
    tree.file(folder + "g.c");
    tree.file(folder + ".h.c");
  }
  tree.link("f.c", "a/lnk.c");
  tree.dir("a/f.c.d");
  tree.file("a/f.c.d/f.c");
  tree.file("a/F.C");
  const std::vector<std::string> names = {"f.c", "g.c", "f.c", ".h.c", "lnk.c", "F.C",
                                          "missing.c", "f.c.d"};
  std::vector<narrow_buffer> given;
  for (const std::string& name : names) given.push_back(B(name));
  CDir dir(B(tree.path()), false, false);
  for (const bool hidden : {true, false}) {
    std::vector<KEEP_ALL> together(names.size());
    std::vector<TWalkSink*> sinks;
    for (KEEP_ALL& sink : together) sinks.push_back(&sink);
    dir.WalkTreeForNames(given, sinks, hidden);
    for (std::size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i] + (hidden ? " with hidden names" : ""));
      KEEP_ALL alone;
      dir.WalkFiles(alone, given[i], true, hidden);
      ASSERT_EQ(together[i].entries.size(), alone.entries.size());
      for (std::size_t k = 0; k < alone.entries.size(); ++k) {
        EXPECT_EQ(S(together[i].entries[k].path), S(alone.entries[k].path));
        EXPECT_EQ(together[i].entries[k].name_offset, alone.entries[k].name_offset);
        EXPECT_TRUE(together[i].entries[k].identity == alone.entries[k].identity);
        EXPECT_EQ(together[i].entries[k].by_wildcard, alone.entries[k].by_wildcard);
      }
    }
    // f.c in every folder a walk enters: ".", a, a/b, a/b/c, a/f.c.d, z
    // and, with hidden names, .hid (never z/.git).
    EXPECT_EQ(together[0].entries.size(), hidden ? 7u : 6u);
  }
  EXPECT_TRUE(CDir::IsBareName(B("f.c")));
  for (const char* not_bare : {"", ".", "..", "a/f.c", "*.c", "f?.c", "a/"})
    EXPECT_FALSE(CDir::IsBareName(B(not_bare))) << not_bare;
}

}  // namespace
}  // namespace Velk
