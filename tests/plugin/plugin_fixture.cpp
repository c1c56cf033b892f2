#include "plugin_fixture.h"

void PluginTest::SetUp() {
  std::string error;
  ASSERT_TRUE(plugin_.Load(KELPO_PLUGIN_PATH, host_, error)) << error;
  plugin_.Startup();
  ASSERT_TRUE(host_.ScriptErrors().empty());
}

void PluginTest::TearDown() {
  for (DM_ImageToken t : owned_) host_.ReleaseImage(t);
  owned_.clear();
  if (plugin_.Loaded()) {
    plugin_.Shutdown();
    plugin_.Unload();
  }
}

DM_ImageToken PluginTest::Image(uint32_t type, uint32_t width, uint32_t height,
                                const std::vector<double>& values, const std::string& name) {
  DM_ImageToken t = host_.NewImage(name, type, width, height);
  if (!values.empty()) host_.SetPixels(t, values);
  owned_.push_back(t);
  return t;
}

DM_ImageToken PluginTest::RealImage(uint32_t width, uint32_t height,
                                    const std::vector<double>& values, const std::string& name) {
  return Image(DM_TYPE_REAL4, width, height, values, name);
}

void PluginTest::ReleaseCell(DM_ImageToken& cell) {
  if (cell) host_.ReleaseImage(cell);
  cell = nullptr;
}

long check_host_failures(standin::Host& host, const std::string& function,
                         const std::function<PreparedCall()>& prepare) {
  const size_t images = host.LiveImages();
  const size_t strings = host.LiveStrings();
  auto expect_clean = [&](const std::string& when) {
    EXPECT_EQ(host.LiveImages(), images) << function << ": images left alive " << when;
    EXPECT_EQ(host.LiveStrings(), strings) << function << ": strings left alive " << when;
    EXPECT_EQ(host.LiveLocks(), 0u) << function << ": pixel locks left " << when;
  };

  PreparedCall normal = prepare();
  long before = host.HostCalls();
  standin::CallResult r = host.Call(function, normal.args);
  long calls = host.HostCalls() - before;
  EXPECT_TRUE(r.called) << function;
  EXPECT_TRUE(r.script_errors.empty())
      << function << ": " << r.script_errors.size() << " script errors in the normal run";
  normal.release();
  expect_clean("after the normal run");

  for (long n = 1; n <= calls; ++n) {
    PreparedCall call = prepare();
    host.FailNthCall(n);
    standin::CallResult failed = host.Call(function, call.args);
    host.FailNthCall(0);
    std::string when = "when host call " + std::to_string(n) + " fails";
    EXPECT_EQ(failed.script_errors.size(), 1u) << function << " " << when;
    for (const std::string& e : failed.script_errors)
      EXPECT_EQ(e.rfind(function + ": ", 0), 0u) << e << " " << when;
    call.expect_untouched();
    call.release();
    expect_clean(when);
  }
  return calls;
}
