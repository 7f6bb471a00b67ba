// Fuzz target: any bytes as a settings file; once written and read back, writing is stable.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/bindings.h"
#include "core/session.h"
#include "core/settings.h"

namespace {

std::string slurp(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    std::fclose(f);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = "/tmp/kelvane_settings_fuzz_" + std::to_string(getpid()) + "_";
  const std::string in = dir + "in", first = dir + "first", second = dir + "second",
                    third = dir + "third";
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  static bool ready = false;
  if (!ready) {
    session_init_bindings(&session);
    ready = true;
  }
  bindings_reset_defaults(&session);
  Settings s;
  settings_set_defaults(&s);
  texture_lists_build_all(&s.setup);
  settings_read_file(&s, &session, in.c_str());
  if (!settings_write_file(&s, &session, first.c_str())) return 0;

  // The first pass may still drop what the file format cannot keep (an unbound binding comes
  // back with its default); from the second pass on the file must not change.
  const std::string* from = &first;
  for (const std::string* to : {&second, &third}) {
    Settings again;
    settings_set_defaults(&again);
    bindings_reset_defaults(&session);
    settings_read_file(&again, &session, from->c_str());
    if (!settings_write_file(&again, &session, to->c_str())) return 0;
    from = to;
  }
  if (slurp(second) != slurp(third)) std::abort();
  return 0;
}
