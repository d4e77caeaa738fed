// RUN_SETTINGS: the run's settings, read once from the command line in a
// fixed order and read-only afterwards.
#pragma once

#include "driver/arg_list.h"
#include "engine/find_method.h"
#include "support/core/basic_buffer.h"

namespace Velk {

struct RUN_SETTINGS {
  FindMethod method = FindMethod::None;
  narrow_buffer find_text;
  bool ignore_case = false;
  bool ignore_newline = false;
  narrow_buffer replacement;
  bool expand = true;
  bool include_subfolders = false;
  bool stdio_mode = false;
  bool stdout_mode = false;
  bool file_counts = false;
  bool total_count = false;
  bool stop_on_error = false;
  bool diff_mode = false;  // show the changes as a diff, write no file
  bool binary = false;     // work binary files found by wildcards too
};

// Reads the find and replacement switches (first present wins, in the fixed
// order), translating aliases and applying -tu/-tl for regular expressions.
RUN_SETTINGS ReadFindAndReplace(const CArgList& args);

// True when the help screen is asked for ("-h" or "-?").
bool WantsHelp(const CArgList& args, const RUN_SETTINGS& settings);

// What the command line lacks for a run, as one line for the user (no find
// switch, no replacement, an empty find text, in that order of tests); null
// when it names a usable find and replace operation.
const char* MissingPart(const CArgList& args, const RUN_SETTINGS& settings);

// Reads the remaining switches: sub-folders, modes, counts, error policy.
void ReadOtherSwitches(const CArgList& args, RUN_SETTINGS& settings);

}  // namespace Velk
