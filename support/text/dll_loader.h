// CDllLoader: one dynamic library loaded by file name for the life of the
// object, and the lookup of its entry points.
//
// The file name is made from a base name, a version and an extension the
// POSIX way: with an extension, "lib" goes before the last component of the
// base name and ".so" after it, then "." and the version when there is one
// ("iconv", "", "dll" is libiconv.so; "icuuc", "72", "dll" is
// libicuuc.so.72); without an extension the base name and the version are
// used exactly as given ("a/b" loads the file a/b).
//
// Error contract: dlllExp with code 1 (load), 2 (unload, from the destructor
// only when no other exception is in flight) and 3 (GetProc); the messages
// carry errno and the loader's own error text.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

class CDllLoader {
 public:
  CDllLoader(const narrow_buffer& base_name, const narrow_buffer& version,
             const narrow_buffer& extension);
  ~CDllLoader() noexcept(false);
  CDllLoader(const CDllLoader&) = delete;
  CDllLoader& operator=(const CDllLoader&) = delete;

  // The address of the entry point name; never null.
  void* GetProc(const narrow_buffer& name) const;

  // The file name the constructor loads for these parts.
  static narrow_buffer FileName(const narrow_buffer& base_name,
                                const narrow_buffer& version,
                                const narrow_buffer& extension);

 private:
  void* module_;
};

}  // namespace Velk
