// VELK log file, platform switches from VELK_OPTIONS, last error text and the message box.
#pragma once
#include <cstdarg>

// printf-style line to the log, behind a time stamp. A null format closes the log for good.
// The first message configures the log: "VELK_LOGFILE=<path>" names the file (the environment
// variable VELK_LOGFILE wins). Returns the result of the underlying write.
int velk_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
int velk_log_v(const char* format, va_list args);

// Switches read from "[name:value]" in VELK_OPTIONS; unreadable values give the default.
int velk_option_bool(const char* name, int default_value);
int velk_option_int(const char* name, int default_value);

void velk_error(const char* text);  // logs "Error: %s" and remembers it
const char* velk_last_error();      // "Unknown" until the first velk_error

// Modal box with one OK button; the text is at most 1023 characters. Without a display the
// title and text go to standard error.
void velk_message_box(const char* title, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The window layer installs the on-screen box; it returns false when it could not show one.
using VelkMessageBoxFn = bool (*)(const char* title, const char* text);
void velk_set_message_box_handler(VelkMessageBoxFn fn);

// Tests only: forget the configuration and the option text so the next message configures anew.
void velk_log_reset_for_tests();
