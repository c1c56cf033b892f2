// The life-cycle exports the host calls, in this order: DMPlugIn_GetVersion,
// DMPlugIn_Link_2, PlugInStartup, then PlugInRun, PlugInCleanup and
// PlugInShutdown.  Each runs the main object's hook inside a catch-all: no
// exception leaves the library.
#include "plugin_sdk.h"

#define DM_EXPORT extern "C" __attribute__((visibility("default")))

using Gatan::PlugIn::current_main_object;

namespace {
template <class F>
void guarded(F&& f) {
  try {
    if (current_main_object()) f(*current_main_object());
  } catch (...) {
    DM_raise_in_host();
  }
}
}  // namespace

DM_EXPORT uint32_t DMPlugIn_GetVersion() {
  return DM_PLUGIN_INTERFACE_VERSION;
}

DM_EXPORT void DMPlugIn_Link_2(const DM_HostInterface* host, uint32_t) {
  if (host && host->size >= sizeof(DM_HostInterface)) DM_set_host(host);
}

DM_EXPORT void PlugInStartup() {
  guarded([](auto& m) { m.Start(); });
}
DM_EXPORT void PlugInRun() {
  guarded([](auto& m) { m.Run(); });
}
DM_EXPORT void PlugInCleanup() {
  guarded([](auto& m) { m.Cleanup(); });
}
DM_EXPORT void PlugInShutdown() {
  guarded([](auto& m) {
    m.End();
    m.RemoveAllFunctions();
  });
}
