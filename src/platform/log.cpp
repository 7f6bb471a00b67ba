// The VELK log file with its time stamps, the VELK_OPTIONS switches and the message box.
#include "platform/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace {

// One lock around configuration, time stamp and write: the audio and window threads log too,
// and an unlocked interleave tears lines apart.
std::mutex log_mutex;
FILE* log_file = nullptr;
bool log_configured = false;
bool log_closed = false;
bool log_flush = true;

std::mutex options_mutex;
bool options_read = false;
std::string option_text;

std::mutex error_mutex;
std::string last_error = "Unknown";

VelkMessageBoxFn message_box_handler = nullptr;

bool is_write_mode(const char* mode) {
  return mode && (mode[0] == 'w' || mode[0] == 'a');
}

void write_line_locked(const char* format, va_list args, int* result) {
  uint64_t ms = velk_time_ms();
  unsigned long long hundredths = ms / 10;
  fprintf(log_file, "[%llu:%02llu:%02llu.%02llu] ", hundredths / 360000, hundredths / 6000 % 60,
          hundredths / 100 % 60, hundredths % 100);
  *result = vfprintf(log_file, format, args);
  if (log_flush) {
    fflush(log_file);
    fsync(fileno(log_file));
  }
}

int log_locked_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = 0;
  if (log_file) write_line_locked(format, args, &result);
  va_end(args);
  return result;
}

// Returns true when the message was the configuration message (and is not a log line).
bool configure_locked(const char* first_text) {
  log_configured = true;
  const char* env_path = getenv("VELK_LOGFILE");
  const char* env_flags = getenv("VELK_LOGFILE_FLAGS");
  bool is_config = strncmp(first_text, "VELK_LOGFILE=", 13) == 0;
  std::string path;
  if (env_path && *env_path) {
    path = env_path;
  } else if (is_config) {
    path = first_text + 13;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  }
  if (!path.empty()) {
    const char* mode = "w";
    if (path.compare(0, 2, ">>") == 0) {
      mode = "a";
      path.erase(0, 2);
    } else if (path.compare(0, 1, ">") == 0) {
      path.erase(0, 1);
    }
    // Only a write or append mode may come from the environment: "r" would leave the log
    // unwritable and "r+" would overwrite an old log in place.
    if (env_flags && is_write_mode(env_flags)) mode = env_flags;
    log_file = fopen(path.c_str(), mode);
  }
  if (log_file) {
    log_locked_printf("Logfile \"%s\" opened\n", path.c_str());
    log_locked_printf("VELK 0.31\n");
  }
  return is_config;
}

}  // namespace

int velk_log_v(const char* format, va_list args) {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (!format) {
    if (log_file) fclose(log_file);
    log_file = nullptr;
    log_closed = true;
    log_configured = true;
    return 0;
  }
  if (log_closed) return 0;
  if (format[0] == 19) {
    // A trailing line feed is tolerated: callers write these like any other log line.
    std::string word = format + 1;
    while (!word.empty() && (word.back() == '\n' || word.back() == '\r')) word.pop_back();
    if (word == "FLUSH") log_flush = true;
    else if (word == "NOFLUSH") log_flush = false;
    return 0;
  }
  if (!log_configured) {
    char text[1100];
    va_list copy;
    va_copy(copy, args);
    vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    if (configure_locked(text)) return 0;
  }
  int result = 0;
  if (log_file) write_line_locked(format, args, &result);
  return result;
}

int velk_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = velk_log_v(format, args);
  va_end(args);
  return r;
}

void velk_log_reset_for_tests() {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (log_file) fclose(log_file);
  log_file = nullptr;
  log_configured = false;
  log_closed = false;
  log_flush = true;
  std::lock_guard<std::mutex> lock2(options_mutex);
  options_read = false;
}

namespace {

// Finds "[name:" (name cut to 60 characters) and returns the text after the colon, or null.
const char* find_option(const char* name) {
  {
    std::lock_guard<std::mutex> lock(options_mutex);
    if (!options_read) {
      const char* env = getenv("VELK_OPTIONS");
      option_text = env ? env : "";
      options_read = true;
    }
  }
  std::string key = "[";
  key.append(name, strnlen(name, 60));
  key += ":";
  size_t at = option_text.find(key);
  if (at == std::string::npos) return nullptr;
  return option_text.c_str() + at + key.size();
}

}  // namespace

int velk_option_bool(const char* name, int default_value) {
  const char* v = find_option(name);
  if (!v) return default_value;
  if (strncmp(v, "yes]", 4) == 0 || strncmp(v, "on]", 3) == 0) return 1;
  if (strncmp(v, "no]", 3) == 0 || strncmp(v, "off]", 4) == 0) return 0;
  velk_log("unrecognized setting for %s\n", name);
  return default_value;
}

int velk_option_int(const char* name, int default_value) {
  const char* v = find_option(name);
  if (!v) return default_value;
  char* end = nullptr;
  long value = strtol(v, &end, 10);
  if (end == v) {
    velk_log("unrecognized setting for %s\n", name);
    return default_value;
  }
  if (value > 2147483647L) value = 2147483647L;
  if (value < -2147483647L - 1) value = -2147483647L - 1;
  return static_cast<int>(value);
}

void velk_error(const char* text) {
  velk_log("Error: %s\n", text);
  std::lock_guard<std::mutex> lock(error_mutex);
  last_error = text ? text : "Unknown";
}

const char* velk_last_error() {
  std::lock_guard<std::mutex> lock(error_mutex);
  static thread_local std::string copy;
  copy = last_error;
  return copy.c_str();
}

void velk_set_message_box_handler(VelkMessageBoxFn fn) { message_box_handler = fn; }

void velk_message_box(const char* title, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (message_box_handler && message_box_handler(title, text)) return;
  fprintf(stderr, "%s: %s", title, text);
  size_t n = strlen(text);
  if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
}
