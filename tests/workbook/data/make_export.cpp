// Writes an export of the plug-in with NaN and infinite pixels (each the
// error #NUM! in the sheet), for make_fixtures.sh to have a spreadsheet
// program save again. Usage: make_export PLUGIN FILE
#include "plugin_session.h"

#include <cmath>
#include <cstdio>
#include <limits>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_export PLUGIN FILE\n");
    return 2;
  }
  PluginSession session;
  if (!session.Open(argv[1])) return 1;
  standin::Host& host = session.host;
  const double inf = std::numeric_limits<double>::infinity();
  // Rows of 4 pixels: the odd values among ordinary ones.
  DM_ImageToken image = host.NewImage("odd pixels", DM_TYPE_REAL4, 4, 3);
  host.SetPixels(
      image, {1.5, std::nan(""), -2.0, inf, 0.25, -inf, 7.0, 3.0, inf, std::nan(""), -0.5, 42.0});
  auto text = [&](const char* t) { return standin::string_arg(host.NewString(t)); };
  using standin::real_image_arg;
  const standin::CallResult done = host.Call(
      "saveimageasxls",
      {real_image_arg(image), text(argv[2]), text("a b c d"), text("Odd pixels"), text("Data")});
  for (const std::string& e : done.script_errors) std::fprintf(stderr, "%s\n", e.c_str());
  return done.script_errors.empty() ? 0 : 1;
}
