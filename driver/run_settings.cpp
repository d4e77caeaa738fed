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
  return args.HasSwitch(Keyword("h")) || args.HasSwitch(Keyword("?")) ||
         args.HasSwitch(Keyword("-help"));
}

bool WantsVersion(const CArgList& args) { return args.HasSwitch(Keyword("-version")); }

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

const char* ReadOtherSwitches(const CArgList& args, RUN_SETTINGS& settings) {
  settings.include_subfolders = args.HasSwitch(Keyword("s"));
  settings.stdio_mode = args.HasSwitch(Keyword("stdio")) || args.GetPatternCount() == 0;
  settings.stdout_mode = args.HasSwitch(Keyword("stdout"));
  settings.file_counts = args.HasSwitch(Keyword("frc"));
  settings.total_count = args.HasSwitch(Keyword("trc"));
  settings.stop_on_error = args.HasSwitch(Keyword("errstop"));
  settings.diff_mode = args.HasSwitch(Keyword("diff"));
  settings.binary = args.HasSwitch(Keyword("binary"));
  settings.review = args.HasSwitch(Keyword("review"));
  settings.use_ignore_files = args.HasSwitch(Keyword("gitignore"));
  if (args.HasSwitch(Keyword("color"))) {
    // A bare "-color" asks for colors, as "-color:always" does.
    const narrow_buffer when = args.GetSwitchValue(Keyword("color"));
    if (when.empty() || when.iequals(Keyword("always")))
      settings.color = ColorChoice::always;
    else if (when.iequals(Keyword("never")))
      settings.color = ColorChoice::never;
    else if (when.iequals(Keyword("auto")))
      settings.color = ColorChoice::automatic;
    else
      return "-color takes auto, always or never";
  }
  if (settings.diff_mode && settings.stdout_mode)
    return "-diff and -stdout can't be used together: a preview writes no results";
  if (settings.review) {
    if (settings.diff_mode) return "-review and -diff can't be used together: -diff writes no file";
    if (settings.stdout_mode)
      return "-review and -stdout can't be used together: -review writes the files it asks about";
    if (settings.stdio_mode)
      return "-review works on files: give file patterns, without -stdio";
  }
  return nullptr;
}

}  // namespace Velk
