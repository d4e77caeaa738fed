#include "driver/run_driver.h"

#include <exception>

#include "driver/arg_list.h"
#include "driver/change_review.h"
#include "driver/diff_preview.h"
#include "driver/exception_text.h"
#include "driver/file_mode.h"
#include "driver/file_work.h"
#include "driver/help_screen.h"
#include "driver/ordered_file_pool.h"
#include "driver/replace_step.h"
#include "driver/run_settings.h"
#include "driver/std_streams.h"
#include "driver/stdio_stream.h"
#include "driver/switch_table.h"
#include "driver/unified_diff.h"
#include "engine/stream_replacer.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"
#include "support/core/system_info.h"
#include "support/fs/write_back.h"
#include "support/os/terminal.h"

namespace Velk {
namespace {

// Writes one "[ERROR] unknown switch: " line per switch the driver does not
// know; true when there was none.
bool AllSwitchesKnown(const CArgList& args) {
  bool known = true;
  for (std::uint32_t k = 0; k < args.GetSwitchCount(); ++k) {
    const ARG_ITEM& item = args.GetSwitch(k);
    if (IsKnownSwitch(item.name)) continue;
    WriteErrorLine(narrow_buffer::literal("[ERROR] unknown switch: ") + item.text);
    known = false;
  }
  return known;
}

bool HasEmptyPattern(const CArgList& args) {
  for (std::uint32_t j = 0; j < args.GetPatternCount(); ++j)
    if (args.GetPattern(j).empty()) return true;
  return false;
}

// After a refused command line: where to look, instead of the whole screen.
void RefuseCommandLine(const narrow_buffer& line) {
  if (!line.empty()) WriteErrorLine(line);
  WriteErrorLine(narrow_buffer::literal("run 'rplc -h' for the switches"));
}

int Run(int argc, const char* const* argv) {
#if defined(_WIN32)
  // On Windows "/" always opens a switch, as "-" does: paths there begin
  // with a drive letter or a backslash.
  const narrow_buffer conditional_prefixes;
#else
  // "/" opens a switch only when a known switch name follows it: on POSIX
  // it also begins every absolute path.
  const narrow_buffer conditional_prefixes = narrow_buffer::literal("/");
#endif
  const CArgList args(argc, argv, narrow_buffer::literal("-/"), narrow_buffer::literal(":="),
                      1, conditional_prefixes, IsKnownSwitch);
  // Every refusal below comes before anything is read or written.
  if (!AllSwitchesKnown(args)) {
    RefuseCommandLine(narrow_buffer());
    return -1;
  }
  RUN_SETTINGS settings = ReadFindAndReplace(args);
  if (argc <= 1 || WantsHelp(args, settings)) {
    PrintHelp();
    return 0;
  }
  if (WantsVersion(args)) {
    WriteStandardOutput(narrow_buffer::literal("rplc " RPLC_VERSION "\n"));
    return 0;
  }
  if (HasEmptyPattern(args)) {
    RefuseCommandLine(narrow_buffer::literal("[ERROR] empty file pattern"));
    return -1;
  }
  if (const char* missing = MissingPart(args, settings)) {
    RefuseCommandLine(narrow_buffer::literal("[ERROR] ") + missing);
    return -1;
  }
  if (const char* refused = ReadOtherSwitches(args, settings)) {
    RefuseCommandLine(narrow_buffer::literal("[ERROR] ") + refused);
    return -1;
  }
  // The review talks to the terminal, whatever the standard streams are.
  CReviewTerminal terminal;
  if (settings.review) {
    narrow_buffer reason;
    if (!terminal.Open(reason)) {
      WriteErrorLine(narrow_buffer::literal("[ERROR] -review needs a terminal to ask at: ") +
                     reason);
      return -1;
    }
  }
  settings.colored =
      UseColors(settings.color,
                settings.review ? terminal.ShowsColors()
                                : os::shows_colors(os::std_stream::output),
                os::no_color_requested());

  int status = 0;
  Matcher matcher;
  narrow_buffer matcher_error;
  if (settings.method == FindMethod::Regex) {
    narrow_buffer reason;
    matcher = CompileFind(settings, &reason);
    if (matcher.empty()) {
      // The run goes on and replaces nothing, so a pipe still passes its
      // input through; the status tells the caller the pattern was bad.
      matcher_error = narrow_buffer::literal("[ERROR] invalid regular expression: ") + reason;
      status = -1;
    }
  }
  // Reported once there is an input: a file mode run that finds no file
  // reports only that.
  if (settings.stdio_mode && !matcher_error.empty()) WriteErrorLine(matcher_error);

  std::uint64_t total = 0;
  int interrupt = 0;  // the signal that interrupted a rewrite of files
  std::uint64_t not_processed = 0;
  if (settings.stdio_mode && stream_replacer::can_stream(settings.method, matcher)) {
    // Read, replaced and written (or previewed) a chunk at a time: no size
    // limit.
    total = settings.diff_mode ? PreviewStandardInput(settings, matcher)
                               : StreamStandardInput(settings, matcher);
  } else if (settings.stdio_mode) {
    narrow_buffer content;
    narrow_buffer scratch;
    if (!ReadStandardInput(content, MAX_TEXT_LENGTH)) {
      narrow_buffer line("[FATAL ERROR] standard input is too large: more than ");
      line.append_number(MAX_TEXT_LENGTH, 10);
      line.append(" bytes");
      WriteErrorLine(line);
      return -1;
    }
    // Empty input is skipped: nothing is written, not even a line feed.
    if (!content.empty() && settings.diff_mode) {
      ReplacementLog log;
      narrow_buffer preview;
      total = ReplaceAndPreview(settings, matcher, narrow_buffer::literal(kStandardInputDiffName),
                                content, scratch, log, preview);
      if (!preview.empty()) WriteStandardOutput(preview);
    } else if (!content.empty()) {
      total = ReplaceAll(settings, matcher, content, scratch);
      WriteStandardOutput(content);
    }
  } else {
    // Files are read, replaced and written back on one worker per processor
    // while the walk goes on, and reported in list order, as one thread
    // would.
    CFileMode files(settings);
    FILE_POOL_OPTIONS options;
    // A review asks before each write, so it reads, asks and writes one
    // file after the other on this thread.
    options.threads = settings.review ? 1 : GetProcessorCount();
    options.stop_on_failure = settings.stop_on_error;
    // Only a result for standard output (or a preview) that is not
    // streamed holds a whole file until it is reported; otherwise a job in
    // flight holds its name and a few lines. A wide window lets the workers
    // go on for long while the emitter, which also lists, waits for its
    // turn on a processor: on a tree of small files 64 jobs a worker left
    // them waiting for it about 200 times in 20,000 files.
    options.files_in_flight_per_worker = settings.stdout_mode || settings.diff_mode ? 4 : 256;
    // The file mode lists each file once.
    options.names_unique = true;
    // Under "-errstop" a folder that cannot be searched ends the run before
    // any file is written, as when the list was complete before the work;
    // a name given beside other patterns waits for the listing too.
    options.commit_after_listing =
        settings.stop_on_error || CFileMode::NamesAFileBesideOtherPatterns(args);
    CChangeReview review(terminal, settings.colored);
    COrderedFilePool pool(options);
    CFileWork work(settings, files, matcher, options.threads, pool,
                   settings.review ? &review : nullptr);
    // An interrupt from here on lets the files being written finish and
    // every written file be reported before the process ends by it.
    const bool rewrites = !settings.stdout_mode && !settings.diff_mode;
    struct WIND_DOWN {
      bool armed;
      int signal = 0;
      explicit WIND_DOWN(bool arm) : armed(arm) {
        if (armed) ArmInterruptWindDown();
      }
      int End() {
        if (armed) signal = EndInterruptWindDown();
        armed = false;
        return signal;
      }
      ~WIND_DOWN() { End(); }
    } wind_down(rewrites);
    CFileMode::collect_result found = CFileMode::collect_result::none_found;
    const bool completed = pool.Run(work, [&](TFileFeed& feed) {
      // The regular expression's error comes before the first file's report.
      struct FIRST_FILE final : TFileFeed {
        TFileFeed& feed;
        const narrow_buffer& error;
        bool seen = false;
        FIRST_FILE(TFileFeed& to, const narrow_buffer& message) : feed(to), error(message) {}
        bool AddFile(LISTED_FILE&& file) override {
          if (!seen && !error.empty()) WriteErrorLine(error);
          seen = true;
          return feed.AddFile(std::move(file));
        }
        void ReleaseCommits() override { feed.ReleaseCommits(); }
      } first(feed, matcher_error);
      found = files.List(args, first);
    });
    interrupt = wind_down.End();
    not_processed = work.GetNotProcessed();
    switch (found) {
      case CFileMode::collect_result::found:
        break;
      case CFileMode::collect_result::refused:
        return -1;
      case CFileMode::collect_result::none_found:
        // The cause, when a folder could not be searched, is reported.
        WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] can't find the file(s)!"));
        return -1;
    }
    if (!completed && !interrupt) return -1;
    total = work.GetTotal();
    // A file that could not be read or written fails the run, after all
    // the others were done.
    if (work.AnyFailed() || files.AnyFolderFailed()) status = -1;
  }

  if (settings.total_count && total != 0) {
    narrow_buffer line("\n## total replaced ");
    line.append_number(total, 10);
    line.append(" matchs\n");
    WriteStandardOutput(line);
  }
  if (interrupt) {
    narrow_buffer line("[ERROR] interrupted: ");
    line.append_number(not_processed, 10);
    line.append(" files not processed");
    WriteErrorLine(line);
    EndByInterrupt(interrupt);
  }
  return status;
}

}  // namespace

int RunDriver(int argc, const char* const* argv) {
  // A fatal error is reported once and ends the run with a failure status.
  try {
    return Run(argc, argv);
  } catch (...) {
    WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] ") +
                   DescribeException(std::current_exception()));
  }
  return -1;
}

}  // namespace Velk
