// Test scaffolding for script functions: the stand-in host with the plug-in
// loaded and started, and the check that a handler cleans up after itself
// whichever host call fails.
#pragma once

#include "stand_in_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// A host with the plug-in loaded, linked and started.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A 4-byte real image of the given size filled with values (row-major);
  // the fixture releases it at the end of the test.
  DM_ImageToken RealImage(uint32_t width, uint32_t height, const std::vector<double>& values,
                          const std::string& name = "test");
  DM_ImageToken Image(uint32_t type, uint32_t width, uint32_t height,
                      const std::vector<double>& values, const std::string& name = "test");
  // Releases what a result cell holds (and empties it).
  void ReleaseCell(DM_ImageToken& cell);

  standin::Host host_;
  standin::PluginLibrary plugin_;

 private:
  std::vector<DM_ImageToken> owned_;
};

// One prepared call of a script function.
struct PreparedCall {
  std::vector<DM_Arg> args;
  // Checks that the out-parameters still hold what they held before.
  std::function<void()> expect_untouched = [] {};
  // Drops everything the call's preparation made (and any result left in
  // a result cell).
  std::function<void()> release = [] {};
};

// Runs the call once as prepared, counting the host calls it makes; then,
// for every one of them, prepares the call afresh and runs it with that host
// call failing.  Each failing run must raise exactly one script error and
// keep the out-parameters untouched; every run must leave no image, string
// or pixel lock alive beyond what existed before.  Returns the number of
// host calls of the normal run.
long check_host_failures(standin::Host& host, const std::string& function,
                         const std::function<PreparedCall()>& prepare);
