#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

char message_buffer[kMessageBufferSize];

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
  int needed = std::vsnprintf(message_buffer, sizeof message_buffer, format, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    text = message_buffer;  // an encoding error: send what was printed
  } else if (needed < kMessageBufferSize) {
    text.assign(message_buffer, static_cast<size_t>(needed));
  } else {
    std::vector<char> larger(static_cast<size_t>(needed) + 1);
    std::vsnprintf(larger.data(), larger.size(), format, again);
    text.assign(larger.data(), static_cast<size_t>(needed));
  }
  va_end(again);
  report(text);
}
