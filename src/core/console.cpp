// console_print: every message to the player goes to the log and the on-screen ring.
#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/session.h"
#include "platform/log.h"

ConsoleState console;
int console_message_lines = 5;

void console_clear() { memset(&console, 0, sizeof console); }

void console_print(const char* text) {
  if (!text) return;
  size_t n = strlen(text);
  bool has_newline = n > 0 && text[n - 1] == '\n';
  bool has_escape = memchr(text, 27, n) != nullptr;
  // The log line must not leave the terminal coloured when a console colour code was used.
  int len = static_cast<int>(has_newline ? n - 1 : n);
  if (has_escape) velk_log("%.*s\x1b[0m\n", len, text);
  else velk_log("%.*s\n", len, text);

  char* line = console.lines[console.next];
  snprintf(line, sizeof console.lines[0], "%.*s", len, text);
  console.next = (console.next + 1) % console_ring_size;
  int limit = console_message_lines;
  if (limit > console_ring_size) limit = console_ring_size;
  if (console.visible < limit) console.visible++;
  console.expiry = session.total_game_time + 2.0;
}

void console_printf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  console_print(text);
}

void console_update_expiry(double total_game_time) {
  if (console.visible > 0 && total_game_time > console.expiry) {
    console.visible--;
    console.expiry += 5.0;
  }
}

const char* console_line(int i) {
  if (i < 0 || i >= console_ring_size) return nullptr;
  int slot = ((console.next - 1 - i) % console_ring_size + console_ring_size) % console_ring_size;
  return console.lines[slot];
}
