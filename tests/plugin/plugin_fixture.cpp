#include "plugin_fixture.h"

void PluginTest::SetUp() {
  std::string error;
  ASSERT_TRUE(plugin.load(KELPO_PLUGIN_PATH, host, error)) << error;
  plugin.startup();
  ASSERT_TRUE(host.script_errors().empty());
}

void PluginTest::TearDown() {
  for (DM_ImageToken t : owned_) host.release_image(t);
  owned_.clear();
  if (plugin.loaded()) {
    plugin.shutdown();
    plugin.unload();
  }
}

DM_ImageToken PluginTest::image(uint32_t type, uint32_t width, uint32_t height,
                                const std::vector<double>& values, const std::string& name) {
  DM_ImageToken t = host.new_image(name, type, width, height);
  if (!values.empty()) host.set_pixels(t, values);
  owned_.push_back(t);
  return t;
}

DM_ImageToken PluginTest::real_image(uint32_t width, uint32_t height,
                                     const std::vector<double>& values, const std::string& name) {
  return image(DM_TYPE_REAL4, width, height, values, name);
}

void PluginTest::release_cell(DM_ImageToken& cell) {
  if (cell) host.release_image(cell);
  cell = nullptr;
}

long check_host_failures(standin::Host& host, const std::string& function,
                         const std::function<PreparedCall()>& prepare) {
  const size_t images = host.live_images();
  const size_t strings = host.live_strings();
  auto expect_clean = [&](const std::string& when) {
    EXPECT_EQ(host.live_images(), images) << function << ": images left alive " << when;
    EXPECT_EQ(host.live_strings(), strings) << function << ": strings left alive " << when;
    EXPECT_EQ(host.live_locks(), 0u) << function << ": pixel locks left " << when;
  };

  PreparedCall normal = prepare();
  long before = host.host_calls();
  standin::CallResult r = host.call(function, normal.args);
  long calls = host.host_calls() - before;
  EXPECT_TRUE(r.called) << function;
  EXPECT_TRUE(r.script_errors.empty())
      << function << ": " << r.script_errors.size() << " script errors in the normal run";
  normal.release();
  expect_clean("after the normal run");

  for (long n = 1; n <= calls; ++n) {
    PreparedCall call = prepare();
    host.fail_nth_call(n);
    standin::CallResult failed = host.call(function, call.args);
    host.fail_nth_call(0);
    std::string when = "when host call " + std::to_string(n) + " fails";
    EXPECT_EQ(failed.script_errors.size(), 1u) << function << " " << when;
    call.expect_untouched();
    call.release();
    expect_clean(when);
  }
  return calls;
}
