// RunInChild: runs a function in a forked child whose standard output and
// standard error both go to one pipe, and returns how the child ended and
// everything it wrote. A child whose function returns exits with status 0.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace Velk::testing {

struct ChildResult {
  bool exited = false;     // ended by exit (else by a signal)
  int status = -1;         // exit status when exited
  int signal = 0;          // terminating signal otherwise
  std::string output;      // standard output and standard error
};

inline ChildResult RunInChild(const std::function<void()>& body) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::fflush(nullptr);  // nothing buffered in the parent is written twice
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[1]);
    body();
    _exit(0);
  }
  close(fds[1]);
  char chunk[4096];
  ssize_t got;
  while ((got = read(fds[0], chunk, sizeof chunk)) > 0) result.output.append(chunk, size_t(got));
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return result;
  result.exited = WIFEXITED(status);
  result.status = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

}  // namespace Velk::testing
