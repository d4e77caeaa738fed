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
#include "support/fs/dir.h"
#include "support/os/file_replace.h"

namespace Velk {

class CStreamedFile {
 public:
  CStreamedFile();
  ~CStreamedFile();
  CStreamedFile(CStreamedFile&&) noexcept;
  CStreamedFile& operator=(CStreamedFile&&) noexcept;

  // Whether files can be streamed on this system; where not, they are
  // read and written whole.
  static bool IsSupported();

  // Takes over a file that CDir::OpenToRead opened (opened is left empty):
  // it stays open, and locked when it was, until FinishRewrite or Reset.
  void Attach(FILE_IDENTITY& opened);
  // Reads up to room bytes; 0 only at the end. Throws sysfileExp.
  std::size_t Read(char* dest, std::size_t room);
  // Bytes read so far.
  std::uint64_t GetRead() const { return read_; }
  // The file's size when it was opened.
  std::uint64_t GetSize() const { return file_.state.size; }
  const narrow_buffer& GetPath() const { return file_.file.GetPath(); }

  // Starts the new contents with the first `unchanged` bytes as read.
  // Throws as CDir::WriteFile does.
  void BeginRewrite(std::uint64_t unchanged);
  // Appends a piece of the new contents. Throws as CDir::WriteFile does.
  void Write(const char* data, std::size_t size);
  // After the whole file was read: replaces it by the new contents, then
  // lets the file go. Throws as CDir::WriteFile does.
  void FinishRewrite(bool flush);
  bool Rewriting() const { return rewrite_ != nullptr; }

  // Lets the file go, and the new contents with it (nothing is changed).
  void Reset();

 private:
  FILE_IDENTITY file_;
  std::uint64_t read_ = 0;
  std::unique_ptr<os::streamed_replacement> rewrite_;
};

}  // namespace Velk
