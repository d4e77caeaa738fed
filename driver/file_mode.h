// File mode: the input set collected from the file patterns, each file read
// whole, and the write-back (or under "-diff" the name a preview shows) with
// its per-file report and error policy.
// Failures to read or write one file, or to search a folder, are reported
// on standard error with an "[ERROR] " line; the run goes on, or ends under
// "-errstop".
//
// The input set holds each file once, whatever names reach it (the same
// name twice, overlapping patterns, hard links, a symbolic link named
// beside its target): the first name in list order is the one worked and
// reported, later names of the same file (same volume and file number) are
// left out without a message.
//
// Read and WriteBack may run on several threads at once (for different
// files) while the list is still growing: they return their messages
// instead of writing them, so the caller can report files in list order.
#pragma once

#include <cstdint>
#include <exception>
#include <vector>

#include "driver/arg_list.h"
#include "driver/ordered_file_pool.h"
#include "driver/run_settings.h"
#include "support/core/basic_buffer.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"

namespace Velk {

class CFileMode {
 public:
  explicit CFileMode(const RUN_SETTINGS& settings);

  enum class collect_result {
    found,       // at least one file
    none_found,  // no pattern matched any file
    refused,     // a pattern without wildcards names no file: nothing to do
  };

  // Lists the files of every pattern in command-line order into feed, as
  // the walk finds them. A pattern without "*" or "?" that names no
  // existing file or folder (with "-s": in no folder of the walk) is a
  // slip: each is reported ("[ERROR] no such file: NAME", with a hint when
  // it is spelled like a switch given after "--") and the run is refused
  // before any file is listed; so is a pattern whose folder is missing, by
  // the dirExp thrown. Folders that cannot be searched are reported at
  // their place in the list (a note). Side effect on the whole process:
  // unless the run writes no file ("-stdout", "-diff"), it first installs
  // the write-back signal handlers (write_back.h): SIGINT, SIGTERM, SIGHUP
  // and SIGQUIT then remove every live temporary file and end the process
  // as they would have, after a rewrite in place under way has finished
  // (while the driver winds the run down, the first SIGINT, SIGTERM or
  // SIGHUP only stops it); SIGXFSZ is ignored, and SIGPIPE unless handled.
  collect_result List(const CArgList& args, TFileFeed& feed);

  // True when a pattern without wildcards stands beside other patterns. Its
  // file may be a link to one that a later pattern lists, and a rewrite
  // gives that file a new identity: so nothing may be written before the
  // listing ends, when every identity seen is the one from before the run.
  static bool NamesAFileBesideOtherPatterns(const CArgList& args);

  // A folder of the walk could not be searched: the run fails at its end.
  bool AnyFolderFailed() const { return folder_failed_; }

  // Reports file as a binary file left alone, when asked for ("-frc").
  void ReportBinarySkipped(const LISTED_FILE& file) const;

  // Reads file whole into content and records in identity which file that
  // was; false when the file cannot be read or is longer than the engine
  // takes, with the error line and its reason (each ending in a line feed)
  // appended to messages. A file found by listing is read only if it is
  // still the file the listing showed, and a symbolic link that took its
  // name is not followed. A run that rewrites files reads the file the
  // name leads to now (another rplc may have renamed its result over the
  // file listed); read locked, the file stays locked against other rplc
  // runs until identity's file is closed (WriteBack closes it).
  bool Read(const LISTED_FILE& file, narrow_buffer& content, FILE_IDENTITY& identity,
            narrow_buffer& messages, bool locked) const;
  // The two halves of Read, for a caller that decides by the file's size
  // how to read it: Open opens file as Read does (size: the size the file
  // tells), ReadOpened then reads it whole into content.
  bool Open(const LISTED_FILE& file, FILE_IDENTITY& identity, std::uint64_t& size,
            narrow_buffer& messages, bool locked) const;
  bool ReadOpened(const LISTED_FILE& file, FILE_IDENTITY& identity, std::uint64_t size,
                  narrow_buffer& content, narrow_buffer& messages) const;

  // The error lines of a failure to read file (an exception from its read,
  // a chunk at a time or whole) or to write it.
  void AppendReadFailure(const LISTED_FILE& file, const std::exception_ptr& error,
                         narrow_buffer& messages) const;
  void AppendWriteFailure(const LISTED_FILE& file, const byExp& error,
                          narrow_buffer& messages) const;

  // Rewrites file, as read into identity, with content after n
  // replacements; false when the write failed (or the file changed since),
  // with the error lines appended to messages. The count is then neither
  // reported nor added to the total.
  bool WriteBack(const LISTED_FILE& file, const narrow_buffer& content, FILE_IDENTITY& identity,
                 std::uint64_t n, narrow_buffer& messages) const;

  // Appends the report of file's failure by an exception, which ended its
  // work (out of memory, say), to messages: "[ERROR] failed processing
  // file: " and the name, then "  " and what the exception says.
  void DescribeFailure(const LISTED_FILE& file, const std::exception_ptr& error,
                       narrow_buffer& messages) const;

  // Writes the per-file count line of a rewritten file, when asked for.
  void ReportCount(const LISTED_FILE& file, std::uint64_t n) const;

  // A file's name in a diff: relative to the current folder when below it.
  narrow_buffer GetDiffName(const LISTED_FILE& file) const;

 private:
  class CCollector;

  const RUN_SETTINGS& settings_;
  bool folder_failed_ = false;
  narrow_buffer current_folder_;  // full, ending in "/"
};

}  // namespace Velk
