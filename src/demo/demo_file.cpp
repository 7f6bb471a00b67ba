// Demo file header, block writer and reader.
#include "demo/demo_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "resources/data.h"
#include "resources/stream.h"

namespace {

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get_u32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One header line into buf without its "\n". False when the line is missing its "\n" or is
// longer than the limit.
bool read_line(Stream* s, char* buf, int64_t* consumed) {
  char line[demo_line_chars + 2];
  int64_t before = stream_tell(s);
  if (!stream_gets(s, line, sizeof line)) return false;
  int64_t taken = stream_tell(s) - before;
  *consumed += taken;
  size_t n = strlen(line);
  // A NUL inside the line would hide bytes from the header's length; such a header is not ours.
  if (static_cast<int64_t>(n) != taken || n == 0 || line[n - 1] != '\n') return false;
  line[n - 1] = 0;
  memcpy(buf, line, n);
  return true;
}

void copy_field(char* out, const char* begin, size_t length, size_t cap) {
  if (length > cap) length = cap;
  memcpy(out, begin, length);
  out[length] = 0;
}

bool skip_bytes(Stream* s, uint64_t n) {
  uint8_t piece[32];
  while (n > 0) {
    size_t want = n < sizeof piece ? static_cast<size_t>(n) : sizeof piece;
    if (stream_read(s, piece, want) != want) return false;
    n -= want;
  }
  return true;
}

}  // namespace

void demo_clean_text(char* out, const char* text) {
  int n = 0;
  for (const char* p = text ? text : ""; *p && n < demo_text_chars; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == '|') continue;
    out[n++] = static_cast<char>(c);
  }
  out[n] = 0;
}

bool demo_writer_open(DemoWriter* w, const char* name) {
  memset(w, 0, sizeof *w);
  if (!name || snprintf(w->final_name, sizeof w->final_name, "%s", name) >= static_cast<int>(sizeof w->final_name) ||
      snprintf(w->temp_name, sizeof w->temp_name, "%s.tmp", name) >= static_cast<int>(sizeof w->temp_name)) {
    console_printf("Can't create demo file '%.900s'", name ? name : "");
    return false;
  }
  char path[1100];
  if (data_resolve_write_path(w->temp_name, path, sizeof path)) make_folders_for(path);
  w->stream = stream_open(w->temp_name, "wb");
  if (!w->stream) {
    console_printf("Can't create demo file '%.900s'", name);
    return false;
  }
  return true;
}

bool demo_write_header(DemoWriter* w, const DemoHeader* h) {
  if (!w->stream) return false;
  char text[demo_text_chars + 1];
  int riders = h->rider_count < 0 ? 0 : (h->rider_count > max_riders ? max_riders : h->rider_count);
  demo_clean_text(text, h->track);
  bool ok = stream_printf(w->stream, "KV%02d %d %d %d %d\n", demo_version, riders, h->time_limit_ticks,
                          h->extra_laps, h->gate_drop_tick) > 0;
  ok = ok && stream_printf(w->stream, "%s\n", text) >= 0;
  for (int i = 0; i < riders && ok; ++i) {
    const DemoRiderDesc& d = h->riders[i];
    char f[7][demo_text_chars + 1];
    demo_clean_text(f[0], d.bike);
    demo_clean_text(f[1], d.body_texture);
    demo_clean_text(f[2], d.bike_texture);
    demo_clean_text(f[3], d.wheels_texture);
    demo_clean_text(f[4], d.head_texture);
    demo_clean_text(f[5], d.number);
    demo_clean_text(f[6], d.name);
    ok = stream_printf(w->stream, "%s|%s|%s|%s|%s\n%s\n%s\n\n", f[0], f[1], f[2], f[3], f[4], f[5],
                       f[6]) > 0;
  }
  ok = ok && stream_flush(w->stream);
  if (!ok) w->failed = true;
  w->previous_length = 0;
  return ok;
}

bool demo_write_block(DemoWriter* w, int tick, int type, const void* payload, uint32_t length) {
  if (!w->stream) return false;
  uint8_t head[demo_block_header_size];
  put_u32(head, length ^ w->previous_length);
  put_u32(head + 4, static_cast<uint32_t>(tick));
  head[8] = static_cast<uint8_t>(type);
  bool ok = stream_write(w->stream, head, sizeof head) == sizeof head;
  ok = ok && (length == 0 || stream_write(w->stream, payload, length) == length);
  ok = ok && stream_flush(w->stream);
  if (!ok) w->failed = true;
  w->previous_length = length;
  return ok;
}

bool demo_writer_close(DemoWriter* w) {
  if (!w->stream) return false;
  bool ok = stream_flush(w->stream) && !w->failed;
  stream_close(w->stream);
  w->stream = nullptr;
  char path[1100];
  if (!ok) {
    // A torn recording must not replace the previous demo of that name.
    console_printf("Can't write demo file '%.900s'", w->final_name);
    if (data_resolve_write_path(w->temp_name, path, sizeof path)) remove(path);
    return false;
  }
  return data_rename(w->temp_name, w->final_name) == 1;
}

void demo_writer_abandon(DemoWriter* w) {
  if (!w->stream) return;
  stream_close(w->stream);
  w->stream = nullptr;
  char path[1100];
  if (data_resolve_write_path(w->temp_name, path, sizeof path)) remove(path);
}

DemoLoadResult demo_reader_open(DemoReader* r, const char* name, bool (*track_installed)(const char*)) {
  memset(r, 0, sizeof *r);
  r->stream = name ? stream_open(name, "rb") : nullptr;
  if (!r->stream) return demo_cannot_open;
  DemoHeader& h = r->header;
  char line[demo_line_chars + 2];
  int64_t used = 0;
  DemoLoadResult result = demo_bad_header;
  int version = 0, riders = 0, limit = 0, laps = 0, gate = 14 * ticks_per_second;
  int fields = 0;
  if (!read_line(r->stream, line, &used)) goto fail;
  fields = sscanf(line, "KV%d %d %d %d %d", &version, &riders, &limit, &laps, &gate);
  if (fields < 3) goto fail;
  if (version == 4) {
    result = demo_old_version;
    goto fail;
  }
  if (version != 5 && version != 6) goto fail;
  if (fields < 4) laps = 0;
  if (fields < 5) gate = 14 * ticks_per_second;
  if (riders < 0 || riders > max_riders || limit < 0 || limit > demo_max_ticks || laps < 0 ||
      laps > demo_max_laps || gate < 0 || gate > demo_max_ticks)
    goto fail;
  h.version = version;
  h.rider_count = riders;
  h.time_limit_ticks = limit;
  h.extra_laps = laps;
  h.gate_drop_tick = gate;
  if (!read_line(r->stream, line, &used)) goto fail;
  copy_field(h.track, line, strlen(line), demo_text_chars);
  if (!h.track[0] || (track_installed && !track_installed(h.track))) {
    result = demo_unknown_track;
    goto fail;
  }
  for (int i = 0; i < riders; ++i) {
    DemoRiderDesc& d = h.riders[i];
    if (!read_line(r->stream, line, &used)) goto fail;
    char* fields_out[5] = {d.bike, d.body_texture, d.bike_texture, d.wheels_texture, d.head_texture};
    const char* p = line;
    for (int f = 0; f < 5; ++f) {
      const char* bar = strchr(p, '|');
      size_t n = bar ? static_cast<size_t>(bar - p) : strlen(p);
      copy_field(fields_out[f], p, n, demo_text_chars);
      p += n;
      if (!bar) break;
      ++p;
    }
    if (!read_line(r->stream, line, &used)) goto fail;
    copy_field(d.number, line, strlen(line), demo_number_chars);
    if (version == 6) {
      if (!read_line(r->stream, line, &used)) goto fail;
      copy_field(d.name, line, strlen(line), demo_text_chars);
      for (;;) {
        if (!read_line(r->stream, line, &used)) goto fail;
        if (!line[0]) break;
      }
    }
  }
  r->header_end = used;
  r->position = used;
  r->next_tick = 1;
  return demo_loaded;
fail:
  demo_reader_close(r);
  memset(&r->header, 0, sizeof r->header);
  return result;
}

void demo_reader_close(DemoReader* r) {
  if (r->stream) stream_close(r->stream);
  r->stream = nullptr;
  r->have_next = false;
  r->ended = true;
}

bool demo_peek_block(DemoReader* r, DemoBlockHeader* out) {
  if (!r->stream || r->ended || r->header.version != 6) return false;
  if (!r->have_next) {
    uint8_t head[demo_block_header_size];
    if (stream_read(r->stream, head, sizeof head) != sizeof head) {
      r->ended = true;
      return false;
    }
    r->next.length = get_u32(head) ^ r->previous_length;
    r->next.tick = static_cast<int>(get_u32(head + 4));
    r->next.type = head[8];
    r->have_next = true;
  }
  *out = r->next;
  return true;
}

bool demo_read_block(DemoReader* r, const DemoBlockSink* sink) {
  DemoBlockHeader h;
  if (!demo_peek_block(r, &h)) return false;
  r->have_next = false;
  bool ok = true;
  if (h.type == demo_block_states && h.length % demo_entry_size == 0) {
    uint8_t entry[demo_entry_size];
    for (uint32_t k = 0; k < h.length / demo_entry_size; ++k) {
      if (stream_read(r->stream, entry, sizeof entry) != sizeof entry) {
        ok = false;
        break;
      }
      StateRecord rec;
      memcpy(rec.bytes, entry + 5, state_record_size);
      int tick = static_cast<int>(get_u32(entry + 1));
      if (sink && sink->entry) sink->entry(sink->context, entry[0], tick, &rec);
    }
  } else if (h.type == demo_block_message) {
    char text[demo_line_chars + 1];
    uint32_t keep = h.length < demo_line_chars ? h.length : demo_line_chars;
    if (stream_read(r->stream, text, keep) != keep || !skip_bytes(r->stream, h.length - keep)) {
      ok = false;
    } else {
      text[keep] = 0;
      if (sink && sink->message) sink->message(sink->context, h.tick, text);
    }
  } else {
    ok = skip_bytes(r->stream, h.length);
  }
  if (!ok) {
    r->ended = true;
    return false;
  }
  r->position += demo_block_header_size + static_cast<int64_t>(h.length);
  r->previous_length = h.length;
  return true;
}

bool demo_walk_back(DemoReader* r, int target_tick) {
  if (!r->stream || r->header.version != 6) return false;
  // The next unread block: its header tells whether it is already early enough.
  int64_t pos = r->position;
  uint32_t prev = r->previous_length;
  int tick = 0;
  bool known = false;
  if (r->have_next) {
    tick = r->next.tick;
    known = true;
  }
  for (;;) {
    if (known && tick <= target_tick) break;
    if (pos <= r->header_end) break;
    int64_t start = pos - static_cast<int64_t>(prev) - demo_block_header_size;
    if (start < r->header_end) return false;  // a broken chain: stay where we are
    if (stream_seek(r->stream, start) != 1) return false;
    uint8_t head[demo_block_header_size];
    if (stream_read(r->stream, head, sizeof head) != sizeof head) return false;
    uint32_t before = get_u32(head) ^ prev;
    // The block's own length is prev; the one before it must also fit into the file.
    if (start > r->header_end && static_cast<int64_t>(before) + demo_block_header_size > start - r->header_end)
      return false;
    if (start == r->header_end) before = 0;
    pos = start;
    tick = static_cast<int>(get_u32(head + 4));
    known = true;
    r->next.length = prev;
    r->next.tick = tick;
    r->next.type = head[8];
    r->have_next = true;
    prev = before;
    r->position = pos;
    r->previous_length = prev;
    r->ended = false;
  }
  return true;
}

bool demo_read_record_set(DemoReader* r, StateRecord* out, bool* got) {
  int n = r->header.rider_count;
  if (!r->stream || r->header.version != 5) return false;
  bool any = false;
  for (int i = 0; i < n; ++i) {
    got[i] = !r->ended && stream_read(r->stream, out[i].bytes, state_record_size) == state_record_size;
    if (!got[i]) r->ended = true;
    any = any || got[i];
  }
  if (any) r->position += static_cast<int64_t>(n) * state_record_size;
  r->next_tick++;
  return any;
}

bool demo_seek_records(DemoReader* r, int target_tick) {
  if (!r->stream || r->header.version != 5 || target_tick < 0) return false;
  int64_t pos = r->header_end + static_cast<int64_t>(target_tick) * r->header.rider_count * state_record_size;
  if (stream_seek(r->stream, pos) != 1) return false;
  r->position = pos;
  r->next_tick = target_tick + 1;
  r->ended = false;
  return true;
}
