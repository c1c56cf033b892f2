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

// Whatever fails below it, a script function's error reads "<name>:
// <reason>", its own name once and in front.  Each function is called with
// arguments of its signature's kinds while its first host call fails.
TEST_F(PluginTest, EveryScriptErrorCarriesItsFunctionsNameOnce) {
  DM_ImageToken image = RealImage(64, 4, std::vector<double>(256, 7.0));
  DM_StringToken text = host_.NewString(testing::TempDir() + "name_once.xls");
  for (const std::string& signature : kExpectedSignatures) {
    standin::Signature s;
    ASSERT_TRUE(standin::parse_signature(signature, s)) << signature;
    std::vector<DM_ImageToken> cells(8, nullptr);
    float floats[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    std::vector<DM_Arg> args;
    for (char kind : s.type_code.substr(1)) {
      const size_t i = args.size();
      args.push_back(kind == 'B'   ? standin::image_arg(image)
                     : kind == 'R' ? standin::real_image_arg(image)
                     : kind == 'C' ? standin::cell_arg(&cells[i])
                     : kind == 'p' ? standin::float_ptr_arg(&floats[i])
                     : kind == 'f' ? standin::float_arg(1.0f)
                                   : standin::string_arg(text));
    }
    host_.FailNthCall(1);
    const standin::CallResult r = host_.Call(s.name, args);
    host_.FailNthCall(0);
    // The key strokes ask nothing of the host that can fail.
    const bool keys = s.name.rfind("Fake", 0) == 0;
    ASSERT_EQ(r.script_errors.size(), keys ? 0u : 1u) << s.name;
    for (const std::string& e : r.script_errors) {
      EXPECT_EQ(e.rfind(s.name + ": ", 0), 0u) << e;
      EXPECT_EQ(e.find(s.name, 1), std::string::npos) << e;
    }
  }
  host_.ReleaseString(text);
}
