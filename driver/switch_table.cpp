#include "driver/switch_table.h"

namespace Velk {
namespace {

const char* const kKnownSwitches[] = {
    "h",     "?",                                        // help screen
    "f",     "fic", "r", "ric", "rnnl", "rnnlic",        // find
    "t",     "tu",  "tl",                                // replacement
    "exp",   "noexp",                                    // memory mode
    "s",     "stdio", "stdout", "frc", "trc", "errstop",  // files, output, reports
    "diff",                                               // preview
    "binary",                                             // binary files too
};

}  // namespace

bool IsKnownSwitch(const narrow_buffer& name) {
  for (const char* known : kKnownSwitches)
    if (name.iequals(narrow_buffer::literal(known))) return true;
  return false;
}

}  // namespace Velk
