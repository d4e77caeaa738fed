// CErrorHandlers: installs the process's last-resort handlers, which end
// the process at once with status -1 (255) when a failure escapes every
// handler of the program:
//
//   - hardware faults (invalid memory access, stack overflow, bus error,
//     illegal instruction, arithmetic fault, trap), caught by signal
//     handlers on an alternate stack;
//   - an allocation through new that fails (std::set_new_handler): such an
//     allocation never throws std::bad_alloc;
//   - std::terminate (std::set_terminate).
//
// Each handler logs one text under the source name "util.errhnd" to the
// process logger (logger.h) and flushes it; with no logger installed, as in
// rplc, it writes nothing. Only the first construction installs; nothing
// uninstalls.
//
// The program's instance is g_error_handlers below: an inline variable, so
// a program gets it, constructed during static initialisation before main
// runs, simply by including this header in main's translation unit (a
// static object in a library's object file of its own would be dropped by
// the linker, since nothing references it).
#pragma once

namespace Velk {

class CErrorHandlers {
 public:
  CErrorHandlers();
  CErrorHandlers(const CErrorHandlers&) = delete;
  CErrorHandlers& operator=(const CErrorHandlers&) = delete;
};

inline CErrorHandlers g_error_handlers;

}  // namespace Velk
