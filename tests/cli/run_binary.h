// Runs the built rplc as a child process: an argument array, standard input
// from a given text, and the exact standard output, standard error and exit
// status back. Optionally in a given working folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rplc_test {

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status; 128 + signal number when killed
  long stdin_read = -1;  // bytes of standard input the child consumed
  // Processor time the child used (user and system): unlike wall time it
  // does not grow with the load of the machine, so tests may bound it.
  double cpu_seconds = 0;
};

// stdout_path, when given, receives standard output instead (for example
// /dev/full); out is then empty. file_size_limit, when not negative, is the
// child's RLIMIT_FSIZE in bytes.
RunResult RunRplc(const std::vector<std::string>& args, const std::string& input = "",
                  const std::string& cwd = "", const std::string& stdout_path = "",
                  long file_size_limit = -1);

// Like RunRplc with standard input read from the file stdin_path.
RunResult RunRplcOnStdin(const std::vector<std::string>& args, const std::string& stdin_path);

// Like RunRplc with empty standard input; while_running(pid) is called once
// while the child runs (for example to signal it at the right moment), and
// the child is waited for after it returns.
RunResult RunRplcWith(const std::vector<std::string>& args, const std::string& cwd,
                      const std::function<void(int pid)>& while_running);

// Like RunRplcWith, with rplc started by the wrapper command (for example
// strace and its options); while_running gets the pid of rplc itself.
RunResult RunRplcUnder(const std::vector<std::string>& wrapper,
                       const std::vector<std::string>& args, const std::string& cwd,
                       const std::function<void(int pid)>& while_running);

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  // Made in base instead of the system's temporary folder.
  explicit TempDir(const std::string& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// The names in folder dir, sorted.
std::vector<std::string> Listing(const std::string& dir);

}  // namespace rplc_test
