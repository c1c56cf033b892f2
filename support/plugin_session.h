// The plug-in loaded into a stand-in host and started, as the host program
// does when it starts; shut down and unloaded when the session ends.  For
// the programs that drive the plug-in as a script would (the demonstration,
// the accuracy sweep).
#pragma once

#include "stand_in_host.h"

#include <cstdio>
#include <string>

struct PluginSession {
  standin::Host host;
  standin::PluginLibrary plugin;

  // Loads the plug-in at path and starts it; false, with the reason on
  // stderr, when it cannot be loaded.
  bool Open(const char* path) {
    std::string error;
    if (!plugin.Load(path, host, error)) {
      std::fprintf(stderr, "cannot load the plug-in %s: %s\n", path, error.c_str());
      return false;
    }
    plugin.Startup();
    return true;
  }

  ~PluginSession() {
    if (!plugin.Loaded()) return;
    plugin.Shutdown();
    plugin.Unload();
  }
};
