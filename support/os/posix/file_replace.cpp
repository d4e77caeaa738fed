// Safe replacement of a file's contents on POSIX: temporary file, fchown,
// fchmod, rename; or posix_fallocate, pwrite, ftruncate in place.
#include "support/os/file_replace.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Velk::os {

namespace {

// --- the live temporary files, known to the signal handlers --------------
//
// Several threads may each be writing a temporary file. Each registers its
// path in a free slot for as long as the file may exist. A spin lock, which
// is async-signal-safe, makes creating, renaming and removing a temporary
// file one step with its registration: the handler takes the lock and
// never gives it back, so no thread creates or renames a temporary file
// after the handler has looked at the slots. A thread holds the cleanup
// signals back while it holds the lock, so the handler never spins on a
// lock its own thread holds.

constexpr int kTempSlots = 128;
struct TEMP_SLOT {
  std::atomic<int> live{0};
  char path[4096];
};
TEMP_SLOT g_temps[kTempSlots];
std::atomic_flag g_temps_busy = ATOMIC_FLAG_INIT;
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free slots");

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void lock_temps() {
  while (g_temps_busy.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock_temps() { g_temps_busy.clear(std::memory_order_release); }

extern "C" void RemoveTempAndDie(int signal_number) {
  lock_temps();  // kept: nothing changes the temporary files any more
  for (TEMP_SLOT& slot : g_temps)
    if (slot.live.load(std::memory_order_acquire)) ::unlink(slot.path);  // async-signal-safe
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);  // delivered with the default action on return
}

// Holds the cleanup signals back and takes the registry's lock while a
// temporary file is created, renamed or removed, so that the registry and
// the file system agree whenever a handler can look.
class temp_registry_held {
 public:
  temp_registry_held() {
    sigset_t set;
    sigemptyset(&set);
    for (int each : kCleanupSignals) sigaddset(&set, each);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
    lock_temps();
  }
  ~temp_registry_held() {
    unlock_temps();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t old_;
};

// The slot now holding path, or -1 when the path is too long or every slot
// is taken. Called with the registry held.
int register_temp(const std::string& path) {
  if (path.size() >= sizeof g_temps[0].path) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    TEMP_SLOT& slot = g_temps[i];
    if (slot.live.load(std::memory_order_relaxed)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.live.store(1, std::memory_order_release);
    return i;
  }
  return -1;
}

void unregister_temp(int slot) {
  if (slot >= 0) g_temps[slot].live.store(0, std::memory_order_release);
}

// --- helpers ---------------------------------------------------------------

int write_all_at_start(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, at + done, size - done, off_t(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += std::size_t(n);
  }
  return 0;
}

int write_all(int fd, const void* data, std::size_t size) {
  std::size_t done;
  return write_file(fd, data, size, done);
}

// The file that path finally names: a symbolic link is resolved so that
// its target is replaced and the link itself stays. Empty on failure.
std::string final_target(const char* path) {
  struct stat status;
  if (::lstat(path, &status) != 0) return std::string();
  if (!S_ISLNK(status.st_mode)) return path;
  char* resolved = ::realpath(path, nullptr);
  if (!resolved) return std::string();
  std::string target(resolved);
  std::free(resolved);
  return target;
}

bool same_file(const std::string& path, const struct stat& original) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && status.st_dev == original.st_dev &&
         status.st_ino == original.st_ino;
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems cannot sync folders; the file is synced
  ::close(fd);
}

enum class outcome { replaced, failed, use_in_place };

class temp_file {
 public:
  ~temp_file() { discard(); }

  // Creates "<folder>/.<name>.<unique>" exclusively, mode 0600, never
  // through a link. False when the folder refuses it.
  bool create(const std::string& folder, const std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".rplc-%lx-%x", long(::getpid()), counter++);
      const std::string path = folder + "/." + name + suffix;
      temp_registry_held held;
      slot_ = register_temp(path);
      if (slot_ < 0) return false;
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        fd_ = fd;
        path_ = path;
        return true;
      }
      const int error = errno;
      unregister_temp(slot_);
      slot_ = -1;
      if (error != EEXIST) return false;
    }
    return false;
  }

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  int close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
  }

  // Renames over target; the temporary name is gone either way.
  int rename_over(const std::string& target) {
    temp_registry_held held;
    if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
    unregister_temp(slot_);
    slot_ = -1;
    path_.clear();
    return 0;
  }

  void discard() {
    if (fd_ >= 0) close();
    if (path_.empty()) return;
    temp_registry_held held;
    ::unlink(path_.c_str());
    unregister_temp(slot_);
    slot_ = -1;
    path_.clear();
  }

 private:
  int fd_ = -1;
  int slot_ = -1;
  std::string path_;
};

outcome replace_by_rename(const struct stat& original, const std::string& target,
                          const void* data, std::size_t size, bool flush,
                          replace_failure& failure) {
  const std::string::size_type slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

  temp_file temp;
  if (!temp.create(folder, name)) return outcome::use_in_place;

  // Owner and group first (a change of owner may clear the set-id bits),
  // then the permission bits.
  struct stat status;
  if (::fstat(temp.fd(), &status) != 0) return outcome::use_in_place;
  if ((status.st_uid != original.st_uid || status.st_gid != original.st_gid) &&
      ::fchown(temp.fd(), original.st_uid, original.st_gid) != 0)
    return outcome::use_in_place;
  if (::fchmod(temp.fd(), original.st_mode & 07777) != 0) return outcome::use_in_place;

  if (const int error = write_all(temp.fd(), data, size)) {
    failure = {"write the new contents to a temporary file", error};
    return outcome::failed;
  }
  if (flush && ::fsync(temp.fd()) != 0) {
    failure = {"flush the temporary file", errno};
    return outcome::failed;
  }
  if (const int error = temp.close()) {
    failure = {"close the temporary file", error};
    return outcome::failed;
  }
  if (const int error = temp.rename_over(target)) {
    failure = {"rename the temporary file over the file", error};
    return outcome::failed;
  }
  if (flush) sync_folder(folder);
  return outcome::replaced;
}

bool rewrite_in_place(int fd, const struct stat& original, const void* data, std::size_t size,
                      bool flush, replace_failure& failure) {
  if (off_t(size) > original.st_size) {
    // Claims the space first, so a full disk or a size limit is reported
    // before any byte of the file changes. File systems without the call
    // go on unreserved.
    const int error = ::posix_fallocate(fd, 0, off_t(size));
    if (error != 0 && error != EOPNOTSUPP && error != ENOSYS) {
      failure = {"reserve space for the new contents", error};
      return false;
    }
  }
  if (const int error = write_all_at_start(fd, data, size)) {
    failure = {"write the new contents over the file", error};
    return false;
  }
  if (::ftruncate(fd, off_t(size)) != 0) {
    failure = {"cut the file to its new length", errno};
    return false;
  }
  if (flush && ::fsync(fd) != 0) {
    failure = {"flush the file", errno};
    return false;
  }
  return true;
}

}  // namespace

bool replace_file_contents(file_handle original, const char* path, const void* data,
                           std::size_t size, bool flush, replace_failure& failure) {
  struct stat status;
  if (::fstat(original, &status) != 0) {
    failure = {"inspect the file", errno};
    return false;
  }
  if (status.st_nlink == 1) {
    // Only when path still names the open file: otherwise the rename
    // would replace something else.
    const std::string target = final_target(path);
    if (!target.empty() && same_file(target, status)) {
      switch (replace_by_rename(status, target, data, size, flush, failure)) {
        case outcome::replaced: return true;
        case outcome::failed: return false;
        case outcome::use_in_place: break;
      }
    }
  }
  return rewrite_in_place(original, status, data, size, flush, failure);
}

void install_replace_signal_handlers() {
  for (int each : kCleanupSignals) {
    struct sigaction old;
    if (::sigaction(each, nullptr, &old) != 0) continue;
    // Respect an ignored signal (nohup) and a handler someone else set.
    if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempAndDie;
    sigemptyset(&action.sa_mask);
    for (int blocked : kCleanupSignals) sigaddset(&action.sa_mask, blocked);
    ::sigaction(each, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace Velk::os
