// Fuzzes the command-line split and the reading of the run settings: the
// input is the argument vector, one argument per NUL-separated piece.
#include <cstdint>
#include <string>
#include <vector>

#include "driver/arg_list.h"
#include "driver/run_settings.h"
#include "driver/switch_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1, "rplc");
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(char(data[i]));
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  const Velk::CArgList list(int(argv.size()), argv.data(), "-/", ":=", 1, "/",
                            Velk::IsKnownSwitch);
  for (std::uint32_t k = 0; k < list.GetSwitchCount(); ++k)
    (void)Velk::IsKnownSwitch(list.GetSwitch(k).name);
  std::uint32_t patterns = list.GetPatternCount();
  for (std::uint32_t j = 0; j <= patterns; ++j) (void)list.GetPattern(j);
  for (const std::string& a : args) {
    (void)list.FindSwitch(a.c_str(), 0);
    (void)list.GetSwitchValue(a.c_str(), 1);
  }
  Velk::RUN_SETTINGS settings = Velk::ReadFindAndReplace(list);
  (void)Velk::WantsHelp(list, settings);
  (void)Velk::MissingPart(list, settings);
  Velk::ReadOtherSwitches(list, settings);
  return 0;
}
