#include "script_functions.h"

#include "azimuthal_functions.h"
#include "centre_functions.h"
#include "export_functions.h"
#include "profile_functions.h"
#include "utility_functions.h"

namespace {

// One row per script function, in registration order.
struct Entry {
  const char* signature;
  void (*add)(Gatan::PlugIn::PlugInMain& main, const char* signature);
};

template <auto Handler>
void add(Gatan::PlugIn::PlugInMain& main, const char* signature) {
  main.AddFunction(signature, Handler);
}

const Entry kEntries[] = {
    {"void GuessCenter(BasicImage, float *, float *, float *)", add<GuessCenter>},
    {"void RefineCenter(BasicImage, float *, float *, float *)", add<RefineCenter>},
    {"void RefineCenterEllipticity(BasicImage, float *, float *, float *, float *, float *, float)",
     add<RefineCenterEllipticity>},
    {"void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float)", add<AzimuthalIntegral>},
    {"void AzimuthalAverage(BasicImage, ImageRef *, float, float, float)", add<AzimuthalAverage>},
    {"void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, "
     "float)",
     add<AzimuthalIntegralEllipticity>},
    {"void AzimuthalAverageEllipticity(BasicImage , ImageRef *, float, float, float, float, float)",
     add<AzimuthalAverageEllipticity>},
    {"void AzimuthalIntegralSektor(BasicImage, ImageRef *, float, float, float, float, float)",
     add<AzimuthalIntegralSektor>},
    {"void AzimuthalAverageSektor(BasicImage, ImageRef *, float, float, float, float, float)",
     add<AzimuthalAverageSektor>},
    {"void AzimuthalIntegralSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, "
     "float, float, float)",
     add<AzimuthalIntegralSektorEllipticity>},
    {"void AzimuthalAverageSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, "
     "float, float, float)",
     add<AzimuthalAverageSektorEllipticity>},
    {"void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)",
     add<AzimuthalProjection>},
    {"void PeakFind(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
     add<PeakFind>},
    {"void PeakFindPreFit(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float)",
     add<PeakFindPreFit>},
    {"void PreFit(RealImagePtr, RealImagePtr, RealImagePtr)", add<PreFit>},
    {"void PeakFit(RealImagePtr,RealImagePtr,RealImagePtr)", add<PeakFit>},
    {"void saveprofileasxlslong(RealImagePtr, dm_string, dm_string, float, dm_string, dm_string)",
     add<saveprofileasxlslong>},
    {"void saveprofileasxls(RealImagePtr, dm_string, dm_string, float)", add<saveprofileasxls>},
    {"void saveimageasxls(RealImagePtr, dm_string, dm_string, dm_string, dm_string)",
     add<saveimageasxls>},
    {"float GetMouseState(dm_string)", add<GetMouseState>},
    {"void FakeShiftUp()", add<FakeShiftUp>},
    {"void FakeShiftDown()", add<FakeShiftDown>},
    {"void FakeESC()", add<FakeESC>},
    {"dm_string GetSubString(dm_string, float, float)", add<GetSubString>},
    {"float extractpixelsize(dm_string)", add<extractpixelsize>},
    {"void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float,float,float)",
     add<RDF_Kirklandfit>},
    {"void RDF_Kirklandfunction(RealImagePtr,RealImagePtr,float*,float*,float,float)",
     add<RDF_Kirklandfunction>},
    {"void CalculateRDF(RealImagePtr,ImageRef *,float,float,float)", add<CalculateRDF>},
};

}  // namespace

void register_script_functions(Gatan::PlugIn::PlugInMain& main) {
  for (const Entry& e : kEntries) e.add(main, e.signature);
}

std::vector<const char*> script_function_signatures() {
  std::vector<const char*> out;
  for (const Entry& e : kEntries) out.push_back(e.signature);
  return out;
}
