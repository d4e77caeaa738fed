// The floor of the tree workload: list every regular file below a folder
// (not following links), then read each whole on N threads with the four
// calls a file without a match costs (open relative to its folder, status,
// one read of its size, close). No search, no write: about the least a
// replace tool that reads every file can take (the listing is done first,
// not while the files are read).
//   read_floor FOLDER [THREADS [WAY]]
// WAY says how the files are read, to show that no other way of asking the
// kernel costs much less on this machine:
//   calls     open, status, one read of the size, close (the default);
//   no-status open, one read of 64 KiB, close: the status call left out;
//   uring     io_uring, batches of 32 files: all opens (into registered
//             slots), then all reads, then all closes, one submission each.
#include <dirent.h>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FILE_ENTRY {
  int folder;
  std::string name;
};

void List(int folder, std::vector<FILE_ENTRY>& files) {
  DIR* listing = ::fdopendir(::dup(folder));
  if (!listing) return;
  std::vector<std::string> subs;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_DIR) subs.push_back(name);
    else if (entry->d_type == DT_REG) files.push_back({folder, name});
  }
  ::closedir(listing);
  for (const std::string& sub : subs) {
    const int fd = ::openat(folder, sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) List(fd, files);
  }
}

// The least of an io_uring: one ring, its submission and completion
// queues mapped, entries filled by hand.
class CRing {
 public:
  bool Init(unsigned entries) {
    io_uring_params params{};
    fd_ = int(::syscall(__NR_io_uring_setup, entries, &params));
    if (fd_ < 0) return false;
    const std::size_t sq_size = params.sq_off.array + params.sq_entries * sizeof(unsigned);
    const std::size_t cq_size = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
    const std::size_t size = sq_size > cq_size ? sq_size : cq_size;
    void* rings = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                         IORING_OFF_SQ_RING);
    void* sqes = ::mmap(nullptr, params.sq_entries * sizeof(io_uring_sqe),
                        PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, IORING_OFF_SQES);
    if (!(params.features & IORING_FEAT_SINGLE_MMAP) || rings == MAP_FAILED || sqes == MAP_FAILED)
      return false;
    char* base = static_cast<char*>(rings);
    sq_tail_ = reinterpret_cast<unsigned*>(base + params.sq_off.tail);
    sq_mask_ = *reinterpret_cast<unsigned*>(base + params.sq_off.ring_mask);
    sq_array_ = reinterpret_cast<unsigned*>(base + params.sq_off.array);
    cq_head_ = reinterpret_cast<unsigned*>(base + params.cq_off.head);
    cq_tail_ = reinterpret_cast<unsigned*>(base + params.cq_off.tail);
    cq_mask_ = *reinterpret_cast<unsigned*>(base + params.cq_off.ring_mask);
    cqes_ = reinterpret_cast<io_uring_cqe*>(base + params.cq_off.cqes);
    sqes_ = static_cast<io_uring_sqe*>(sqes);
    return true;
  }
  bool RegisterSlots(unsigned count) {
    std::vector<int> empty(count, -1);
    return ::syscall(__NR_io_uring_register, fd_, IORING_REGISTER_FILES, empty.data(), count) == 0;
  }
  io_uring_sqe* Next() {
    const unsigned tail = *sq_tail_;
    const unsigned i = tail & sq_mask_;
    sq_array_[i] = i;
    std::memset(&sqes_[i], 0, sizeof sqes_[i]);
    __atomic_store_n(sq_tail_, tail + 1, __ATOMIC_RELEASE);
    return &sqes_[i];
  }
  // Submits count entries, waits for them, and adds the bytes the reads
  // among them (user_data 1) brought.
  bool SubmitAndWait(unsigned count, unsigned long long& bytes) {
    if (::syscall(__NR_io_uring_enter, fd_, count, count, IORING_ENTER_GETEVENTS, nullptr, 0) < 0)
      return false;
    unsigned head = *cq_head_;
    const unsigned tail = __atomic_load_n(cq_tail_, __ATOMIC_ACQUIRE);
    for (; head != tail; ++head) {
      const io_uring_cqe& done = cqes_[head & cq_mask_];
      if (done.user_data == 1 && done.res > 0) bytes += done.res;
    }
    __atomic_store_n(cq_head_, head, __ATOMIC_RELEASE);
    return true;
  }

 private:
  int fd_ = -1;
  unsigned *sq_tail_ = nullptr, *sq_array_ = nullptr, *cq_head_ = nullptr, *cq_tail_ = nullptr;
  unsigned sq_mask_ = 0, cq_mask_ = 0;
  io_uring_sqe* sqes_ = nullptr;
  io_uring_cqe* cqes_ = nullptr;
};

constexpr std::size_t kUringBatch = 32;
constexpr std::size_t kFileRoom = 64 * 1024;

unsigned long long ReadByUring(const std::vector<FILE_ENTRY>& files, std::atomic<std::size_t>& next) {
  CRing ring;
  if (!ring.Init(2 * kUringBatch) || !ring.RegisterSlots(kUringBatch)) {
    std::fprintf(stderr, "read_floor: no io_uring here\n");
    std::exit(1);
  }
  std::vector<char> buffer(kUringBatch * kFileRoom);
  unsigned long long bytes = 0;
  for (;;) {
    const std::size_t first = next.fetch_add(kUringBatch);
    if (first >= files.size()) break;
    const unsigned count = unsigned(std::min(kUringBatch, files.size() - first));
    for (int step = 0; step < 3; ++step) {
      for (unsigned k = 0; k < count; ++k) {
        io_uring_sqe* entry = ring.Next();
        if (step == 0) {
          entry->opcode = IORING_OP_OPENAT;
          entry->fd = files[first + k].folder;
          entry->addr = reinterpret_cast<std::uintptr_t>(files[first + k].name.c_str());
          entry->open_flags = O_RDONLY | O_NOFOLLOW;  // a registered slot takes no O_CLOEXEC
          entry->file_index = k + 1;
        } else if (step == 1) {
          entry->opcode = IORING_OP_READ;
          entry->fd = int(k);
          entry->flags = IOSQE_FIXED_FILE;
          entry->addr = reinterpret_cast<std::uintptr_t>(buffer.data() + k * kFileRoom);
          entry->len = kFileRoom;
          entry->user_data = 1;
        } else {
          entry->opcode = IORING_OP_CLOSE;
          entry->file_index = k + 1;
        }
      }
      if (!ring.SubmitAndWait(count, bytes)) {
        std::perror("read_floor: io_uring_enter");
        std::exit(1);
      }
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_floor FOLDER [THREADS [calls|no-status|uring]]\n");
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  const std::string way = argc > 3 ? argv[3] : "calls";
  if (way != "calls" && way != "no-status" && way != "uring") {
    std::fprintf(stderr, "read_floor: unknown way %s\n", way.c_str());
    return 2;
  }
  const int root = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return 1;
  std::vector<FILE_ENTRY> files;
  List(root, files);
  std::atomic<std::size_t> next{0};
  std::atomic<unsigned long long> total{0};
  auto work = [&] {
    if (way == "uring") {
      total += ReadByUring(files, next);
      return;
    }
    std::vector<char> buffer(kFileRoom);
    unsigned long long bytes = 0;
    for (std::size_t i; (i = next++) < files.size();) {
      const int fd = ::openat(files[i].folder, files[i].name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      std::size_t size = kFileRoom;
      struct stat status;
      if (way == "calls") size = ::fstat(fd, &status) == 0 ? std::size_t(status.st_size) : 0;
      if (size > 0) {
        if (buffer.size() < size) buffer.resize(size);
        const ssize_t n = ::read(fd, buffer.data(), size);
        if (n > 0) bytes += n;
      }
      ::close(fd);
    }
    total += bytes;
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  std::printf("%zu files, %llu bytes\n", files.size(), total.load());
  return 0;
}
