#include "script_functions.h"

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
