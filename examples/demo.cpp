// Loads the plug-in into the stand-in host the way the host program does,
// lists the script functions it registered, and prints the Results window.
#include "stand_in_host.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : KELPO_PLUGIN_PATH;
    standin::Host host;
    standin::PluginLibrary plugin;
    std::string error;
    if (!plugin.load(path, host, error)) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", error.c_str());
        return 1;
    }
    plugin.startup();
    for (const std::string &e : host.script_errors())
        std::fprintf(stderr, "script error: %s\n", e.c_str());

    std::printf("Registered script functions:\n");
    for (const std::string &s : host.signatures()) std::printf("  %s\n", s.c_str());

    plugin.run();
    plugin.cleanup();

    std::printf("\nResults window:\n");
    for (const std::string &line : host.results()) std::fputs(line.c_str(), stdout);
    std::printf("\n");

    plugin.shutdown();
    plugin.unload();
    return host.script_errors().empty() ? 0 : 1;
}
