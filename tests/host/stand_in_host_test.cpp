#include "stand_in_host.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using standin::Host;
using standin::parse_signature;
using standin::Signature;

TEST(SignatureParser, ReadsEveryTextThePlugInRegisters) {
  const std::vector<std::pair<const char*, const char*>> table = {
      {"void GuessCenter(BasicImage, float *, float *, float *)", "vBppp"},
      {"void RefineCenter(BasicImage, float *, float *, float *)", "vBppp"},
      {"void RefineCenterEllipticity(BasicImage, float *, float *, float *, float *, float *, "
       "float)",
       "vBpppppf"},
      {"void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float)", "vBCfff"},
      {"void AzimuthalAverage(BasicImage, ImageRef *, float, float, float)", "vBCfff"},
      {"void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, "
       "float)",
       "vBCfffff"},
      {"void AzimuthalAverageEllipticity(BasicImage , ImageRef *, float, float, float, float, "
       "float)",
       "vBCfffff"},
      {"void AzimuthalIntegralSektor(BasicImage, ImageRef *, float, float, float, float, float)",
       "vBCfffff"},
      {"void AzimuthalAverageSektor(BasicImage, ImageRef *, float, float, float, float, float)",
       "vBCfffff"},
      {"void AzimuthalIntegralSektorEllipticity(BasicImage, ImageRef *, float, float, float, "
       "float, float, float, float)",
       "vBCfffffff"},
      {"void AzimuthalAverageSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, "
       "float, float, float)",
       "vBCfffffff"},
      {"void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)", "vBCfff"},
      {"void PeakFind(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
       "vRCCffff"},
      {"void PeakFindPreFit(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
       "vRCCffff"},
      {"void PreFit(RealImagePtr, RealImagePtr, RealImagePtr)", "vRRR"},
      {"void PeakFit(RealImagePtr,RealImagePtr,RealImagePtr)", "vRRR"},
      {"void saveprofileasxlslong(RealImagePtr, dm_string, dm_string, float, dm_string, dm_string)",
       "vRssfss"},
      {"void saveprofileasxls(RealImagePtr, dm_string, dm_string, float)", "vRssf"},
      {"void saveimageasxls(RealImagePtr, dm_string, dm_string, dm_string, dm_string)", "vRssss"},
      {"float GetMouseState(dm_string)", "fs"},
      {"void FakeShiftUp()", "v"},
      {"void FakeShiftDown()", "v"},
      {"void FakeESC()", "v"},
      {"dm_string GetSubString(dm_string, float, float)", "ssff"},
      {"float extractpixelsize(dm_string)", "fs"},
      {"void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float,float,float)",
       "vRRppffff"},
      {"void RDF_Kirklandfunction(RealImagePtr,RealImagePtr,float*,float*,float,float)", "vRRppff"},
      {"void CalculateRDF(RealImagePtr,ImageRef *,float,float,float)", "vRCfff"},
  };
  for (const auto& [text, code] : table) {
    Signature s;
    ASSERT_TRUE(parse_signature(text, s)) << text;
    EXPECT_EQ(s.type_code, code) << text;
    std::string t(text);
    size_t open = t.find('(');
    EXPECT_EQ(t.substr(t.rfind(' ', open) + 1, open - t.rfind(' ', open) - 1), s.name);
  }
}

TEST(SignatureParser, RefusesWhatItCannotRead) {
  Signature s;
  for (const char* bad : {"void f(int)", "void f(float", "f(float)", "void (float)",
                          "void f(float,)", "void f(float) x", "complex f()", "void f-g()"})
    EXPECT_FALSE(parse_signature(bad, s)) << bad;
}

TEST(StandInHost, ImagesConvertInPlaceAndCloneDeeply) {
  Host host;
  const DM_HostInterface* t = host.Interface();
  DM_ImageToken im = host.NewImage("pattern", DM_TYPE_INT16, 3, 2);
  host.SetPixels(im, {1, -2, 40000, 4.7, 5, -70000});
  EXPECT_EQ(host.Pixels(im), (std::vector<double>{1, -2, 32767, 4, 5, -32768}));

  DM_ImageToken copy = nullptr;
  ASSERT_EQ(t->image_clone(im, &copy), DM_OK);
  ASSERT_EQ(t->image_change_data_type(copy, DM_TYPE_REAL4), DM_OK);
  float* data = nullptr;
  DM_LockToken lock = nullptr;
  ASSERT_EQ(t->image_lock(copy, 1, &data, &lock), DM_OK);
  EXPECT_EQ(host.LiveLocks(), 1u);
  data[0] = 9.5f;
  // A locked image cannot change type; the original keeps its type and values.
  EXPECT_EQ(t->image_change_data_type(copy, DM_TYPE_INT8), DM_FAILED);
  t->image_unlock(lock);
  EXPECT_EQ(host.DataType(im), static_cast<uint32_t>(DM_TYPE_INT16));
  EXPECT_EQ(host.Pixels(im)[0], 1.0);
  EXPECT_EQ(host.Pixels(copy)[0], 9.5);

  // Only 4-byte real images can be locked as floats.
  EXPECT_EQ(t->image_lock(im, 1, &data, &lock), DM_FAILED);

  host.ReleaseImage(copy);
  host.ReleaseImage(im);
  EXPECT_EQ(host.LiveImages(), 0u);
  EXPECT_EQ(host.LiveLocks(), 0u);
}

TEST(StandInHost, ZeroSizeImagesExistAndLock) {
  Host host;
  const DM_HostInterface* t = host.Interface();
  DM_StringToken name = host.NewString("Results");
  DM_ImageToken im = nullptr;
  ASSERT_EQ(t->real_image(name, 4, 0, 1, &im), DM_OK);
  float* data = nullptr;
  DM_LockToken lock = nullptr;
  ASSERT_EQ(t->image_lock(im, 1, &data, &lock), DM_OK);
  EXPECT_NE(data, nullptr);
  t->image_unlock(lock);
  host.ReleaseImage(im);
  host.ReleaseString(name);
  EXPECT_EQ(host.LiveImages() + host.LiveStrings(), 0u);
}

TEST(StandInHost, StringsKeepEveryByte) {
  Host host;
  const DM_HostInterface* t = host.Interface();
  const std::string bytes("angle=47 \xB0. \n\0end", 17);
  DM_StringToken s = nullptr;
  ASSERT_EQ(t->string_new(bytes.data(), bytes.size(), 0, &s), DM_OK);
  EXPECT_EQ(host.StringBytes(s), bytes);
  ASSERT_EQ(t->result(s), DM_OK);
  EXPECT_EQ(host.Results().back(), bytes);
  // Only encoding 0 is known.
  DM_StringToken other = nullptr;
  EXPECT_EQ(t->string_new("x", 1, 1, &other), DM_FAILED);
  t->string_release(s);
  t->string_release(nullptr);  // a null handle is ignored
  EXPECT_EQ(host.LiveStrings(), 0u);
}

TEST(StandInHost, FaultInjectionByCountAndByName) {
  Host host;
  const DM_HostInterface* t = host.Interface();
  DM_ImageToken im = host.NewImage("a", DM_TYPE_REAL4, 2, 2);
  uint32_t size = 0;
  host.FailNthCall(2);
  EXPECT_EQ(t->image_get_dimension_size(im, 0, &size), DM_OK);
  EXPECT_EQ(t->image_get_dimension_size(im, 0, &size), DM_FAILED);
  EXPECT_EQ(t->image_get_dimension_size(im, 0, &size), DM_OK);

  host.FailOperation("ImageClone");
  DM_ImageToken copy = nullptr;
  EXPECT_EQ(t->image_clone(im, &copy), DM_FAILED);
  EXPECT_EQ(t->image_get_dimension_size(im, 1, &size), DM_OK);
  host.FailOperation("");
  EXPECT_EQ(t->image_clone(im, &copy), DM_OK);
  host.ReleaseImage(copy);
  host.ReleaseImage(im);
}

TEST(StandInHost, CallingAnUnknownFunctionIsAScriptError) {
  Host host;
  standin::CallResult r = host.Call("Nothing", {standin::float_arg(1.0f)});
  EXPECT_FALSE(r.called);
  EXPECT_EQ(r.script_errors.size(), 1u);
}
