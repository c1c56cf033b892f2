// Text lines from the numerical core.
//
// The core never talks to the host.  Every line it writes goes to one
// message sink: the plug-in installs a sink that forwards to the Results
// window, tests install one that records.  With no sink installed lines are
// dropped.  The sink is installed once (the plug-in does so when it is
// loaded) and only read by the calls, which may run on several threads at
// once: a sink must then be safe to call from any of them.
#pragma once

#include <functional>
#include <string>

// The room a formatted message is first printed into: 108 characters and
// the terminating zero, on the caller's stack, so that calls on several
// threads never share it.  A longer message is printed into a larger place.
constexpr int kMessageBufferSize = 109;

using MessageSink = std::function<void(const std::string&)>;

// Installs a sink and returns the one it replaces.
MessageSink set_message_sink(MessageSink sink);

// Sends one text, unchanged (no line end is added).  An exception thrown by
// the sink passes through to the caller.
void report(const std::string& text);

// printf-style: the text is printed in the call's own buffer of
// kMessageBufferSize bytes when it fits, into a larger place when it does
// not; either way the whole text is sent.
void reportf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink for the lifetime of the object (tests, the plug-in frame).
class ScopedMessageSink {
 public:
  explicit ScopedMessageSink(MessageSink sink) : previous_(set_message_sink(std::move(sink))) {}
  ~ScopedMessageSink() { set_message_sink(std::move(previous_)); }
  ScopedMessageSink(const ScopedMessageSink&) = delete;
  ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

 private:
  MessageSink previous_;
};
