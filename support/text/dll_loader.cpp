#include "support/text/dll_loader.h"

#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/dynlib.h"

namespace Velk {

namespace {

narrow_buffer hex_code(const narrow_buffer& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  narrow_buffer hex;
  hex.reserve_exact(std::size_t(text.length()) * 2 + 1);
  for (char ch : text) {
    const unsigned byte = static_cast<unsigned char>(ch);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

}  // namespace

narrow_buffer CDllLoader::FileName(const narrow_buffer& base_name,
                                   const narrow_buffer& version,
                                   const narrow_buffer& extension) {
  narrow_buffer file;
  if (extension.empty()) {
    file.append(base_name);
    file.append(version);
    return file;
  }
  const narrow_buffer::size_type slash = base_name.rfind(narrow_buffer::literal("/"));
  const narrow_buffer::size_type leaf =
      slash == narrow_buffer::npos ? 0 : slash + 1;
  file.append(base_name, 0, leaf);
  file.append("lib");
  file.append(base_name, leaf);
  file.append(".so");
  if (!version.empty()) {
    file.push_back('.');
    file.append(version);
  }
  return file;
}

CDllLoader::CDllLoader(const narrow_buffer& base_name,
                       const narrow_buffer& version,
                       const narrow_buffer& extension) {
  const narrow_buffer file = FileName(base_name, version, extension);
  os::library_error error;
  module_ = os::load_library(file.c_str(), error);
  if (!module_)
    throw dlllExp(1, message_builder("CDllLoader::CDllLoader - error loading dynamic library")
                         .detail("dll path", file)
                         .detail("path hex code", hex_code(file))
                         .detail("sys error code", error.number)
                         .detail("sys error desc", error.text)
                         .str());
}

CDllLoader::~CDllLoader() noexcept(false) {
  os::library_error error;
  if (!os::unload_library(module_, error) && std::uncaught_exceptions() == 0)
    throw dlllExp(2, message_builder("CDllLoader::~CDllLoader - error release dynamic library")
                         .detail("sys error code", error.number)
                         .detail("sys error desc", error.text)
                         .str());
}

void* CDllLoader::GetProc(const narrow_buffer& name) const {
  os::library_error error;
  void* address = os::library_symbol(module_, name.c_str(), error);
  if (!address)
    throw dlllExp(3, message_builder("CDllLoader::GetProc - error get the address of specific proc")
                         .detail("proc name", name)
                         .detail("sys error code", error.number)
                         .detail("sys error desc", error.text)
                         .str());
  return address;
}

}  // namespace Velk
