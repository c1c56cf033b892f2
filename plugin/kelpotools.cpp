#include "kelpotools.h"

#include "messages.h"
#include "script_functions.h"

const char* const kHostTooOldMessage = "This plugin requires DM 3.10.0 or later.";

// Built when the library is loaded, destroyed when it is unloaded.
static KELPOTOOLS kelpotools_instance;

KELPOTOOLS::KELPOTOOLS() {
  // The numerical core writes its lines through DM_result.
  set_message_sink([](const std::string& text) { DM_result(text); });
}

KELPOTOOLS::~KELPOTOOLS() {
  set_message_sink(nullptr);
}

void KELPOTOOLS::Start() {
  if (DM_host_version() < DM_VERSION_3_10_0) throw HostError(kHostTooOldMessage);
  register_script_functions(*this);
}

void KELPOTOOLS::Run() {}
void KELPOTOOLS::Cleanup() {}
void KELPOTOOLS::End() {}

void DM_result(std::string text) {
  DM::Result(DM_make_string(text, 0));
}

std::string DM_string_to_std(const dm_string& text, uint32_t encoding) {
  return DM_string_bytes(text, encoding);
}
