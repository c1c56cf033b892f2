// The script functions this plug-in adds to the host, with the signature
// texts they are registered under (the host parses the texts, irregular
// spacing and all).
#pragma once

#include "plugin_sdk.h"

#include <vector>

// Registers every script function, in its fixed order.
void register_script_functions(Gatan::PlugIn::PlugInMain& main);

// The signature texts in registration order.
std::vector<const char*> script_function_signatures();
