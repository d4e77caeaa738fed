#include "driver/run_settings.h"

#include "engine/translate.h"

namespace Velk {
namespace {

narrow_buffer Keyword(const char* text) { return narrow_buffer::literal(text); }

struct FIND_SWITCH {
  const char* keyword;
  FindMethod method;
  bool ignore_case;
  bool ignore_newline;
};

const FIND_SWITCH kFindSwitches[] = {
    {"f", FindMethod::Literal, false, false},
    {"fic", FindMethod::LiteralNoCase, true, false},
    {"r", FindMethod::Regex, false, false},
    {"ric", FindMethod::Regex, true, false},
    {"rnnl", FindMethod::Regex, false, true},
    {"rnnlic", FindMethod::Regex, true, true},
};

}  // namespace

RUN_SETTINGS ReadFindAndReplace(const CArgList& args) {
  RUN_SETTINGS settings;
  for (const FIND_SWITCH& each : kFindSwitches) {
    if (!args.HasSwitch(Keyword(each.keyword))) continue;
    settings.method = each.method;
    settings.find_text = args.GetSwitchValue(Keyword(each.keyword));
    if (each.method == FindMethod::Regex) {
      settings.ignore_case = each.ignore_case;
      settings.ignore_newline = each.ignore_newline;
      translate_aliases(settings.find_text);
    }
    break;
  }

  settings.expand = !args.HasSwitch(Keyword("noexp"));

  for (const char* keyword : {"t", "tu", "tl"}) {
    if (!args.HasSwitch(Keyword(keyword))) continue;
    settings.replacement = args.GetSwitchValue(Keyword(keyword));
    if (settings.method == FindMethod::Regex) translate_aliases(settings.replacement);
    if (keyword[1] == 'u') settings.replacement.to_upper();
    if (keyword[1] == 'l') settings.replacement.to_lower();
    break;
  }
  return settings;
}

bool WantsHelp(const CArgList& args, const RUN_SETTINGS&) {
  return args.HasSwitch(Keyword("h")) || args.HasSwitch(Keyword("?"));
}

const char* MissingPart(const CArgList& args, const RUN_SETTINGS& settings) {
  if (settings.method == FindMethod::None)
    return "no find switch: give the text to find with -f:, -fic:, -r:, -ric:, -rnnl: or "
           "-rnnlic:";
  // An explicit "-t" with no value asks to delete every match; an empty
  // "-tu" or "-tl" does not.
  if (settings.replacement.empty() && !args.HasSwitch(Keyword("t"))) {
    if (args.HasSwitch(Keyword("tu")) || args.HasSwitch(Keyword("tl")))
      return "empty replacement: -tu and -tl need a text (a bare -t deletes every match)";
    return "no replacement switch: give the replacement with -t:, -tu: or -tl: (a bare -t "
           "deletes every match)";
  }
  if (settings.find_text.empty())
    return "empty find text: give the text to find after the switch, as in -f:text";
  return nullptr;
}

void ReadOtherSwitches(const CArgList& args, RUN_SETTINGS& settings) {
  settings.include_subfolders = args.HasSwitch(Keyword("s"));
  settings.stdio_mode = args.HasSwitch(Keyword("stdio")) || args.GetPatternCount() == 0;
  settings.stdout_mode = args.HasSwitch(Keyword("stdout"));
  settings.file_counts = args.HasSwitch(Keyword("frc"));
  settings.total_count = args.HasSwitch(Keyword("trc"));
  settings.stop_on_error = args.HasSwitch(Keyword("errstop"));
  settings.diff_mode = args.HasSwitch(Keyword("diff"));
  settings.binary = args.HasSwitch(Keyword("binary"));
}

}  // namespace Velk
