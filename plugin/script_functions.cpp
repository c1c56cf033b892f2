#include "script_functions.h"

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
    {nullptr, nullptr},
};

}  // namespace

void register_script_functions(Gatan::PlugIn::PlugInMain &main)
{
    for (const Entry &e : entries)
        if (e.signature) e.add(main, e.signature);
}

std::vector<const char *> script_function_signatures()
{
    std::vector<const char *> out;
    for (const Entry &e : entries)
        if (e.signature) out.push_back(e.signature);
    return out;
}
