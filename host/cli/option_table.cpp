#include "host/cli/option_table.h"

#include "host/io/formats.h"
#include "host/plugins/private_settings.h"
#include "rovandel/settings_schema.h"

namespace host {

std::string ActionList() {
  const auto& names = settings_schema::kActionNames;
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += std::string(i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return list;
}

std::vector<OptionRow> OptionTable() {
  return {
      {{"plugin"}, "path", "Plug-in module to load."},
      {{"batch"}, "", "Run the plug-in without a window and press OK."},
      {{"o", "output"}, "file", "Write the result (" + WritableExtensions() + ")."},
      {{"picture"}, "file.png", "Write the shaded landscape as a picture."},
      {{"co"},
       "name=value",
       "GeoTIFF creation option for -o (repeatable), over the defaults " + GeoTiffDefaultsText() +
           "."},
      {{"water-level"}, "height", "Points at or below this height are water."},
      {{"size"}, "WxH", "Grid size of a RAW input (.r16, .raw, .r32) without a header."},
      {{"range"},
       "min:max",
       "Heights that a 16-bit RAW input's values 0 and 65535 stand for (over its header)."},
      {{"band"}, "N", "Read band N (from 1) of an input with several bands."},
      {{"ot"},
       "type",
       "Data type of a GeoTIFF output: Float32 (the default), Int16 or UInt16; heights are "
       "rounded to whole units (of the input's scale when it has one), and a height that "
       "does not fit fails the run."},
      {{"json"}, "", "Report the run on stdout as one JSON object (batch)."},
      {{"set"},
       "name=value",
       "A plug-in setting for this run (repeatable; the settings table of --help lists them)."},
      {{"action"}, "name", ActionList() + "."},
      {{"save-settings"}, "", "Keep this run's plug-in settings as your own (batch)."},
      {{"q", "quiet"}, "", "Print nothing but errors."},
      {{"v", "verbose"}, "", "Say more about the run."},
      {{"progress"}, "", "Show progress on stderr even when it is not a terminal."},
      {{"mask"},
       "file",
       "Apply the plug-in only where this single-band raster of the landscape's size "
       "selects, blended by the weight: 8-bit 0..255, 16-bit 0..65535, float 0..1 "
       "(batch)."},
      {{"allow-network"},
       "",
       "Let the input, the mask or a VRT's sources be network locations (/vsicurl/, "
       "/vsis3/, ...); without it no request leaves the machine."},
      {{"threads"},
       "N",
       std::string("The most threads the plug-in's operations use (default: every core "
                   "this process may run on; sets ") +
           settings_schema::kThreadsVariable + ")."},
  };
}

std::string ProgramDescription() {
  return "Opens a heightmap, runs a landscape plug-in on it and saves the result.\n"
         "Without a display (or with --batch) it presses OK for you: the plug-in's "
         "parameters are your stored settings with --set and --action applied, for this run "
         "only.\n\nExit status: 0 the action was applied and every output written, 1 it failed "
         "or the plug-in did not apply its action, 2 the command line was refused.\n\n"
         "Settings for --set:\n" +
         SettingsTable();
}

}  // namespace host
