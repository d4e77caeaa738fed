#include "driver/run_driver.h"

#include <exception>

#include "driver/arg_list.h"
#include "driver/file_mode.h"
#include "driver/help_screen.h"
#include "driver/run_settings.h"
#include "driver/std_streams.h"
#include "driver/switch_table.h"
#include "engine/compile_matcher.h"
#include "engine/replace_all.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"

namespace Velk {
namespace {

// Replaces every match in content; an expanding loop builds the result in
// scratch and the two buffers then exchange contents, so the result is in
// content and scratch keeps the old storage for the next input.
std::uint32_t ReplaceAll(const RUN_SETTINGS& settings, const Matcher& matcher,
                         narrow_buffer& content, narrow_buffer& scratch) {
  std::uint32_t count = 0;
  switch (settings.method) {
    case FindMethod::Literal:
      if (!settings.expand)
        return replace_literal(content, settings.find_text, settings.replacement, 0, true);
      count = replace_literal_expand(content, scratch, settings.find_text,
                                     settings.replacement, 0);
      break;
    case FindMethod::LiteralNoCase:
      if (!settings.expand)
        return ireplace_literal(content, settings.find_text, settings.replacement, 0, true);
      count = ireplace_literal_expand(content, scratch, settings.find_text,
                                      settings.replacement, 0);
      break;
    case FindMethod::Regex:
      if (!settings.expand)
        return replace_regex(content, matcher, settings.replacement, false, false, true);
      count = replace_regex_expand(content, scratch, matcher, settings.replacement,
                                   false, false, true);
      break;
    case FindMethod::None:
      return 0;
  }
  content.swap(scratch);
  return count;
}

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

int Run(int argc, const char* const* argv) {
  // "/" opens a switch only when a known switch name follows it: on POSIX
  // it also begins every absolute path.
  const CArgList args(argc, argv, narrow_buffer::literal("-/"), narrow_buffer::literal(":="),
                      1, narrow_buffer::literal("/"), IsKnownSwitch);
  // Every refusal below comes before anything is read or written.
  if (!AllSwitchesKnown(args)) return -1;
  RUN_SETTINGS settings = ReadFindAndReplace(args);
  if (argc <= 1 || WantsHelp(args, settings)) {
    PrintHelp(help_stream::output);
    return 0;
  }
  if (HasEmptyPattern(args)) {
    WriteErrorLine(narrow_buffer::literal("[ERROR] empty file pattern"));
    return -1;
  }
  if (const char* missing = MissingPart(args, settings)) {
    WriteErrorLine(narrow_buffer::literal("[ERROR] ") + missing);
    PrintHelp(help_stream::error);
    return -1;
  }
  ReadOtherSwitches(args, settings);

  // File mode: collect the input set; any patterns are ignored in stdio mode.
  CFileMode files(settings);
  if (!settings.stdio_mode && !files.Collect(args)) {
    WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] can't find the file(s)!"));
    return -1;
  }

  int status = 0;
  Matcher matcher;
  if (settings.method == FindMethod::Regex) {
    narrow_buffer reason;
    matcher = compile_matcher(settings.find_text, settings.ignore_case,
                              !settings.ignore_newline, true, true, &reason);
    if (matcher.empty()) {
      // The run goes on and replaces nothing, so a pipe still passes its
      // input through; the status tells the caller the pattern was bad.
      WriteErrorLine(narrow_buffer::literal("[ERROR] invalid regular expression: ") + reason);
      status = -1;
    }
  }

  narrow_buffer content;
  narrow_buffer scratch;
  std::uint32_t total = 0;
  const std::size_t inputs = settings.stdio_mode ? 1 : files.GetFileCount();
  for (std::size_t i = 0; i < inputs; ++i) {
    content.clear();
    if (settings.stdio_mode) {
      if (!ReadStandardInput(content, MAX_TEXT_LENGTH)) {
        narrow_buffer line("[FATAL ERROR] standard input is too large: more than ");
        line.append_number(MAX_TEXT_LENGTH, 10);
        line.append(" bytes");
        WriteErrorLine(line);
        return -1;
      }
    } else if (!files.Read(i, content)) {
      // The run goes on with the other files; the status still fails.
      if (settings.stop_on_error) return -1;
      status = -1;
      continue;
    }
    if (content.empty()) continue;

    const std::uint32_t count = ReplaceAll(settings, matcher, content, scratch);
    if (settings.stdio_mode || settings.stdout_mode) {
      WriteStandardOutput(content);
    } else if (!files.WriteBack(i, content, count)) {
      if (settings.stop_on_error) return -1;
      status = -1;
      continue;
    }
    total += count;
  }

  if (settings.total_count && total != 0) {
    narrow_buffer line("\n## total replaced ");
    line.append_number(total, 10);
    line.append(" matchs\n");
    WriteStandardOutput(line);
  }
  return status;
}

}  // namespace

int RunDriver(int argc, const char* const* argv) {
  // A fatal error is reported once and ends the run with a failure status.
  try {
    return Run(argc, argv);
  } catch (const byExp& error) {
    WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] Velk runtime lib error: ") +
                   error.GetMessage());
  } catch (const std::exception& error) {
    WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] vc runtime lib error: ") +
                   narrow_buffer(error.what()));
  } catch (...) {
    WriteErrorLine(narrow_buffer::literal("[FATAL ERROR] unknown system error"));
  }
  return -1;
}

}  // namespace Velk
