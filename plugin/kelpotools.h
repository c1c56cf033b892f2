// The plug-in's main object and its message writer.
#pragma once

#include "plugin_sdk.h"

#include <cstdint>
#include <string>

// The one main object: its start hook refuses hosts older than 3.10.0 and
// registers the script functions; the base removes them at shutdown.
class KELPOTOOLS : public Gatan::PlugIn::PlugInMain {
 public:
  KELPOTOOLS();
  ~KELPOTOOLS() override;
  void Start() override;
  void Run() override;
  void Cleanup() override;
  void End() override;
};

// The refusal a host older than 3.10.0 gets.
extern const char* const kHostTooOldMessage;

// Appends text to the Results window unchanged (no line end is added).
void DM_result(std::string text);

// Host text as a byte string.
std::string DM_string_to_std(const dm_string& text, uint32_t encoding);
