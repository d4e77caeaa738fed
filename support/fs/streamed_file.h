// CStreamedFile: one file read a chunk at a time and, when its contents
// change, replaced by new contents written in pieces, so that neither is
// ever held whole. The replacement keeps every promise of CDir::WriteFile
// (write_back.h, os/file_replace.h): nothing is written before the first
// change, and the file is replaced only if it is still as it was when it
// was opened and read (a file changed while it was streamed is left alone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/core/basic_buffer.h"
#include "support/fs/sys_file.h"
#include "support/os/file_identity.h"
#include "support/os/file_replace.h"

namespace Velk {

class CStreamedFile {
 public:
  CStreamedFile();
  ~CStreamedFile();
  CStreamedFile(const CStreamedFile&) = delete;
  CStreamedFile& operator=(const CStreamedFile&) = delete;

  // Whether files can be streamed on this system; where not, they are
  // read and written whole.
  static bool IsSupported();

  // Opens path for reading: a regular file, whose identity is taken before
  // the first read. Throws as CDir::ReadFile does.
  void Open(const narrow_buffer& path);
  // Reads up to room bytes; 0 only at the end. Throws sysfileExp.
  std::size_t Read(char* dest, std::size_t room);

  // Starts the new contents with the first `unchanged` bytes as read.
  // Throws as CDir::WriteFile does.
  void BeginRewrite(std::uint64_t unchanged);
  // Appends a piece of the new contents. Throws as CDir::WriteFile does.
  void Write(const char* data, std::size_t size);
  // After the whole file was read: replaces it by the new contents. Throws
  // as CDir::WriteFile does.
  void FinishRewrite(bool flush);
  bool Rewriting() const { return rewrite_ != nullptr; }

 private:
  CSysFile file_;
  os::file_identity state_;
  std::uint64_t read_ = 0;
  std::unique_ptr<os::streamed_replacement> rewrite_;
};

}  // namespace Velk
