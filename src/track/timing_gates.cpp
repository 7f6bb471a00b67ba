// The "timing_gates" file: start grid with its gate statues, checkpoints and lap sequences.
#include "track/timing_gates.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "platform/log.h"
#include "resources/data.h"
#include "resources/stream.h"
#include "track/track_objects.h"

TimingGates timing;
void (*timing_racing_lines_create)(int first_switch_count, int normal_switch_count) = nullptr;

namespace {

const char* const default_gate_model = "@startgate.vm";
const char* const default_gate_texture = "@startgate.ppm";
const char* const default_gate_shape = "@startgate.shp";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

void skip_space(const char** p) {
  while (**p && is_space(**p)) ++*p;
}

// A word of at most 80 characters that must end at white space or the end of the text.
bool take_word(const char** p, const char* word) {
  const char* q = *p;
  skip_space(&q);
  size_t len = strlen(word);
  if (strncmp(q, word, len) != 0) return false;
  if (q[len] && !is_space(q[len])) return false;
  *p = q + len;
  return true;
}

void discard_gates() {
  free(timing.gates);
  free(timing.sequence);
  timing.gates = nullptr;
  timing.sequence = nullptr;
  timing.gate_count = 0;
  timing.first_lap_count = timing.normal_lap_count = 0;
  timing.first_switch_count = timing.normal_switch_count = 0;
}

const char* null_name(const char* name) { return strcmp(name, "null") != 0 ? name : nullptr; }

bool all_finite(const float* v, int n) {
  for (int k = 0; k < n; ++k) {
    if (!std::isfinite(v[k])) return false;
  }
  return true;
}

// Reads up to max_lap_entries integers; false when there are more (the file is then refused).
bool read_lap(const char** p, Array<int>* out, int* switches) {
  for (;;) {
    const char* q = *p;
    skip_space(&q);
    char* end = nullptr;
    errno = 0;
    long v = strtol(q, &end, 10);
    if (end == q) return true;
    if (errno == ERANGE || v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    if (out->count >= max_lap_entries) return false;
    array_push(out, static_cast<int>(v));
    if (v < not_switch_point) ++*switches;
    *p = end;
  }
}

int normalise_entry(int e) {
  if (e < 0) return 0;
  int f = e >= not_switch_point ? not_switch_point : 0;
  int g = e % not_switch_point;
  if (g > timing.gate_count - 1) g = timing.gate_count - 1;
  return g + f;
}

}  // namespace

float timing_wrap_angle(float a) {
  constexpr float pi = 3.14159265358979f;
  if (a >= -pi && a <= pi) return a;
  float v = (a + pi) / (2.0f * pi);
  return (v - std::floor(v)) * (2.0f * pi) - pi;
}

void timing_gates_free() {
  discard_gates();
  timing.start_slot_count = 0;
}

bool timing_present() { return timing.gate_count > 0 && timing.sequence != nullptr; }

int timing_checkpoint_entry(int i) {
  if (!timing_present() || i < 0) return 0;
  if (i < timing.first_lap_count) return timing.sequence[i];
  return timing.sequence[timing.first_lap_count + (i - timing.first_lap_count) % timing.normal_lap_count];
}

void timing_gates_load(const char* path) {
  timing_gates_free();
  size_t size = 0;
  uint8_t* bytes = stream_read_all(path, &size);
  if (!bytes) return;
  // The reader works on text; a zero byte inside the file simply ends it early.
  const char* p = reinterpret_cast<const char*>(bytes);

  bool found_checkpoints = false;
  if (take_word(&p, "startinggate:")) {
    // The rest of the "startinggate:" line holds nothing; slots start on the next line.
    const char* nl = strchr(p, '\n');
    p = nl ? nl + 1 : p + strlen(p);
    bool too_many = false;
    while (*p) {
      const char* line_end = strchr(p, '\n');
      size_t len = line_end ? static_cast<size_t>(line_end - p) : strlen(p);
      char line[1100];
      size_t copy = len < sizeof line - 1 ? len : sizeof line - 1;
      memcpy(line, p, copy);
      line[copy] = 0;
      const char* l = line;
      while (*l == ' ' || *l == '\t' || *l == '\r' || *l == '\f' || *l == '\v') ++l;
      if (strncmp(l, "checkpoints:", 12) == 0) {
        p = p + (l - line) + 12;
        found_checkpoints = true;
        break;
      }
      const char* next = line_end ? line_end + 1 : p + len;
      if (!*l || *l == '#') {
        p = next;
        continue;
      }
      float v[4] = {0, 0, 0, 0};
      char model[1024] = "", texture[1024] = "", shape[1024] = "";
      int got = sscanf(l, "[ %f %f %f ] %f %1023s %1023s %1023s", &v[0], &v[1], &v[2], &v[3], model,
                       texture, shape);
      if (got < 4 || !all_finite(v, 4)) break;
      if (timing.start_slot_count >= max_start_slots) {
        too_many = true;
        break;
      }
      if (got < 5) snprintf(model, sizeof model, "%s", default_gate_model);
      if (got < 6) snprintf(texture, sizeof texture, "%s", default_gate_texture);
      if (got < 7) snprintf(shape, sizeof shape, "%s", default_gate_shape);
      float a = timing_wrap_angle(v[3]);
      StartSlot& slot = timing.slots[timing.start_slot_count++];
      slot.position[0] = v[0];
      slot.position[1] = v[1];
      slot.position[2] = v[2];
      slot.angle = a;
      // "null" means no file here as in the statues file, which is also how saving writes a
      // missing name; loading a file called "null" would only print a warning.
      slot.statue = statue_add(v[0] - 3.0f * std::sin(a), v[1], v[2] - 3.0f * std::cos(a), a, null_name(model),
                               null_name(texture), null_name(shape));
      p = next;
    }
    if (too_many) found_checkpoints = false;
  } else if (take_word(&p, "checkpoints:")) {
    found_checkpoints = true;
  }
  if (!found_checkpoints) {
    free(bytes);
    return;
  }

  Array<TimingGate> gates{};
  bool ok = true;
  for (;;) {
    TimingGate g;
    int used = 0;
    if (sscanf(p, " %f [ %f %f %f ] [ %f %f %f ]%n", &g.radius, &g.centre[0], &g.centre[1], &g.centre[2],
               &g.direction[0], &g.direction[1], &g.direction[2], &used) != 7 || used == 0)
      break;
    float all[7] = {g.radius, g.centre[0], g.centre[1], g.centre[2], g.direction[0], g.direction[1], g.direction[2]};
    if (!all_finite(all, 7)) {
      ok = false;
      break;
    }
    if (gates.count >= max_timing_gates) {
      ok = false;
      break;
    }
    array_push(&gates, g);
    p += used;
  }
  Array<int> first{}, normal{};
  int first_switches = 0, normal_switches = 0;
  if (ok && take_word(&p, "firstlap:")) ok = read_lap(&p, &first, &first_switches);
  if (ok && take_word(&p, "normallap:")) ok = read_lap(&p, &normal, &normal_switches);
  free(bytes);

  if (!ok || gates.count == 0 || first.count == 0 || normal.count == 0 || first_switches == 0 ||
      normal_switches == 0) {
    array_free(&gates);
    array_free(&first);
    array_free(&normal);
    return;
  }
  timing.gate_count = gates.count;
  timing.gates = static_cast<TimingGate*>(xmalloc(sizeof(TimingGate) * static_cast<size_t>(gates.count)));
  memcpy(timing.gates, gates.items, sizeof(TimingGate) * static_cast<size_t>(gates.count));
  timing.first_lap_count = first.count;
  timing.normal_lap_count = normal.count;
  timing.first_switch_count = first_switches;
  timing.normal_switch_count = normal_switches;
  timing.sequence = static_cast<int*>(xmalloc(sizeof(int) * static_cast<size_t>(first.count + normal.count)));
  for (int k = 0; k < first.count; ++k) timing.sequence[k] = normalise_entry(first.items[k]);
  for (int k = 0; k < normal.count; ++k) timing.sequence[first.count + k] = normalise_entry(normal.items[k]);
  array_free(&gates);
  array_free(&first);
  array_free(&normal);
  if (timing_racing_lines_create) timing_racing_lines_create(timing.first_switch_count, timing.normal_switch_count);
  if (options.debug_level >= 1)
    velk_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n", timing.gate_count,
             timing.first_lap_count, timing.normal_lap_count);
}

bool timing_gates_save(const char* folder) {
  char name[1100], final_path[1100], temp_path[1120];
  snprintf(name, sizeof name, "%s/timing_gates", folder);
  Stream* s = nullptr;
  if (data_resolve_write_path(name, final_path, sizeof final_path)) {
    snprintf(temp_path, sizeof temp_path, "%s.tmp", final_path);
    make_folders_for(final_path);
    s = stream_open(temp_path, "wb");
  }
  if (!s) {
    console_print("Can't open 'timing_gates'\n");
    return false;
  }
  bool ok = true;
  auto out = [&](int r) { ok = ok && r >= 0; };
  if (timing.start_slot_count > 0) out(stream_printf(s, "startinggate:\n"));
  for (int k = 0; k < timing.start_slot_count; ++k) {
    const StartSlot& slot = timing.slots[k];
    out(stream_printf(s, "[%f %f %f]", static_cast<double>(slot.position[0]), static_cast<double>(slot.position[1]),
                      static_cast<double>(slot.position[2])));
    out(stream_printf(s, " %f", static_cast<double>(slot.angle)));
    const Statue* st = slot.statue >= 0 && slot.statue < track_objects.statues.count
                           ? &track_objects.statues.items[slot.statue]
                           : nullptr;
    auto same = [](const char* a, const char* b) { return a && strcmp(a, b) == 0; };
    if (!st || (same(st->model_name, default_gate_model) && same(st->texture_name, default_gate_texture) &&
                same(st->shape_name, default_gate_shape))) {
      out(stream_printf(s, "\n"));
    } else {
      out(stream_printf(s, " %s %s %s\n", st->model_name ? st->model_name : "null",
                        st->texture_name ? st->texture_name : "null", st->shape_name ? st->shape_name : "null"));
    }
  }
  if (timing.gate_count > 0) out(stream_printf(s, "checkpoints:\n"));
  for (int k = 0; k < timing.gate_count; ++k) {
    const TimingGate& g = timing.gates[k];
    out(stream_printf(s, "%f [%f %f %f] [%f %f %f]\n", static_cast<double>(g.radius), static_cast<double>(g.centre[0]),
                      static_cast<double>(g.centre[1]), static_cast<double>(g.centre[2]),
                      static_cast<double>(g.direction[0]), static_cast<double>(g.direction[1]),
                      static_cast<double>(g.direction[2])));
  }
  if (timing.first_lap_count > 0) {
    out(stream_printf(s, "firstlap:\n"));
    for (int k = 0; k < timing.first_lap_count; ++k) out(stream_printf(s, "%d ", timing.sequence[k]));
    out(stream_printf(s, "\n"));
  }
  if (timing.normal_lap_count > 0) {
    out(stream_printf(s, "normallap:\n"));
    for (int k = 0; k < timing.normal_lap_count; ++k)
      out(stream_printf(s, "%d ", timing.sequence[timing.first_lap_count + k]));
    out(stream_printf(s, "\n"));
  }
  ok = ok && stream_flush(s);
  stream_close(s);
  if (ok) ok = data_rename(temp_path, final_path) == 1;
  if (!ok) {
    remove(temp_path);
    console_print("Can't open 'timing_gates'\n");
  }
  return ok;
}
