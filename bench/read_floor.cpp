// The floor of the tree workload: list every regular file below a folder
// (not following links), then read each whole on N threads with the four
// calls a file without a match costs (open relative to its folder, status,
// one read of its size, close). No search, no write: about the least a
// replace tool that reads every file can take (the listing is done first,
// not while the files are read).
//   read_floor FOLDER [THREADS]
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_floor FOLDER [THREADS]\n");
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  const int root = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return 1;
  std::vector<FILE_ENTRY> files;
  List(root, files);
  std::atomic<std::size_t> next{0};
  std::atomic<unsigned long long> total{0};
  auto work = [&] {
    std::vector<char> buffer;
    unsigned long long bytes = 0;
    for (std::size_t i; (i = next++) < files.size();) {
      const int fd = ::openat(files[i].folder, files[i].name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat status;
      if (::fstat(fd, &status) == 0 && status.st_size > 0) {
        if (buffer.size() < std::size_t(status.st_size)) buffer.resize(status.st_size);
        const ssize_t n = ::read(fd, buffer.data(), status.st_size);
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
