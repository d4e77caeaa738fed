// Safe replacement of a file's contents on POSIX: an unnamed (O_TMPFILE)
// or named temporary file in the file's folder, fchown, the extended
// attributes, fchmod, linkat and renameat by the folder's handle; or
// posix_fallocate, pwrite and ftruncate in place with the interrupting
// signals held back.
#include "support/os/file_replace.h"

#include "support/os/posix/folder_lock.h"
#include "support/os/wind_down.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace Velk::os {

namespace {

replace_probe g_probe = nullptr;
bool g_unnamed_allowed = true;

void probe(replace_moment moment) {
  if (g_probe) g_probe(moment);
}

// --- the live named temporary files of every thread --------------------
//
// Each named temporary file holds a slot (its folder's handle and its name)
// for as long as it may exist. A spin lock, which is async-signal-safe,
// makes naming, renaming and removing a temporary file one step with its
// slot: the handler takes the lock and never gives it back, so no thread
// names or renames a temporary file after the handler has looked. Threads
// take the lock only with the signals held back, so a handler never spins
// on a lock its own thread holds.

constexpr int kTempSlots = 128;
struct TEMP_SLOT {
  std::atomic<bool> live{false};
  int folder = -1;
  char name[NAME_MAX + 1];
};
TEMP_SLOT g_temps[kTempSlots];
std::atomic_flag g_temps_busy = ATOMIC_FLAG_INIT;
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs lock-free slots");

// In-place rewrites in progress on any thread, and the signal that is ending
// the process. The two sides look at each other in opposite order: the
// handler stores the signal and then reads the count, a rewrite counts
// itself and then reads the signal. So either the handler sees the rewrite
// and leaves the signal to the last rewrite to end, which delivers it
// again, or the rewrite sees the signal and does not begin: the process
// never ends with a file half rewritten.
std::atomic<int> g_in_place_writers{0};
std::atomic<int> g_pending_signal{0};

// The run's wind-down: the first SIGINT, SIGTERM or SIGHUP recorded.
wind_down_state g_wind_down;

const int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The handlers spin for the slots' lock (nothing else is safe there).
void lock_temps() {
  while (g_temps_busy.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock_temps() { g_temps_busy.clear(std::memory_order_release); }

// A working thread gives its processor up while another holds the lock:
// a holder that was preempted mid-call is not spun against for a whole
// time slice. Held for one naming, renaming or removal at a time.
class temps_locked {
 public:
  temps_locked() {
    while (g_temps_busy.test_and_set(std::memory_order_acquire)) ::sched_yield();
  }
  ~temps_locked() { unlock_temps(); }
  temps_locked(const temps_locked&) = delete;
  temps_locked& operator=(const temps_locked&) = delete;
};

// Removes every live named temporary file and ends the process by the
// signal, unless a rewrite in place is under way. Async-signal-safe.
void remove_temps_and_die(int signal_number) {
  // Pending first, then the count (see g_pending_signal).
  g_pending_signal.store(signal_number);
  if (g_in_place_writers.load() > 0) return;
  probe(replace_moment::handler_looked);
  lock_temps();  // kept: nothing names or renames a temporary file any more
  for (const TEMP_SLOT& slot : g_temps)
    if (slot.live.load(std::memory_order_acquire))
      ::unlinkat(slot.folder, slot.name, 0);  // async-signal-safe
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);  // delivered with the default action on return
}

extern "C" void OnInterrupt(int signal_number) {
  // While the run winds down, the first interrupt only asks it to stop.
  if (signal_number != SIGQUIT && g_wind_down.record(signal_number)) return;
  remove_temps_and_die(signal_number);
}

// Holds the interrupting signals back on this thread: while a temporary
// file is named, renamed or removed (with the slots locked too, so that
// the slots and the file system agree whenever a handler runs), and while
// a file is rewritten in place.
class signals_held {
 public:
  explicit signals_held(bool lock_slots = true) : locked_(lock_slots) {
    sigset_t set;
    sigemptyset(&set);
    for (int each : kHeldSignals) sigaddset(&set, each);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
    if (locked_) {
      while (g_temps_busy.test_and_set(std::memory_order_acquire)) ::sched_yield();
    }
  }
  ~signals_held() {
    if (locked_) unlock_temps();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t old_;
  bool locked_;
};

// Counts one in-place rewrite for the handlers of every thread; the last
// one to end delivers an interrupt that arrived meanwhile. Constructed
// after a signals_held, so the signal raised here waits for its end.
class in_place_writer {
 public:
  in_place_writer() { g_in_place_writers.fetch_add(1); }
  ~in_place_writer() {
    if (g_in_place_writers.fetch_sub(1) == 1)
      if (const int pending = g_pending_signal.load()) ::raise(pending);
  }
  in_place_writer(const in_place_writer&) = delete;
  in_place_writer& operator=(const in_place_writer&) = delete;
};

// The slot now holding folder/name, or -1 when the name is too long or
// every slot is taken. Call with the slots locked.
int register_temp(int folder, const std::string& name) {
  if (name.size() >= sizeof g_temps[0].name) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    TEMP_SLOT& slot = g_temps[i];
    if (slot.live.load(std::memory_order_relaxed)) continue;
    slot.folder = folder;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.live.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void unregister_temp(int slot) {
  if (slot >= 0) g_temps[slot].live.store(false, std::memory_order_release);
}

// --- helpers ---------------------------------------------------------------

class descriptor {
 public:
  explicit descriptor(int fd) : fd_(fd) {}
  ~descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

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

void sync_folder(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems cannot sync folders; the file is synced
  ::close(fd);
}

std::int64_t nanoseconds(const struct timespec& time) {
  return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

const char kLinkTookName[] = "a symbolic link took its name";
const char kOtherTookName[] = "another file took its name";

// What happened to the file since it was read; nullptr when nothing did.
const char* change_since_read(const file_identity& read, const struct stat& now) {
  // The kind first: a removed file's number may pass on to its successor.
  if (S_ISLNK(now.st_mode)) return kLinkTookName;
  if (!S_ISREG(now.st_mode) || std::uint64_t(now.st_dev) != read.volume ||
      std::uint64_t(now.st_ino) != read.file_number)
    return kOtherTookName;
  if (std::uint64_t(now.st_size) != read.size || nanoseconds(now.st_mtim) != read.modified_ns)
    return "its contents were changed";
  if (nanoseconds(now.st_ctim) != read.changed_ns) return "its attributes were changed";
  return nullptr;
}

const char kCheckStep[] = "check that the file is the one that was read";
const char kRemoved[] = "it was removed or renamed";

replace_result report_change(replace_failure& failure, const char* change) {
  failure = {kCheckStep, 0, change};
  return replace_result::changed;
}

// Whether name in folder still leads to the file that was read, unchanged.
// On false, failure tells why; its error is 0 for a change.
bool still_as_read(int folder, const std::string& name, const file_identity& read,
                   replace_failure& failure) {
  struct stat status;
  const char* change;
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
    change = change_since_read(read, status);
  else if (errno == ENOENT)
    change = kRemoved;
  else {
    failure = {"inspect the file", errno, ""};
    return false;
  }
  if (change) report_change(failure, change);
  return !change;
}

replace_result check_result(const replace_failure& failure) {
  return failure.error ? replace_result::failed : replace_result::changed;
}

// Where the file open as fd lives now: its full path, every link resolved.
// The open handle knows; path, resolved afresh, stands in only where /proc
// is missing (the identity check then proves it is the same file).
std::string handle_location(int fd, const char* path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  std::vector<char> target(PATH_MAX);
  for (;;) {
    const ssize_t n = ::readlink(self, target.data(), target.size());
    if (n < 0) break;
    if (std::size_t(n) < target.size()) {
      std::string location(target.data(), std::size_t(n));
      // The name the file was opened by is gone (removed, or another file
      // renamed over it): the check at that name tells what took its place.
      static const std::string deleted = " (deleted)";
      struct stat status;
      if (location.size() > deleted.size() &&
          location.compare(location.size() - deleted.size(), deleted.size(), deleted) == 0 &&
          ::lstat(location.c_str(), &status) != 0)
        location.resize(location.size() - deleted.size());
      return location;
    }
    target.resize(target.size() * 2);
  }
  char* resolved = ::realpath(path, nullptr);
  if (!resolved) return std::string();
  std::string location(resolved);
  std::free(resolved);
  return location;
}

// --- extended attributes ---------------------------------------------------

const char kAccessAcl[] = "system.posix_acl_access";

// The attribute names of fd, each ended by a 0 byte. False with errno set.
bool list_attributes(int fd, std::vector<char>& names) {
  for (;;) {
    const ssize_t need = ::flistxattr(fd, nullptr, 0);
    if (need <= 0) {
      names.clear();
      return need == 0 || errno == ENOTSUP;
    }
    names.resize(std::size_t(need));
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(std::size_t(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: the list grew meanwhile
  }
}

// The value of attribute name into value; -1 with errno set on failure.
ssize_t read_attribute(int fd, const char* name, std::vector<char>& value) {
  for (;;) {
    const ssize_t need = ::fgetxattr(fd, name, nullptr, 0);
    if (need <= 0) return need;
    value.resize(std::size_t(need));
    const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0 || errno != ERANGE) return got;
  }
}

// Gives to the extended attributes of from, and exactly its permission
// bits. An access control list that to inherited from its folder's default
// list, which from did not have, is removed. Returns errno, 0 on success.
int copy_attributes(int from, int to, mode_t mode) {
  std::vector<char> names;
  if (!list_attributes(from, names)) return errno;
  bool had_acl = false;
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    if (!*name) continue;
    const ssize_t size = read_attribute(from, name, value);
    if (size < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return errno;
    }
    if (::fsetxattr(to, name, value.data(), std::size_t(size), 0) != 0) return errno;
    if (std::strcmp(name, kAccessAcl) == 0) had_acl = true;
  }
  if (!had_acl && ::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
    return errno;
  // After the access control list, which sets the group bits from its mask.
  return ::fchmod(to, mode & 07777) == 0 ? 0 : errno;
}

// --- the temporary file ----------------------------------------------------

enum class outcome { replaced, failed, changed, use_in_place };

// Holds the folder's lock shared while a temporary file takes a file's
// name, so that another run's listing of the folder never misses that
// name. A folder that cannot be read or locked is renamed in unlocked.
class folder_rename_hold {
 public:
  explicit folder_rename_hold(int folder)
      : fd_(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) lock_folder(fd_, false);
  }
  ~folder_rename_hold() {
    if (fd_ >= 0) ::close(fd_);  // the lock goes with its handle
  }
  folder_rename_hold(const folder_rename_hold&) = delete;
  folder_rename_hold& operator=(const folder_rename_hold&) = delete;

 private:
  int fd_;
};

class temp_file {
 public:
  explicit temp_file(int folder) : folder_(folder) {}
  ~temp_file() { discard(); }
  temp_file(const temp_file&) = delete;
  temp_file& operator=(const temp_file&) = delete;

  // An unnamed file in the folder: killed outright, the process leaves
  // nothing behind. False where the file system cannot make one.
  bool create_unnamed() {
#ifdef O_TMPFILE
    if (g_unnamed_allowed) fd_ = ::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    return fd_ >= 0;
  }

  // ".<name>.rplc-<pid>-<n>" created exclusively, mode 0600, never
  // through a link. False when the folder refuses it.
  bool create_named(const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string temp = temp_name(name);
      signals_held held;
      slot_ = register_temp(folder_, temp);
      if (slot_ < 0) return false;
      const int fd = ::openat(folder_, temp.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        fd_ = fd;
        name_ = temp;
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
  bool named() const { return !name_.empty(); }

  // Gives the complete unnamed file a temporary name next to name, ready
  // for the rename. Call with the signals and the slots held. Returns
  // errno, 0 on success.
  int give_name(const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string temp = temp_name(name);
      slot_ = register_temp(folder_, temp);
      if (slot_ < 0) return ENAMETOOLONG;
      const int error = link_as(temp);
      if (error == 0) {
        name_ = temp;
        return 0;
      }
      unregister_temp(slot_);
      slot_ = -1;
      if (error != EEXIST) return error;
    }
    return EEXIST;
  }

  int close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
  }

  // Renames over name. Call with the signals and the slots held. Returns errno.
  int rename_over(const std::string& name) {
    if (::renameat(folder_, name_.c_str(), folder_, name.c_str()) != 0) return errno;
    unregister_temp(slot_);
    slot_ = -1;
    name_.clear();
    return 0;
  }

  void discard() {
    if (fd_ >= 0) close();
    if (name_.empty()) return;
    signals_held held;
    ::unlinkat(folder_, name_.c_str(), 0);
    unregister_temp(slot_);
    slot_ = -1;
    name_.clear();
  }

 private:
  static std::string temp_name(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".rplc-%lx-%x", long(::getpid()), counter++);
    // A long name is shortened so that the temporary name stays valid.
    std::string temp(1, '.');
    temp.append(name, 0, NAME_MAX - 1 - 40);
    temp.append(suffix);
    return temp;
  }

  // Linking by the handle itself needs a privilege; through /proc it does not.
  int link_as(const std::string& temp) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, self, folder_, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int error = errno;
    if (error == EEXIST) return error;
    if (::linkat(fd_, "", folder_, temp.c_str(), AT_EMPTY_PATH) == 0) return 0;
    return error == ENOENT ? errno : error;
  }

  int folder_;
  int fd_ = -1;
  int slot_ = -1;
  std::string name_;
};

// --- the two ways of replacing ---------------------------------------------

constexpr std::size_t kCopyBlock = 256 * 1024;

// The new contents: in memory, or complete in a file read from its start.
struct new_contents {
  const void* data = nullptr;
  int fd = -1;
  std::uint64_t size = 0;
};

// Copies count bytes from the start of in over the start of out, a block
// at a time. Returns errno, 0 on success.
int copy_over_start(int in, int out, std::uint64_t count) {
  std::vector<char> block(kCopyBlock);
  off_t at = 0;
  while (std::uint64_t(at) < count) {
    const std::size_t step = std::size_t(std::min<std::uint64_t>(count - at, block.size()));
    const ssize_t n = ::pread(in, block.data(), step, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    std::size_t done = 0;
    while (done < std::size_t(n)) {
      const ssize_t w = ::pwrite(out, block.data() + done, std::size_t(n) - done, at + off_t(done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (w == 0) return EIO;
      done += std::size_t(w);
    }
    at += n;
  }
  return 0;
}

int write_over_start(int fd, const new_contents& contents) {
  if (contents.fd >= 0) return copy_over_start(contents.fd, fd, contents.size);
  return write_all_at_start(fd, contents.data, std::size_t(contents.size));
}

// Gives the temporary file the original's owner and group, before the
// contents, so that one that cannot be kept is known before the write.
bool take_owner(int temp, const struct stat& status) {
  struct stat own;
  if (::fstat(temp, &own) != 0) return false;
  return (own.st_uid == status.st_uid && own.st_gid == status.st_gid) ||
         ::fchown(temp, status.st_uid, status.st_gid) == 0;
}

// Renames the temporary file, complete, over name in folder, once it has
// the attributes and the mode of original (open as status tells) and name
// still leads to the file that was read, unchanged.
outcome rename_over_original(int folder, const std::string& name, temp_file& temp, int original,
                             const struct stat& status, const file_identity& read, bool flush,
                             replace_failure& failure) {
  // The attributes and the mode after the contents: a write clears a file's
  // capabilities and, for an unprivileged writer, its set-ID bits.
  if (copy_attributes(original, temp.fd(), status.st_mode) != 0) return outcome::use_in_place;
  if (flush && ::fsync(temp.fd()) != 0) {
    failure = {"flush the temporary file", errno, ""};
    return outcome::failed;
  }

  probe(replace_moment::before_check);
  {
    const folder_rename_hold renaming(folder);
    // The slots are locked only while a name comes or goes, so that they
    // agree with the folder whenever a handler looks; a handler that has
    // begun keeps the lock, so no name comes or goes after it.
    signals_held held(false);
    if (!still_as_read(folder, name, read, failure))
      return failure.error ? outcome::failed : outcome::changed;
    if (!temp.named()) {
      const temps_locked naming;
      if (temp.give_name(name) != 0) return outcome::use_in_place;
    }
    if (const int error = temp.close()) {
      failure = {"close the temporary file", error, ""};
      return outcome::failed;
    }
    const temps_locked renaming_temp;
    if (const int error = temp.rename_over(name)) {
      failure = {"rename the temporary file over the file", error, ""};
      return outcome::failed;
    }
  }
  if (flush) sync_folder(folder);
  return outcome::replaced;
}

outcome replace_by_rename(int folder, const std::string& name, int original,
                          const struct stat& status, const file_identity& read, const void* data,
                          std::size_t size, bool flush, replace_failure& failure) {
  temp_file temp(folder);
  if (!temp.create_unnamed() && !temp.create_named(name)) return outcome::use_in_place;
  if (!take_owner(temp.fd(), status)) return outcome::use_in_place;
  if (const int error = write_all(temp.fd(), data, size)) {
    failure = {"write the new contents to a temporary file", error, ""};
    return outcome::failed;
  }
  return rename_over_original(folder, name, temp, original, status, read, flush, failure);
}

replace_result rewrite_in_place(int folder, const std::string& name, int fd,
                                const struct stat& status, const file_identity& read,
                                const new_contents& contents, bool flush,
                                replace_failure& failure) {
  const off_t size = off_t(contents.size);
  probe(replace_moment::before_check);
  {
    // From the check to the cut, an interrupt would leave the file half
    // old and half new: it waits, on this thread and on every other.
    signals_held held(false);
    in_place_writer counted;
    // A signal that is ending the process came first: the file stays as it
    // is (the signal is delivered when this rewrite's count ends).
    if (g_pending_signal.load()) {
      failure = {"begin the rewrite in place", EINTR, ""};
      return replace_result::failed;
    }
    if (!still_as_read(folder, name, read, failure)) return check_result(failure);
    if (size > status.st_size) {
      // Claims the space first, so a full disk or a size limit is reported
      // before any byte of the file changes. File systems without the call
      // go on unreserved.
      const int error = ::posix_fallocate(fd, 0, size);
      if (error != 0 && error != EOPNOTSUPP && error != ENOSYS) {
        struct stat now;
        if (::fstat(fd, &now) == 0 && now.st_size != status.st_size)
          (void)!::ftruncate(fd, status.st_size);  // a partial reservation grew it
        failure = {"reserve space for the new contents", error, ""};
        return replace_result::failed;
      }
    }
    probe(replace_moment::in_place_reserved);
    if (const int error = write_over_start(fd, contents)) {
      failure = {"write the new contents over the file", error, ""};
      return replace_result::failed;
    }
    probe(replace_moment::in_place_written);
    if (::ftruncate(fd, size) != 0) {
      failure = {"cut the file to its new length", errno, ""};
      return replace_result::failed;
    }
  }
  if (flush && ::fsync(fd) != 0) {
    failure = {"flush the file", errno, ""};
    return replace_result::failed;
  }
  return replace_result::replaced;
}

// The folder of the file open as read_handle, opened by handle (every later
// step works in this folder, even if its path comes to lead elsewhere),
// into folder, and the file's name there. False with failure and result
// set when it cannot be found.
bool locate(file_handle read_handle, const char* path, int& folder, std::string& name,
            replace_failure& failure, replace_result& result) {
  const std::string location = handle_location(read_handle, path);
  const std::string::size_type slash = location.rfind('/');
  result = replace_result::failed;
  if (location.empty() || location[0] != '/' || slash + 1 == location.size()) {
    failure = {"find the file's folder", ENOENT, ""};
    return false;
  }
  const std::string folder_path = slash == 0 ? "/" : location.substr(0, slash);
  name = location.substr(slash + 1);
  folder = ::open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) return true;
  if (errno == ENOENT || errno == ENOTDIR)
    result = report_change(failure, kRemoved);
  else
    failure = {"open the file's folder", errno, ""};
  return false;
}

// The folder the file was opened in, when its name there still is the
// file read, unchanged: a handle of its own on that folder, and the name.
// This is the check open_unchanged makes before it opens the file.
bool locate_where_opened(const opened_in& where, const file_identity& read, int& folder,
                         std::string& name) {
  if (where.folder < 0 || !where.name) return false;
  struct stat status;
  if (::fstatat(where.folder, where.name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      change_since_read(read, status) != nullptr)
    return false;
  folder = ::fcntl(where.folder, F_DUPFD_CLOEXEC, 0);
  if (folder < 0) return false;
  name = where.name;
  return true;
}

// name in folder opened for writing, once checked to be still the file
// that was read, unchanged, with its status; -1 with failure and result
// set otherwise. Opening for writing proves that the file may be written:
// a file the user may not write is never replaced behind its permissions.
int open_unchanged(int folder, const std::string& name, const file_identity& read,
                   struct stat& status, replace_failure& failure, replace_result& result,
                   bool checked = false) {
  result = replace_result::failed;
  if (!checked && !still_as_read(folder, name, read, failure)) {
    result = check_result(failure);
    return -1;
  }
  const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      result = report_change(failure, kRemoved);
    else if (errno == ELOOP)
      result = report_change(failure, kLinkTookName);
    else
      failure = {"open the file for writing", errno, ""};
    return -1;
  }
  const char* change = nullptr;
  if (::fstat(fd, &status) != 0)
    failure = {"inspect the file", errno, ""};
  else if ((change = change_since_read(read, status)) == nullptr)
    return fd;
  ::close(fd);
  if (change) result = report_change(failure, change);
  return -1;
}

}  // namespace

replace_result replace_file_contents(file_handle read_handle, const file_identity& read,
                                     const char* path, const void* data, std::size_t size,
                                     bool flush, replace_failure& failure,
                                     const opened_in& where) {
  int folder_fd = -1;
  std::string name;
  replace_result result;
  const bool checked = locate_where_opened(where, read, folder_fd, name);
  if (!checked && !locate(read_handle, path, folder_fd, name, failure, result)) return result;
  const descriptor folder(folder_fd);
  struct stat status;
  const descriptor file(
      open_unchanged(folder.get(), name, read, status, failure, result, checked));
  if (file.get() < 0) return result;

  if (status.st_nlink == 1) {
    switch (replace_by_rename(folder.get(), name, file.get(), status, read, data, size, flush,
                              failure)) {
      case outcome::replaced: return replace_result::replaced;
      case outcome::failed: return replace_result::failed;
      case outcome::changed: return replace_result::changed;
      case outcome::use_in_place: break;
    }
  }
  new_contents contents;
  contents.data = data;
  contents.size = size;
  return rewrite_in_place(folder.get(), name, file.get(), status, read, contents, flush, failure);
}

void install_replace_signal_handlers() {
  for (int each : kHeldSignals) {
    struct sigaction old;
    if (::sigaction(each, nullptr, &old) != 0) continue;
    // Respect an ignored signal (nohup) and a handler someone else set.
    if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int blocked : kHeldSignals) sigaddset(&action.sa_mask, blocked);
    ::sigaction(each, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
  // A closed standard output fails the write that finds it (EPIPE) instead
  // of ending the process while another thread rewrites a file in place.
  struct sigaction pipe;
  if (::sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL &&
      !(pipe.sa_flags & SA_SIGINFO))
    ::signal(SIGPIPE, SIG_IGN);
}

void arm_wind_down() { g_wind_down.arm(); }

int wind_down_signal() { return g_wind_down.recorded(); }

int end_wind_down() { return g_wind_down.end(); }

void end_by_signal(int signal_number) {
  {
    signals_held held(false);
    g_pending_signal.store(signal_number);
    lock_temps();  // kept, as in the handler
    for (const TEMP_SLOT& slot : g_temps)
      if (slot.live.load(std::memory_order_acquire)) ::unlinkat(slot.folder, slot.name, 0);
    ::signal(signal_number, SIG_DFL);
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);  // a signal whose default is not to end
}

void set_replace_probe(replace_probe probe) { g_probe = probe; }

void allow_unnamed_temp_files(bool allow) { g_unnamed_allowed = allow; }

// A rename replaces a file that is open; the open handle keeps the old one.
bool replace_needs_closed_file() { return false; }

// --- streamed replacement ----------------------------------------------------

namespace {

// Copies count bytes from offset from of in to the current end of out:
// copy_file_range where the file systems allow, read and write otherwise.
int copy_range(int in, off_t from, int out, std::uint64_t count) {
  bool kernel = true;
  std::vector<char> block;
  while (count > 0) {
    const std::size_t step = std::size_t(std::min<std::uint64_t>(count, 1u << 30));
    ssize_t n;
    if (kernel) {
      n = ::copy_file_range(in, &from, out, nullptr, step, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                    errno == EOPNOTSUPP || errno == EBADF)) {
        kernel = false;
        continue;
      }
    } else {
      if (block.empty()) block.resize(kCopyBlock);
      n = ::pread(in, block.data(), std::min(step, block.size()), from);
      if (n > 0) {
        if (const int error = write_all(out, block.data(), std::size_t(n))) return error;
        from += n;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // the file is shorter than what was read
    count -= std::uint64_t(n);
  }
  return 0;
}

}  // namespace

struct streamed_replacement::STATE {
  STATE(file_handle handle, const char* where) : read_fd(handle), path(where ? where : "") {}
  ~STATE() {
    temp.reset();
    if (spare_folder >= 0) ::close(spare_folder);
    if (folder >= 0) ::close(folder);
  }

  // Where the new contents go: a temporary file in the file's folder, or,
  // when the folder refuses one, in the system's temporary folder (the file
  // is then rewritten in place).
  bool create_temp(replace_failure& failure) {
    replace_result result;
    if (!locate(read_fd, path.c_str(), folder, name, failure, result)) return false;
    if (::fstat(read_fd, &original) != 0) {
      failure = {"inspect the file", errno, ""};
      return false;
    }
    temp = std::make_unique<temp_file>(folder);
    if (temp->create_unnamed() || temp->create_named(name)) {
      if (!take_owner(temp->fd(), original)) in_place = true;
      return true;
    }
    in_place = true;
    spare_folder = ::open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    temp = std::make_unique<temp_file>(spare_folder);
    if (spare_folder >= 0 && (temp->create_unnamed() || temp->create_named(name))) return true;
    failure = {"create a temporary file", errno ? errno : EACCES, ""};
    return false;
  }

  int read_fd;
  std::string path;
  int folder = -1;
  int spare_folder = -1;
  std::string name;
  struct stat original {};
  std::unique_ptr<temp_file> temp;
  bool in_place = false;
  std::uint64_t size = 0;  // bytes of new contents so far
};

streamed_replacement::streamed_replacement(file_handle read_handle, const char* path)
    : state_(new STATE(read_handle, path)) {}

streamed_replacement::~streamed_replacement() { delete state_; }

bool streamed_replacement::begin(std::uint64_t unchanged, replace_failure& failure) {
  if (!state_->create_temp(failure)) return false;
  if (const int error = copy_range(state_->read_fd, 0, state_->temp->fd(), unchanged)) {
    failure = {"copy the unchanged start to a temporary file", error, ""};
    return false;
  }
  state_->size = unchanged;
  return true;
}

bool streamed_replacement::write(const void* data, std::size_t size, replace_failure& failure) {
  if (const int error = write_all(state_->temp->fd(), data, size)) {
    failure = {"write the new contents to a temporary file", error, ""};
    return false;
  }
  state_->size += size;
  return true;
}

replace_result streamed_replacement::finish(const file_identity& read, bool flush,
                                            replace_failure& failure) {
  STATE& state = *state_;
  struct stat status;
  replace_result result;
  const descriptor file(open_unchanged(state.folder, state.name, read, status, failure, result));
  if (file.get() < 0) return result;
  if (status.st_nlink == 1 && !state.in_place) {
    switch (rename_over_original(state.folder, state.name, *state.temp, file.get(), status, read,
                                 flush, failure)) {
      case outcome::replaced: return replace_result::replaced;
      case outcome::failed: return replace_result::failed;
      case outcome::changed: return replace_result::changed;
      case outcome::use_in_place: break;
    }
  }
  // From the complete temporary file, a block at a time.
  new_contents contents;
  contents.fd = state.temp->fd();
  contents.size = state.size;
  return rewrite_in_place(state.folder, state.name, file.get(), status, read, contents, flush,
                          failure);
}

bool streamed_replace_supported() { return true; }

}  // namespace Velk::os
