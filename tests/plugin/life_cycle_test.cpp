#include "plugin_fixture.h"

#include "stand_in_host.h"

#include <gtest/gtest.h>

namespace {

struct Loaded {
  standin::Host host;
  standin::PluginLibrary plugin;
  explicit Loaded(uint32_t version) {
    host.set_version(version);
    std::string error;
    EXPECT_TRUE(plugin.load(KELPO_PLUGIN_PATH, host, error)) << error;
  }
};

}  // namespace

TEST(LifeCycle, CurrentHostRegistersAndShutdownRemovesEverything) {
  Loaded p(0x030A0000u);
  p.plugin.startup();
  EXPECT_TRUE(p.host.script_errors().empty());
  std::vector<std::string> registered = p.host.signatures();
  ASSERT_FALSE(registered.empty());
  p.plugin.run();
  p.plugin.cleanup();
  EXPECT_EQ(p.host.signatures(), registered);
  p.plugin.shutdown();
  EXPECT_EQ(p.host.function_count(), 0u);
  // The last registered goes first.
  EXPECT_EQ(p.host.removed(), std::vector<std::string>(registered.rbegin(), registered.rend()));
  EXPECT_TRUE(p.host.script_errors().empty());
  p.plugin.unload();
  EXPECT_EQ(p.host.live_strings(), 0u);
  EXPECT_EQ(p.host.live_images(), 0u);
}

TEST(LifeCycle, OlderHostIsRefusedWithItsTextAndNothingRegistered) {
  Loaded p(0x0309FFFFu);
  p.plugin.startup();
  ASSERT_EQ(p.host.script_errors().size(), 1u);
  EXPECT_EQ(p.host.script_errors()[0], "This plugin requires DM 3.10.0 or later.");
  EXPECT_EQ(p.host.function_count(), 0u);
  // The later exports still run and find nothing to do.
  p.plugin.run();
  p.plugin.cleanup();
  p.plugin.shutdown();
  EXPECT_EQ(p.host.script_errors().size(), 1u);
  EXPECT_EQ(p.host.function_count(), 0u);
}

TEST(LifeCycle, UnloadingWithoutShutdownRemovesTheFunctions) {
  Loaded p(0x04000000u);
  p.plugin.startup();
  size_t registered = p.host.function_count();
  ASSERT_GT(registered, 0u);
  p.plugin.unload();  // the static main object's destructor runs now
  EXPECT_EQ(p.host.function_count(), 0u);
  EXPECT_EQ(p.host.removed().size(), registered);
  EXPECT_TRUE(p.host.script_errors().empty());
}

TEST(LifeCycle, LoaderRefusesWhatIsNotAPlugIn) {
  standin::Host host;
  standin::PluginLibrary plugin;
  std::string error;
  EXPECT_FALSE(plugin.load("/nonexistent/kelpotools.so", host, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(plugin.loaded());
}
