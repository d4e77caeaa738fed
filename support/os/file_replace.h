// Replacing a file's contents so that they are never lost, given the
// identity of the file as it was read (file_identity.h).
//
// The file is found again through the handle it was read by (a symbolic
// link was resolved when it was opened and is not followed again), and is
// replaced in its own folder, by the folder's handle. It must still be
// that file, unchanged: same volume and file number, same
// size, same change times. Otherwise nothing is written and the result is
// `changed`: a file another process modified, removed, or replaced by a
// newer version or a link is left as that process left it. A file that no
// longer exists is never created again.
//
// The new contents go to a temporary file in the same folder: unnamed where
// the file system allows it, so that a process killed outright leaves no
// partial file behind, and given a name only when complete. It takes the
// original's owner and group, extended attributes (access control lists,
// user attributes, security labels where the process may set them) and
// exactly its permission bits, and is then renamed over the original in
// one step. Where a rename would change what others rely on (more hard
// links, an owner or an attribute that cannot be kept, a folder that
// refuses the temporary file) the file is rewritten in place instead, with
// the new size reserved before the first byte changes and the file cut
// only at the end; SIGINT, SIGTERM, SIGHUP and SIGQUIT are held back from
// the first change until the file is whole, then act as they would have.
// Nothing can cover SIGKILL or a power loss in the middle of an in-place
// rewrite.
//
// On failure the original contents are intact (except for an I/O error in
// the middle of an in-place rewrite, which no order of steps can prevent),
// no temporary file is left behind, and the failed step and error number
// are returned. Several threads may replace files at once (different
// files): the interrupt handlers know every live temporary file, and hold
// an interrupt back while any thread rewrites a file in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/os/file.h"
#include "support/os/file_identity.h"

namespace Velk::os {

enum class replace_result { replaced, failed, changed };

struct replace_failure {
  const char* step = "";    // what was being done, for the message
  int error = 0;            // errno; 0 for a change
  const char* change = "";  // with `changed`: what happened to the file
};

// Where the file was opened when it was opened by its name in an open
// folder (open_file_in): the file is then looked for there first, which
// spares asking the system where the handle leads and opening that folder
// by its path. Only if that name still is the file read; otherwise it is
// found through its handle as without.
struct opened_in {
  int folder = -1;
  const char* name = nullptr;
};

// read_handle is the file as it was read, still open, and read its identity
// then. path names it (a full path); it is used only where the system
// cannot tell the location of an open handle. flush syncs the new contents
// to the device before they replace the old ones.
replace_result replace_file_contents(file_handle read_handle, const file_identity& read,
                                     const char* path, const void* data, std::size_t size,
                                     bool flush, replace_failure& failure,
                                     const opened_in& where = opened_in());

// True where a file cannot be replaced while it is open (Windows): the
// caller then closes the read handle and passes invalid_file_handle, and
// the file is found again by path, opened afresh and compared with read.
bool replace_needs_closed_file();

// Call once at start-up: SIGINT, SIGTERM, SIGHUP and SIGQUIT (unless
// ignored) then remove a live named temporary file before ending the
// process as they would have; SIGXFSZ is ignored so that a file-size limit
// fails the write with EFBIG instead of killing the process half way, and
// SIGPIPE (unless handled) so that a closed output fails the write to it
// (EPIPE) instead of ending the process during a rewrite.
void install_replace_signal_handlers();

// The wind-down of a run: after arm_wind_down the first SIGINT, SIGTERM or
// SIGHUP (Ctrl+C, Ctrl+Break, a closed console on Windows) only records
// itself, so that the run can stop starting files and report the ones it
// wrote; a second one, or SIGQUIT, ends the process at once as above.
// wind_down_signal tells whether one arrived (its number, else 0);
// end_wind_down disarms and returns the same. end_by_signal removes every
// live temporary file and ends the process as that signal would have.
void arm_wind_down();
int wind_down_signal();
int end_wind_down();
[[noreturn]] void end_by_signal(int signal_number);

// The same replacement for new contents that arrive in pieces, so that
// neither the file nor its new contents are ever held whole: begin() at the
// first change creates the temporary file and copies into it the unchanged
// start of the file as read (in the kernel where it can), write() appends
// each piece, finish() replaces the file as replace_file_contents does,
// with every promise made there. read must describe everything that was
// read (its size the bytes read), so the check covers the whole read: a
// file written to while it was streamed is reported as changed. Where the
// rename cannot be used the file is rewritten in place from the complete
// temporary file, a piece at a time, or from a temporary file elsewhere
// when the folder refuses one. Dropped unfinished, nothing is changed and
// no temporary file is left. Where it is not supported (see
// streamed_replace_supported) begin() fails.
class streamed_replacement {
 public:
  // read_handle: the file being read, open until finish(); path as for
  // replace_file_contents.
  streamed_replacement(file_handle read_handle, const char* path);
  ~streamed_replacement();
  streamed_replacement(const streamed_replacement&) = delete;
  streamed_replacement& operator=(const streamed_replacement&) = delete;

  bool begin(std::uint64_t unchanged, replace_failure& failure);
  bool write(const void* data, std::size_t size, replace_failure& failure);
  replace_result finish(const file_identity& read, bool flush, replace_failure& failure);

  struct STATE;

 private:
  STATE* state_;
};

// Whether streamed_replacement works on this system.
bool streamed_replace_supported();

// Test seam: a probe called at the moments a test must strike to prove the
// guarantees above. Never set outside tests.
enum class replace_moment {
  before_check,      // new contents ready (or about to be written in place)
  in_place_reserved, // in place: size reserved, no byte written yet
  in_place_written,  // in place: new contents written, file not yet cut
  handler_looked,    // an interrupt handler found no rewrite in place under
                     // way and is about to end the process
};
using replace_probe = void (*)(replace_moment moment);
void set_replace_probe(replace_probe probe);
// Test seam: false makes every temporary file a named one, as on file
// systems without unnamed files.
void allow_unnamed_temp_files(bool allow);

}  // namespace Velk::os
