// Console lines: to the log and to the on-screen ring that the text renderer draws.
#pragma once

constexpr int console_ring_size = 1000;
constexpr int console_line_chars = 127;

struct ConsoleState {
  char lines[console_ring_size][console_line_chars + 1];
  int next;             // ring slot the next line goes into
  int visible;          // newest lines shown on screen
  double expiry;        // total game time at which one visible line is hidden
};

extern ConsoleState console;
extern int console_message_lines;  // the "message_lines" setting, clamped to the ring size

void console_clear();
void console_print(const char* text);
void console_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Once a frame: hides one line when the total game time (s) has passed the expiry.
void console_update_expiry(double total_game_time);
// The i-th newest line (0 = newest), or null beyond the ring.
const char* console_line(int i);
