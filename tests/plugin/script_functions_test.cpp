// The host sees exactly the script functions of the plug-in, under their
// signature texts byte for byte, in their order, and loses them last-first.
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Irregular spacing included: the host parses these texts as they are.
const std::vector<std::string> kExpectedSignatures = {
    "void GuessCenter(BasicImage, float *, float *, float *)",
    "void RefineCenter(BasicImage, float *, float *, float *)",
    "void RefineCenterEllipticity(BasicImage, float *, float *, float *, float *, float *, float)",
    "void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float)",
    "void AzimuthalAverage(BasicImage, ImageRef *, float, float, float)",
    "void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, float)",
    "void AzimuthalAverageEllipticity(BasicImage , ImageRef *, float, float, float, float, float)",
    "void AzimuthalIntegralSektor(BasicImage, ImageRef *, float, float, float, float, float)",
    "void AzimuthalAverageSektor(BasicImage, ImageRef *, float, float, float, float, float)",
    "void AzimuthalIntegralSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, "
    "float, float, float)",
    "void AzimuthalAverageSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, "
    "float, float, float)",
    "void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)",
    "void PeakFind(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
    "void PeakFindPreFit(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
    "void PreFit(RealImagePtr, RealImagePtr, RealImagePtr)",
    "void PeakFit(RealImagePtr,RealImagePtr,RealImagePtr)",
    "void saveprofileasxlslong(RealImagePtr, dm_string, dm_string, float, dm_string, dm_string)",
    "void saveprofileasxls(RealImagePtr, dm_string, dm_string, float)",
    "void saveimageasxls(RealImagePtr, dm_string, dm_string, dm_string, dm_string)",
    "float GetMouseState(dm_string)",
    "void FakeShiftUp()",
    "void FakeShiftDown()",
    "void FakeESC()",
    "dm_string GetSubString(dm_string, float, float)",
    "float extractpixelsize(dm_string)",
    "void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float,float,float)",
    "void RDF_Kirklandfunction(RealImagePtr,RealImagePtr,float*,float*,float,float)",
    "void CalculateRDF(RealImagePtr,ImageRef *,float,float,float)",
};

}  // namespace

TEST(ScriptFunctions, TheTwentyEightSignaturesAreRegisteredInOrderAndRemovedLastFirst) {
  ASSERT_EQ(kExpectedSignatures.size(), 28u);
  standin::Host host;
  standin::PluginLibrary plugin;
  std::string error;
  ASSERT_TRUE(plugin.Load(KELPO_PLUGIN_PATH, host, error)) << error;
  plugin.Startup();
  EXPECT_TRUE(host.ScriptErrors().empty());
  EXPECT_EQ(host.Signatures(), kExpectedSignatures);
  plugin.Shutdown();
  EXPECT_EQ(host.FunctionCount(), 0u);
  EXPECT_EQ(host.Removed(),
            std::vector<std::string>(kExpectedSignatures.rbegin(), kExpectedSignatures.rend()));
  plugin.Unload();
}
