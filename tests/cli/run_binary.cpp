#include "run_binary.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rplc_test {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& base) {
  std::string pattern = (std::filesystem::path(base) / "rplc-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Restore permissions a test may have taken away, then remove.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  const std::string full = path_ + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream(full, std::ios::binary) << content;
  return full;
}

std::string TempDir::Read(const std::string& name) const { return Slurp(path_ + "/" + name); }

namespace {

// The child process of parent that runs rplc, waiting up to 10 s for it
// (a wrapper may start other children first); parent itself when none does.
int RplcChildOf(int parent) {
  std::error_code ignored;
  const auto binary = std::filesystem::canonical(RPLC_BINARY, ignored);
  for (int wait = 0; wait < 10000; ++wait) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
      const std::string text = Slurp(entry.path().string() + "/stat");
      // The name is in parentheses and may hold blanks: skip to the last ")".
      const auto close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(text.substr(close + 1));
      std::string state;
      int ppid = 0;
      if (rest >> state >> ppid && ppid == parent &&
          std::filesystem::read_symlink(entry.path() / "exe", ignored) == binary)
        return std::stoi(entry.path().filename());
    }
    usleep(1000);
  }
  return parent;
}

RunResult Run(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
              const std::string& input, const std::string& cwd, const std::string& stdout_path,
              long file_size_limit, const std::function<void(int)>& while_running,
              const std::string& stdin_path = "") {
  TempDir io;
  const std::string in_path = stdin_path.empty() ? io.Write("stdin", input) : stdin_path;
  // Opened here and inherited, so the child's reading moves this offset.
  const int in = open(in_path.c_str(), O_RDONLY);
  const std::string out_path = stdout_path.empty() ? io.path() + "/stdout" : stdout_path;
  const std::string err_path = io.path() + "/stderr";

  std::vector<char*> argv;
  std::vector<std::string> copies(wrapper);
  copies.push_back(RPLC_BINARY);
  copies.insert(copies.end(), args.begin(), args.end());
  for (std::string& each : copies) argv.push_back(each.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | (stdout_path.empty() ? O_TRUNC : 0), 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(120);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(121);
    const rlimit no_core{0, 0};  // a test's SIGQUIT must not leave a core file
    setrlimit(RLIMIT_CORE, &no_core);
    if (file_size_limit >= 0) {
      const rlimit limit{rlim_t(file_size_limit), rlim_t(file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(123);
    }
    execvp(argv[0], argv.data());
    _exit(122);
  }
  if (while_running && child > 0)
    while_running(wrapper.empty() ? int(child) : RplcChildOf(int(child)));
  int wait_status = 0;
  struct rusage usage {};
  wait4(child, &wait_status, 0, &usage);
  RunResult result;
  result.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.stdin_read = in < 0 ? -1 : long(lseek(in, 0, SEEK_CUR));
  if (in >= 0) close(in);
  if (stdout_path.empty()) result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                         : 128 + WTERMSIG(wait_status);
  return result;
}

}  // namespace

RunResult RunRplc(const std::vector<std::string>& args, const std::string& input,
                  const std::string& cwd, const std::string& stdout_path,
                  long file_size_limit) {
  return Run({}, args, input, cwd, stdout_path, file_size_limit, nullptr);
}

RunResult RunRplcOnStdin(const std::vector<std::string>& args, const std::string& stdin_path) {
  return Run({}, args, "", "", "", -1, nullptr, stdin_path);
}

RunResult RunRplcWith(const std::vector<std::string>& args, const std::string& cwd,
                      const std::function<void(int pid)>& while_running) {
  return Run({}, args, "", cwd, "", -1, while_running);
}

RunResult RunRplcUnder(const std::vector<std::string>& wrapper,
                       const std::vector<std::string>& args, const std::string& cwd,
                       const std::function<void(int pid)>& while_running) {
  return Run(wrapper, args, "", cwd, "", -1, while_running);
}

}  // namespace rplc_test
