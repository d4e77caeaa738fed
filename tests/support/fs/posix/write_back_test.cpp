// The write-back's promises under attack, grouped by fault: interrupts
// during an in-place rewrite, a process killed outright, metadata that
// must survive (extended attributes, access control lists, a folder's
// default list), and files changed, removed or swapped by another process
// between the read and the write. Each moment is struck exactly through
// the replacement's test probe.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/streamed_file.h"
#include "support/fs/write_back.h"
#include "support/os/file_replace.h"
#include "tests/support/fs/temp_tree.h"

namespace Velk {
namespace {

using test::Names;
using test::ReadAll;
using test::TempTree;

std::string S(const narrow_buffer& b) { return std::string(b.c_str(), b.length()); }
narrow_buffer B(const std::string& s) {
  return narrow_buffer(s.c_str(), narrow_buffer::size_type(s.size()));
}

ino_t Inode(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status.st_ino;
}

// --- the probe ---------------------------------------------------------------

os::replace_moment g_strike_at;
std::function<void()> g_strike;

void Strike(os::replace_moment moment) {
  if (moment == g_strike_at && g_strike) g_strike();
}

// Runs f with the probe striking at moment; the probe is gone afterwards.
template <class F>
void WithStrike(os::replace_moment moment, std::function<void()> strike, F&& f) {
  g_strike_at = moment;
  g_strike = std::move(strike);
  os::set_replace_probe(Strike);
  try {
    f();
  } catch (...) {
    os::set_replace_probe(nullptr);
    g_strike = nullptr;
    throw;
  }
  os::set_replace_probe(nullptr);
  g_strike = nullptr;
}

// Reads path as the driver does and writes data back with the identity.
void ReadAndWrite(const std::string& path, const std::string& data) {
  narrow_buffer content;
  FILE_IDENTITY identity;
  CDir::ReadFile(B(path), content, narrow_buffer::max_size - 1, &identity);
  CDir::WriteFile(B(path), B(data), false, false, &identity);
}

// Streams path as the file mode does a large file, in pieces (the first of
// 5 bytes), and replaces it by data: the unchanged start that both share
// is copied from the file, the rest written in pieces. between(n) runs
// after each piece read, n bytes read so far.
void StreamAndWrite(const std::string& path, const std::string& data,
                    const std::function<void(std::uint64_t)>& between = nullptr) {
  FILE_IDENTITY opened;
  CDir::OpenToRead(B(path), FolderRef(), opened, nullptr, true, true);
  CStreamedFile stream;
  stream.Attach(opened);
  std::string old;
  std::vector<char> piece(64 * 1024);
  std::size_t room = 5;
  while (const std::size_t n = stream.Read(piece.data(), room)) {
    room = piece.size();
    old.append(piece.data(), n);
    if (between) between(stream.GetRead());
  }
  std::size_t same = 0;
  while (same < old.size() && same < data.size() && old[same] == data[same]) ++same;
  stream.BeginRewrite(same);
  for (std::size_t at = same, step = 7; at < data.size(); at += step, step = piece.size())
    stream.Write(data.data() + at, std::min(step, data.size() - at));
  stream.FinishRewrite(false);
}

// The two ways a file's new contents reach it: whole, and streamed.
const struct WRITER {
  const char* name;
  void (*write)(const std::string& path, const std::string& data);
} kWriters[] = {
    {"whole", [](const std::string& path, const std::string& data) { ReadAndWrite(path, data); }},
    {"streamed",
     [](const std::string& path, const std::string& data) { StreamAndWrite(path, data); }},
};

// Forks; the child runs body and exits 0. Returns the wait status.
int StatusOfChild(const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const struct rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would dump core
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// --- interrupts and kills ------------------------------------------------------

TEST(WriteBackSignalTest, InterruptsDuringAnInPlaceRewriteWaitUntilTheFileIsWhole) {
  // A second hard link forces the in-place path. Growing, the file is
  // already longer (reserved) before its bytes are written; shrinking, the
  // new bytes are written before the old tail is cut.
  const std::string small(1000, 's'), large(3u << 20, 'L');
  const struct {
    const std::string* before;
    const std::string* after;
    os::replace_moment moment;
  } rows[] = {
      {&small, &large, os::replace_moment::in_place_reserved},
      {&small, &large, os::replace_moment::in_place_written},
      {&large, &small, os::replace_moment::in_place_reserved},
      {&large, &small, os::replace_moment::in_place_written},
  };
  for (const WRITER& writer : kWriters)
  for (const auto& row : rows) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      for (const bool handlers : {true, false}) {
        TempTree tree;
        tree.file("f", *row.before);
        ASSERT_EQ(::link((tree / "f").c_str(), (tree / "g").c_str()), 0);
        const int status = StatusOfChild([&] {
          if (handlers) InstallWriteBackSignalHandlers();
          WithStrike(row.moment, [&] { ::kill(::getpid(), signal_number); },
                     [&] { writer.write(tree / "f", *row.after); });
        });
        const std::string where = std::string(writer.name) + " signal " +
                                  std::to_string(signal_number) + " moment " +
                                  std::to_string(int(row.moment)) + " handlers " +
                                  std::to_string(handlers);
        ASSERT_TRUE(WIFSIGNALED(status)) << where;
        EXPECT_EQ(WTERMSIG(status), signal_number) << where;
        EXPECT_TRUE(ReadAll(tree / "g") == *row.after) << where;
        EXPECT_EQ(Names(tree.path()), (std::vector<std::string>{"f", "g"})) << where;
      }
    }
  }
}

// The moment between an interrupt handler's look at the rewrites under way
// (none) and the end of the process, on another thread: a rewrite in place
// that would begin then does not begin, and the file keeps its old
// contents whole. Staged through the probe: the writer waits before its
// check until the handler has looked, and the handler then waits until the
// writer either wrote (the fault: the process would end with the file half
// old, half new) or ended the process itself.
std::atomic<int> g_stage{0};

void StageTheRace(os::replace_moment moment) {
  switch (moment) {
    case os::replace_moment::before_check:
      g_stage = 1;
      while (g_stage.load() < 2) ::sched_yield();
      break;
    case os::replace_moment::handler_looked:
      if (g_stage.load() == 1) {
        g_stage = 2;
        while (g_stage.load() < 3) ::sched_yield();
      }
      break;
    case os::replace_moment::in_place_written:
      g_stage = 3;
      for (;;) ::pause();  // the handler ends the process now
    default:
      break;
  }
}

TEST(WriteBackSignalTest, RewriteInPlaceDoesNotBeginAfterTheHandlerLooked) {
  const std::string original(64, 'A');
  TempTree tree;
  tree.file("f", original);
  ASSERT_EQ(::link((tree / "f").c_str(), (tree / "g").c_str()), 0);
  const int status = StatusOfChild([&] {
    InstallWriteBackSignalHandlers();
    os::set_replace_probe(StageTheRace);
    std::thread writer([&] { ReadAndWrite(tree / "f", "new"); });
    while (g_stage.load() < 1) ::sched_yield();
    ::raise(SIGTERM);  // handled on this thread, which waits in the probe
    writer.join();
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(ReadAll(tree / "g"), original);
  EXPECT_EQ(Names(tree.path()), (std::vector<std::string>{"f", "g"}));
}

TEST(WriteBackSignalTest, KilledOrInterruptedBeforeTheRenameLeavesOnlyTheOriginal) {
  // The new contents are complete in the temporary file. Unnamed, it goes
  // with the process even under SIGKILL; named (file systems without
  // unnamed files), the interrupt handlers remove it.
  for (const WRITER& writer : kWriters)
  for (const bool unnamed : {true, false}) {
    for (const int signal_number : {SIGKILL, SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
      if (!unnamed && signal_number == SIGKILL) continue;  // nothing can clean up
      TempTree tree;
      tree.file("f", "original");
      const int status = StatusOfChild([&] {
        InstallWriteBackSignalHandlers();
        os::allow_unnamed_temp_files(unnamed);
        WithStrike(os::replace_moment::before_check, [&] { ::kill(::getpid(), signal_number); },
                   [&] { writer.write(tree / "f", "replacement"); });
      });
      const std::string where = std::string(writer.name) + " " + std::to_string(signal_number) +
                                (unnamed ? " unnamed" : " named");
      ASSERT_TRUE(WIFSIGNALED(status)) << where;
      EXPECT_EQ(WTERMSIG(status), signal_number) << where;
      EXPECT_EQ(ReadAll(tree / "f"), "original") << where;
      EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"f"}) << where;
    }
  }
}

TEST(WriteBackSignalTest, NamedTemporaryFilesReplaceAsUnnamedOnesDo) {
  for (const WRITER& writer : kWriters) {
    os::allow_unnamed_temp_files(false);
    TempTree tree;
    tree.file("f", "original");
    ::chmod((tree / "f").c_str(), 0604);
    const ino_t inode = Inode(tree / "f");
    writer.write(tree / "f", "origin of the replacement");
    os::allow_unnamed_temp_files(true);
    struct stat status {};
    ::stat((tree / "f").c_str(), &status);
    EXPECT_EQ(ReadAll(tree / "f"), "origin of the replacement") << writer.name;
    EXPECT_NE(status.st_ino, inode) << writer.name;
    EXPECT_EQ(status.st_mode & 07777, 0604u) << writer.name;
    EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"f"}) << writer.name;
  }
}

// --- metadata ---------------------------------------------------------------------

// A POSIX access control list in the kernel's extended-attribute form.
std::string Acl(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string value("\x02\x00\x00\x00", 4);  // version 2
  for (const auto& e : entries) {
    const std::uint16_t tag = std::uint16_t(e[0]), perm = std::uint16_t(e[1]);
    const std::uint32_t id = e[2];
    value.append(reinterpret_cast<const char*>(&tag), 2);
    value.append(reinterpret_cast<const char*>(&perm), 2);
    value.append(reinterpret_cast<const char*>(&id), 4);
  }
  return value;
}
constexpr std::uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20;
constexpr std::uint32_t kNoId = 0xFFFFFFFFu, kNobody = 65534;

bool SetAttribute(const std::string& path, const char* name, const std::string& value) {
  return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// Every attribute of path, "name=value;" sorted by name as the system lists them.
std::string Attributes(const std::string& path) {
  char names[4096];
  const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
  std::vector<std::string> list;
  for (ssize_t at = 0; at < n; at += ssize_t(std::strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t size = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
    list.push_back(std::string(names + at) + "=" + std::string(value, size > 0 ? size : 0));
  }
  std::sort(list.begin(), list.end());
  std::string out;
  for (const auto& each : list) out += each + ";";
  return out;
}

const std::string kDenyNobody =
    Acl({{kUserObj, 6, kNoId}, {kUser, 0, kNobody}, {kGroupObj, 4, kNoId}, {kMask, 4, kNoId},
         {kOther, 4, kNoId}});

TEST(WriteBackMetadataTest, ExtendedAttributesAndAccessListsSurviveTheRename) {
  TempTree tree;
  tree.file("f", "old");
  if (!SetAttribute(tree / "f", "user.origin", "camera 7"))
    GTEST_SKIP() << "the file system of " << tree.path() << " lacks user extended attributes";
  ASSERT_TRUE(SetAttribute(tree / "f", "system.posix_acl_access", kDenyNobody));
  if (::geteuid() == 0) {
    ASSERT_TRUE(SetAttribute(tree / "f", "trusted.note", "root only"));
    ASSERT_TRUE(SetAttribute(tree / "f", "security.note", "label"));
  }
  const std::string before = Attributes(tree / "f");
  struct stat old_status {};
  ::stat((tree / "f").c_str(), &old_status);
  ReadAndWrite(tree / "f", "new");
  struct stat status {};
  ::stat((tree / "f").c_str(), &status);
  EXPECT_EQ(ReadAll(tree / "f"), "new");
  EXPECT_NE(status.st_ino, old_status.st_ino) << "replaced through a temporary file";
  EXPECT_EQ(status.st_mode, old_status.st_mode);
  EXPECT_EQ(Attributes(tree / "f"), before);
  EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"f"});

  // The list still denies nobody.
  const test::ChildResult child = test::RunInChild(
      [&] { return ReadAll(tree / "f"); }, true);
  if (child.status != 99) {
    EXPECT_EQ(child.output, "<missing>");
  }
}

TEST(WriteBackMetadataTest, AFoldersDefaultListDoesNotLeakIntoTheRewrittenFile) {
  TempTree tree;
  tree.dir("shared");
  tree.file("shared/plain", "old");
  tree.file("shared/listed", "old");
  ::chmod((tree / "shared/plain").c_str(), 0640);
  if (!SetAttribute(tree / "shared/listed", "system.posix_acl_access", kDenyNobody))
    GTEST_SKIP() << "the file system of " << tree.path() << " lacks access control lists";
  const std::string grant_nobody =
      Acl({{kUserObj, 7, kNoId}, {kUser, 7, kNobody}, {kGroupObj, 5, kNoId}, {kMask, 7, kNoId},
           {kOther, 5, kNoId}});
  ASSERT_TRUE(SetAttribute(tree / "shared", "system.posix_acl_default", grant_nobody));
  for (const char* name : {"shared/plain", "shared/listed"}) {
    const std::string before = Attributes(tree / name);
    struct stat old_status {};
    ::stat((tree / name).c_str(), &old_status);
    ReadAndWrite(tree / name, "new");
    struct stat status {};
    ::stat((tree / name).c_str(), &status);
    EXPECT_EQ(Attributes(tree / name), before) << name;
    EXPECT_EQ(status.st_mode, old_status.st_mode) << name;
    EXPECT_NE(status.st_ino, old_status.st_ino) << name;
  }
}

TEST(WriteBackMetadataTest, AnAttributeThatCannotBeCopiedMakesTheRewriteInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file a capability";
  TempTree tree;
  tree.file("tool", "old");
  ::chmod((tree / "tool").c_str(), 0755);
  ASSERT_EQ(::chown((tree / "tool").c_str(), kNobody, kNobody), 0);
  // Version 2 file capabilities: magic, then permitted and inheritable
  // words, low and high. cap_net_bind_service (10) permitted.
  const std::uint32_t caps[5] = {0x02000000u, 1u << 10, 0, 0, 0};
  if (!SetAttribute(tree / "tool", "security.capability",
                    std::string(reinterpret_cast<const char*>(caps), sizeof caps)))
    GTEST_SKIP() << "the file system of " << tree.path() << " lacks file capabilities";
  const ino_t inode = Inode(tree / "tool");
  const test::ChildResult child = test::RunInChild(
      [&] {
        ReadAndWrite(tree / "tool", "new contents");
        return std::string("done");
      },
      true);
  if (child.status == 99) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(child.output, "done");
  EXPECT_EQ(ReadAll(tree / "tool"), "new contents");
  EXPECT_EQ(Inode(tree / "tool"), inode) << "rewritten in place";
  EXPECT_EQ(Names(tree.path()), std::vector<std::string>{"tool"});
}

// --- changes by another process ----------------------------------------------------

struct ChangeRow {
  const char* what;
  std::function<void(const TempTree&)> change;  // on "f", holding "original"
  const char* detail;                           // the change named in the message
  const char* left;                             // what "f" holds afterwards
};

std::vector<ChangeRow> ChangeRows() {
  return {
      {"appended",
       [](const TempTree& t) {
         const int fd = ::open((t / "f").c_str(), O_WRONLY | O_APPEND);
         (void)!::write(fd, "+line\n", 6);
         ::close(fd);
       },
       "its contents were changed", "original+line\n"},
      {"newer version renamed into place",
       [](const TempTree& t) {
         t.file("newer", "newer version");
         ::rename((t / "newer").c_str(), (t / "f").c_str());
       },
       "another file took its name", "newer version"},
      {"removed", [](const TempTree& t) { ::unlink((t / "f").c_str()); },
       "it was removed or renamed", "<missing>"},
      {"swapped for a link",
       [](const TempTree& t) {
         t.file("elsewhere", "other file");
         ::unlink((t / "f").c_str());
         t.link("elsewhere", "f");
       },
       "a symbolic link took its name", "other file"},
      {"mode changed", [](const TempTree& t) { ::chmod((t / "f").c_str(), 0600); },
       "its attributes were changed", "original"},
  };
}

std::string ChangedMessage(const std::string& path, const char* detail) {
  return "CDir::WriteFile - error replace file contents\n"
         "  file name   = " + path + "\n"
         "  failed step = check that the file is the one that was read\n"
         "  error desc  = the file changed while it was being processed: " + detail;
}

// The folder a walk keeps open, for a file read through it.
FolderRef OpenFolder(const std::string& path) {
  return std::make_shared<const OPEN_FOLDER>(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TEST(WriteBackChangeTest, AFileChangedMeanwhileIsLeftAsTheOtherProcessLeftIt) {
  for (const ChangeRow& row : ChangeRows()) {
    for (const bool in_place : {false, true}) {
      // Once between the read and the write; once while the new contents
      // are being prepared. Read by its path, or through its folder (where
      // the write-back looks for it first).
      for (const bool during_write : {false, true})
      for (const bool in_folder : {false, true}) {
        TempTree tree;
        tree.file("f", "original");
        if (in_place) ::link((tree / "f").c_str(), (tree / "second").c_str());
        narrow_buffer content;
        FILE_IDENTITY identity;
        CDir::ReadFile(B(tree / "f"), in_folder ? OpenFolder(tree.path()) : FolderRef(), content,
                       narrow_buffer::max_size - 1, &identity, nullptr, true);
        if (!during_write) row.change(tree);
        std::string message;
        int code = 0;
        try {
          WithStrike(os::replace_moment::before_check, [&] { if (during_write) row.change(tree); }, [&] {
            CDir::WriteFile(B(tree / "f"), B("replacement"), false, false, &identity);
          });
        } catch (const sysfileExp& e) {
          code = e.GetCode();
          message = S(e.GetMessage());
        }
        const std::string where = std::string(row.what) + (in_place ? ", in place" : "") +
                                  (during_write ? ", during the write" : "") +
                                  (in_folder ? ", read in its folder" : "");
        EXPECT_EQ(code, 9) << where;
        EXPECT_EQ(message, ChangedMessage(tree / "f", row.detail)) << where;
        EXPECT_EQ(ReadAll(tree / "f"), row.left) << where;
        if (in_place) {
          EXPECT_NE(ReadAll(tree / "second"), "replacement") << where;
        }
        for (const std::string& name : Names(tree.path()))
          EXPECT_EQ(name.find(".rplc-"), std::string::npos) << where << ": " << name;
      }
    }
  }
}

// A file renamed after it was read, and another file put under its old
// name, leave both as they are, whether the file was read by its path or
// through its folder: the name in the folder is not taken for the file.
TEST(WriteBackChangeTest, AFileRenamedAfterTheReadIsNotFoundUnderItsOldName) {
  for (const bool in_folder : {false, true}) {
    TempTree tree;
    tree.file("f", "original");
    narrow_buffer content;
    FILE_IDENTITY identity;
    CDir::ReadFile(B(tree / "f"), in_folder ? OpenFolder(tree.path()) : FolderRef(), content,
                   narrow_buffer::max_size - 1, &identity, nullptr, true);
    ASSERT_EQ(::rename((tree / "f").c_str(), (tree / "g").c_str()), 0);
    tree.file("f", "another file");
    EXPECT_THROW(CDir::WriteFile(B(tree / "f"), B("replacement"), false, false, &identity),
                 sysfileExp);
    EXPECT_EQ(ReadAll(tree / "g"), "original") << in_folder;
    EXPECT_EQ(ReadAll(tree / "f"), "another file") << in_folder;
  }
}

// A file streamed is checked against the state it had when it was opened,
// with the size of everything read: a change made while its first pieces
// were read (before anything was written) leaves it as the other process
// left it, renamed over or rewritten in place alike.
TEST(WriteBackChangeTest, AFileChangedWhileItIsStreamedIsLeftAlone) {
  for (const ChangeRow& row : ChangeRows()) {
    for (const bool in_place : {false, true}) {
      TempTree tree;
      tree.file("f", "original");
      if (in_place) ::link((tree / "f").c_str(), (tree / "second").c_str());
      std::string message;
      try {
        StreamAndWrite(tree / "f", "replacement", [&](std::uint64_t read) {
          if (read == 5) row.change(tree);
        });
      } catch (const sysfileExp& e) {
        message = S(e.GetMessage());
      }
      const std::string where = std::string(row.what) + (in_place ? ", in place" : "");
      EXPECT_EQ(message, ChangedMessage(tree / "f", row.detail)) << where;
      EXPECT_EQ(ReadAll(tree / "f"), row.left) << where;
      for (const std::string& name : Names(tree.path()))
        EXPECT_EQ(name.find(".rplc-"), std::string::npos) << where << ": " << name;
    }
  }
}

TEST(WriteBackChangeTest, TheFileThatWasReadIsWrittenThoughTheLinkNowLeadsElsewhere) {
  TempTree tree;
  tree.dir("real");
  tree.dir("other");
  tree.file("real/f", "original");
  tree.file("other/f", "unrelated");
  tree.link("real/f", "link");
  tree.link("real", "folder");
  for (const char* path : {"link", "folder/f"}) {
    narrow_buffer content;
    FILE_IDENTITY identity;
    CDir::ReadFile(B(tree / path), content, narrow_buffer::max_size - 1, &identity);
    // The links are pointed elsewhere between the read and the write.
    ::unlink((tree / "link").c_str());
    tree.link("other/f", "link");
    ::unlink((tree / "folder").c_str());
    tree.link("other", "folder");
    CDir::WriteFile(B(tree / path), B(std::string("via ") + path), false, false, &identity);
    EXPECT_EQ(ReadAll(tree / "real/f"), std::string("via ") + path);
    EXPECT_EQ(ReadAll(tree / "other/f"), "unrelated");
    ::unlink((tree / "link").c_str());
    tree.link("real/f", "link");
    ::unlink((tree / "folder").c_str());
    tree.link("real", "folder");
  }
  EXPECT_EQ(Names(tree / "real"), std::vector<std::string>{"f"});
}

TEST(WriteBackChangeTest, AFileThatGrewAfterTheReadIsNotCutShort) {
  // The reader took in what was there; bytes added after that are not in
  // the new contents and must not be lost.
  TempTree tree;
  tree.file("f", "original");
  narrow_buffer content;
  FILE_IDENTITY identity;
  CDir::ReadFile(B(tree / "f"), content, narrow_buffer::max_size - 1, &identity);
  identity.state.size = 3;  // as if the file had grown after the first 3 bytes were read
  EXPECT_THROW(CDir::WriteFile(B(tree / "f"), B("x"), false, false, &identity), sysfileExp);
  EXPECT_EQ(ReadAll(tree / "f"), "original");
}

}  // namespace
}  // namespace Velk
