#include "script_functions.h"

#include "azimuthal_functions.h"
#include "utility_functions.h"

namespace {

// One row per script function, in registration order.
struct Entry {
    const char *signature;
    void (*add)(Gatan::PlugIn::PlugInMain &main, const char *signature);
};

template <auto Handler>
void add(Gatan::PlugIn::PlugInMain &main, const char *signature)
{
    main.AddFunction(signature, Handler);
}

const Entry entries[] = {
    {"void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float)", add<AzimuthalIntegral>},
    {"void AzimuthalAverage(BasicImage, ImageRef *, float, float, float)", add<AzimuthalAverage>},
    {"void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, float)",
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
    {"void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)", add<AzimuthalProjection>},
    {"float GetMouseState(dm_string)", add<GetMouseState>},
    {"void FakeShiftUp()", add<FakeShiftUp>},
    {"void FakeShiftDown()", add<FakeShiftDown>},
    {"void FakeESC()", add<FakeESC>},
    {"dm_string GetSubString(dm_string, float, float)", add<GetSubString>},
    {"float extractpixelsize(dm_string)", add<extractpixelsize>},
};

}  // namespace

void register_script_functions(Gatan::PlugIn::PlugInMain &main)
{
    for (const Entry &e : entries) e.add(main, e.signature);
}

std::vector<const char *> script_function_signatures()
{
    std::vector<const char *> out;
    for (const Entry &e : entries) out.push_back(e.signature);
    return out;
}
