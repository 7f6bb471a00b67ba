// Recording a race into a demo file and playing one back into the state history.
#include "demo/demo.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "resources/data.h"

DemoRecording demo_recording;
DemoPlayback demo_playback;

namespace {

// Every record of every slot fits: 160 x 128 entries of 44 bytes.
uint8_t block_payload[max_riders * history_size * demo_entry_size];

bool data_file_exists(const char* name) {
  char path[1100];
  struct stat st;
  return data_resolve_write_path(name, path, sizeof path) && stat(path, &st) == 0;
}

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void play_entry(void* context, int rider_index, int tick, const StateRecord* record) {
  DemoPlayback* p = static_cast<DemoPlayback*>(context);
  // Indices are checked against the header and the assignment: a bad entry is skipped.
  if (rider_index < 0 || rider_index >= p->reader.header.rider_count || rider_index >= max_riders) return;
  int slot = p->slot_of[rider_index];
  if (slot < 0 || slot >= max_riders) return;
  int64_t t = static_cast<int64_t>(tick) + p->tick_offset;
  if (t < 0 || t > INT_MAX) return;
  add_state_to_history(slot, record, static_cast<int>(t));
}

void play_message(void*, int, const char* text) { console_print(text); }

}  // namespace

void demo_rotate_backups(int backups) {
  int n = backups < 0 ? 0 : (backups > demo_max_backups ? demo_max_backups : backups);
  char from[64], to[64];
  for (int i = n - 2; i >= 0; --i) {
    snprintf(from, sizeof from, "@demos/default%02d.kvdemo", i);
    snprintf(to, sizeof to, "@demos/default%02d.kvdemo", i + 1);
    // Only files that exist move; rename replaces the older number atomically.
    if (data_file_exists(from)) data_rename(from, to);
  }
  if (n > 0 && data_file_exists(demo_default_name)) data_rename(demo_default_name, "@demos/default00.kvdemo");
}

bool demo_start_recording(const DemoHeader* header, const int* slots, int count, const char* file,
                          int backups) {
  if (demo_recording.active) demo_stop_recording();
  DemoRecording& r = demo_recording;
  if (count < 0) count = 0;
  if (count > max_riders) count = max_riders;
  if (!file) demo_rotate_backups(backups);
  if (!demo_writer_open(&r.writer, file ? file : demo_default_name)) return false;
  DemoHeader h = *header;
  h.rider_count = count;
  if (!demo_write_header(&r.writer, &h)) {
    demo_writer_abandon(&r.writer);
    console_printf("Can't write demo file '%.900s'", file ? file : demo_default_name);
    return false;
  }
  r.rider_count = count;
  for (int i = 0; i < count; ++i) r.slots[i] = slots[i];
  r.active = true;
  return true;
}

void demo_stop_recording() {
  DemoRecording& r = demo_recording;
  if (!r.active) return;
  r.active = false;
  bool is_default = strcmp(r.writer.final_name, demo_default_name) == 0;
  if (!demo_writer_close(&r.writer)) return;
  if (is_default && r.name[0]) {
    char to[300];
    snprintf(to, sizeof to, "@demos/%s", r.name);
    data_rename(demo_default_name, to);
  }
}

bool demo_set_name(const char* name) {
  DemoRecording& r = demo_recording;
  if (!name || !name[0]) {
    r.name[0] = 0;
    return true;
  }
  if (strchr(name, '/') || strchr(name, '\\')) return false;
  const char* ext = ".kvdemo";
  size_t n = strlen(name), e = strlen(ext);
  bool has_ext = n >= e && strcmp(name + n - e, ext) == 0;
  if (n + (has_ext ? 0 : e) >= sizeof r.name) return false;
  snprintf(r.name, sizeof r.name, "%s%s", name, has_ext ? "" : ext);
  return true;
}

void demo_record_tick(int race_tick, bool flush) {
  DemoRecording& r = demo_recording;
  if (!r.active) return;
  if (flush || (race_tick & 3) == 0) {
    for (int i = 0; i < r.rider_count; ++i) {
      const RiderSlot& s = session.slots[r.slots[i]];
      if (!s.rider || (s.kind != slot_local && s.kind != slot_robot)) continue;
      StateRecord rec;
      pack_state(s.rider, &rec);
      add_state_to_history(r.slots[i], &rec, race_tick);
    }
  }
  if (!flush && (race_tick & 15) != 0) return;
  size_t used = 0;
  HistoryEntry entries[history_size];
  for (int i = 0; i < r.rider_count; ++i) {
    int n = history_unwritten(r.slots[i], entries, history_size);
    for (int k = 0; k < n; ++k) {
      uint8_t* e = block_payload + used;
      e[0] = static_cast<uint8_t>(i);
      put_u32(e + 1, static_cast<uint32_t>(entries[k].tick));
      memcpy(e + 5, entries[k].record.bytes, state_record_size);
      used += demo_entry_size;
    }
    state_history.slots[r.slots[i]].count = 0;
  }
  if (used > 0) demo_write_block(&r.writer, race_tick, demo_block_states, block_payload, static_cast<uint32_t>(used));
}

void demo_record_message(int race_tick, const char* text) {
  DemoRecording& r = demo_recording;
  if (!r.active || !text) return;
  size_t n = strlen(text);
  if (n > demo_line_chars) n = demo_line_chars;
  demo_write_block(&r.writer, race_tick, demo_block_message, text, static_cast<uint32_t>(n));
}

bool demo_load(const char* name, bool hot_lap, bool (*track_installed)(const char*)) {
  demo_stop_playback();
  DemoPlayback& p = demo_playback;
  for (int& s : p.slot_of) s = -1;
  for (float& v : p.sound_volume) v = 1.0f;
  p.riders_handed_out = 0;
  p.tick_offset = 0;
  p.first_block_tick = -1;
  p.hot_lap = hot_lap;
  const char* shown = name ? name : "";
  switch (demo_reader_open(&p.reader, name, track_installed)) {
    case demo_loaded:
      break;
    case demo_cannot_open:
      console_printf("Can't open '%.950s'", shown);
      return false;
    case demo_old_version:
      console_printf("Can't play '%.900s': version 4 demos are not supported", shown);
      return false;
    case demo_unknown_track:
      console_printf("Can't play '%.900s': its track is not installed", shown);
      return false;
    default:
      console_printf("Bad demo file '%.900s'", shown);
      return false;
  }
  history_exact_only = false;
  p.active = true;
  return true;
}

void demo_stop_playback() {
  DemoPlayback& p = demo_playback;
  if (p.reader.stream) demo_reader_close(&p.reader);
  p.active = false;
  p.riders_handed_out = 0;
  for (int& s : p.slot_of) s = -1;
}

bool demo_next_rider(const DemoRiderDesc** out, int* rider_index) {
  DemoPlayback& p = demo_playback;
  if (!p.active || p.riders_handed_out >= p.reader.header.rider_count) return false;
  *rider_index = p.riders_handed_out++;
  *out = &p.reader.header.riders[*rider_index];
  return true;
}

void demo_assign_slot(int rider_index, int slot) {
  if (rider_index < 0 || rider_index >= max_riders) return;
  demo_playback.slot_of[rider_index] = slot >= 0 && slot < max_riders ? slot : -1;
}

void demo_play_tick(int* race_tick) {
  DemoPlayback& p = demo_playback;
  if (!p.active || !p.reader.stream) return;
  DemoReader& r = p.reader;
  if (r.header.version == 6) {
    DemoBlockSink sink = {&p, play_entry, play_message};
    for (int blocks = 0; blocks < history_size; ++blocks) {
      DemoBlockHeader h;
      if (!demo_peek_block(&r, &h)) break;
      bool states = h.type == demo_block_states && h.length % demo_entry_size == 0;
      if (p.first_block_tick >= 0) {
        // Half a second ahead of the race, in the ghost's own time.
        if (static_cast<int64_t>(h.tick) + p.tick_offset - 64 > *race_tick) break;
      } else if (states && h.tick >= 0 && h.tick <= demo_max_ticks) {
        // A first tick outside the clock's range cannot start the race: such blocks are read
        // as they come, still at most 128 per tick.
        p.first_block_tick = h.tick;
        if (p.hot_lap)
          p.tick_offset = *race_tick - h.tick;
        else
          *race_tick = h.tick;
      }
      if (!demo_read_block(&r, &sink)) break;
    }
    return;
  }
  // Version 5: one record per demo rider for every tick from 1 on, eight ticks ahead.
  StateRecord records[max_riders];
  bool got[max_riders];
  for (int steps = 0; steps < history_size && r.next_tick - 8 <= *race_tick; ++steps) {
    int tick = r.next_tick;
    bool any = demo_read_record_set(&r, records, got);
    for (int i = 0; i < r.header.rider_count; ++i) {
      int slot = p.slot_of[i];
      if (slot < 0) continue;
      p.sound_volume[slot] = got[i] ? 1.0f : 0.0f;
      if (got[i]) add_state_to_history(slot, &records[i], tick);
    }
    if (!any) break;
  }
}

bool demo_seek_to(int target_tick) {
  DemoPlayback& p = demo_playback;
  if (!p.active || !p.reader.stream) return false;
  if (target_tick < 0) target_tick = 0;
  if (p.reader.header.version == 6) {
    int back = target_tick - 64 < 0 ? 0 : target_tick - 64;
    return demo_walk_back(&p.reader, back - p.tick_offset);
  }
  return demo_seek_records(&p.reader, target_tick);
}
