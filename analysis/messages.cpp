#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
MessageSink& current_sink() {
  static MessageSink sink;
  return sink;
}
}  // namespace

MessageSink set_message_sink(MessageSink sink) {
  MessageSink previous = std::move(current_sink());
  current_sink() = std::move(sink);
  return previous;
}

void report(const std::string& text) {
  if (current_sink()) current_sink()(text);
}

void reportf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char buffer[kMessageBufferSize] = {};
  int needed = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    buffer[kMessageBufferSize - 1] = '\0';
    text = buffer;  // an encoding error: send what was printed
  } else if (needed < kMessageBufferSize) {
    text.assign(buffer, static_cast<size_t>(needed));
  } else {
    std::vector<char> larger(static_cast<size_t>(needed) + 1);
    std::vsnprintf(larger.data(), larger.size(), format, again);
    text.assign(larger.data(), static_cast<size_t>(needed));
  }
  va_end(again);
  report(text);
}
