#include "plugin_fixture.h"

#include "stand_in_host.h"

#include <gtest/gtest.h>

namespace {

struct Loaded {
  standin::Host host;
  standin::PluginLibrary plugin;
  explicit Loaded(uint32_t version) {
    host.SetVersion(version);
    std::string error;
    EXPECT_TRUE(plugin.Load(KELPO_PLUGIN_PATH, host, error)) << error;
  }
};

}  // namespace

TEST(LifeCycle, CurrentHostRegistersAndShutdownRemovesEverything) {
  Loaded p(0x030A0000u);
  p.plugin.Startup();
  EXPECT_TRUE(p.host.ScriptErrors().empty());
  std::vector<std::string> registered = p.host.Signatures();
  ASSERT_FALSE(registered.empty());
  p.plugin.Run();
  p.plugin.Cleanup();
  EXPECT_EQ(p.host.Signatures(), registered);
  p.plugin.Shutdown();
  EXPECT_EQ(p.host.FunctionCount(), 0u);
  // The last registered goes first.
  EXPECT_EQ(p.host.Removed(), std::vector<std::string>(registered.rbegin(), registered.rend()));
  EXPECT_TRUE(p.host.ScriptErrors().empty());
  p.plugin.Unload();
  EXPECT_EQ(p.host.LiveStrings(), 0u);
  EXPECT_EQ(p.host.LiveImages(), 0u);
}

TEST(LifeCycle, OlderHostIsRefusedWithItsTextAndNothingRegistered) {
  Loaded p(0x0309FFFFu);
  p.plugin.Startup();
  ASSERT_EQ(p.host.ScriptErrors().size(), 1u);
  EXPECT_EQ(p.host.ScriptErrors()[0], "This plugin requires DM 3.10.0 or later.");
  EXPECT_EQ(p.host.FunctionCount(), 0u);
  // The later exports still run and find nothing to do.
  p.plugin.Run();
  p.plugin.Cleanup();
  p.plugin.Shutdown();
  EXPECT_EQ(p.host.ScriptErrors().size(), 1u);
  EXPECT_EQ(p.host.FunctionCount(), 0u);
}

TEST(LifeCycle, UnloadingWithoutShutdownRemovesTheFunctions) {
  Loaded p(0x04000000u);
  p.plugin.Startup();
  size_t registered = p.host.FunctionCount();
  ASSERT_GT(registered, 0u);
  p.plugin.Unload();  // the static main object's destructor runs now
  EXPECT_EQ(p.host.FunctionCount(), 0u);
  EXPECT_EQ(p.host.Removed().size(), registered);
  EXPECT_TRUE(p.host.ScriptErrors().empty());
}

TEST(LifeCycle, LoaderRefusesWhatIsNotAPlugIn) {
  standin::Host host;
  standin::PluginLibrary plugin;
  std::string error;
  EXPECT_FALSE(plugin.Load("/nonexistent/kelpotools.so", host, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(plugin.Loaded());
}
