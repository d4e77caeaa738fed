// A red team's race: root runs rplc over a folder that "nobody" may write
// while a process of nobody's keeps swapping a sub-folder and a file for
// symbolic links into a root-only folder beside the tree. Whether or not a
// swap lands at a moment that matters, nothing outside the tree may
// change: the test fails only if the root-only files do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "run_binary.h"
#include "tree_state.h"

namespace rplc_test {
namespace {

// Swaps name (in the current folder) for a link to target and back, for
// ever; the real entry waits under name + ".real".
void SwapForever(const char* name, const char* target) {
  const std::string real = std::string(name) + ".real";
  for (;;) {
    if (rename(name, real.c_str()) == 0) {
      symlink(target, name);
      usleep(50);
      unlink(name);
      rename(real.c_str(), name);
    }
    usleep(50);
  }
}

TEST(LinkRaceTest, SwappedLinksNeverLeadARootRunOutOfTheTree) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run rplc as root and the attack as nobody";
  TempDir root;
  chmod(root.path().c_str(), 0755);
  Fill(root, {{"secret/target.txt", "safe\n"}, {"secret/x.txt", "safe\n"}});
  chmod((root.path() + "/secret").c_str(), 0700);
  const std::string pub = root.path() + "/pub";
  for (int i = 0; i < 20; ++i) {
    root.Write("pub/a/x.txt", "safe\n");
    root.Write("pub/f" + std::to_string(i) + ".txt", "safe\n");
    root.Write("pub/a/sub" + std::to_string(i) + "/x.txt", "safe\n");
  }
  root.Write("pub/target.txt", "safe\n");
  ASSERT_EQ(std::system(("chown -R 65534:65534 '" + pub + "'").c_str()), 0);
  const auto secret = TreeState(root.path() + "/secret");

  pid_t attackers[2];
  const char* swaps[2][2] = {{"a", "../secret"}, {"target.txt", "../secret/target.txt"}};
  for (int i = 0; i < 2; ++i) {
    attackers[i] = fork();
    if (attackers[i] == 0) {
      if (chdir(pub.c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
      SwapForever(swaps[i][0], swaps[i][1]);
    }
    ASSERT_GT(attackers[i], 0);
  }
  // Every run rewrites what it finds (the same text back), so a file it
  // reached outside the tree would show a new inode or time.
  for (int round = 0; round < 40; ++round) {
    const std::vector<std::string> args =
        round % 2 ? std::vector<std::string>{"-s", "*.txt", "-f:safe", "-t:safe"}
                  : std::vector<std::string>{"-s", "*", "-r:s(a)fe", "-t:s\\1fe", "-noexp"};
    RunRplc(args, "", pub);
  }
  for (const pid_t each : attackers) {
    kill(each, SIGKILL);
    waitpid(each, nullptr, 0);
  }
  EXPECT_TRUE(TreeState(root.path() + "/secret") == secret) << "a file outside the tree changed";
}

}  // namespace
}  // namespace rplc_test
