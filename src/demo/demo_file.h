// The demo file: its text header, the length-chained blocks of version 6, the fixed records of
// version 5, with a writer that replaces the file atomically and a reader for hostile input.
#pragma once
#include <cstdint>

#include "core/session.h"
#include "demo/state_record.h"

struct Stream;

constexpr int demo_version = 6;
constexpr int demo_text_chars = 63;       // header text fields are cut to this
constexpr int demo_number_chars = 3;      // rider numbers as a reader keeps them
constexpr int demo_line_chars = 1023;     // a longer header line fails the load
constexpr int demo_entry_size = 44;       // rider index, tick, record
constexpr int demo_block_header_size = 9; // chained length, tick, type
constexpr int demo_block_states = 1;
constexpr int demo_block_message = 2;
constexpr int demo_max_laps = 1000000;
constexpr int demo_max_ticks = 1 << 30;   // bound for time limits and gate drops

struct DemoRiderDesc {
  char bike[demo_text_chars + 1];
  char body_texture[demo_text_chars + 1];
  char bike_texture[demo_text_chars + 1];
  char wheels_texture[demo_text_chars + 1];
  char head_texture[demo_text_chars + 1];
  char number[demo_text_chars + 1];
  char name[demo_text_chars + 1];
};

struct DemoHeader {
  int version;
  int rider_count;  // 0..160
  int time_limit_ticks;
  int extra_laps;
  int gate_drop_tick;
  char track[demo_text_chars + 1];
  DemoRiderDesc riders[max_riders];
};

// Copies text into a header field: at most 63 characters, without "\n", "|" and control
// characters, so that every recorded header loads again.
void demo_clean_text(char* out, const char* text);

// Writing goes to "<name>.tmp" and lands under the name when closed.
struct DemoWriter {
  Stream* stream;
  uint32_t previous_length;
  bool failed;  // a write did not go through
  char temp_name[1100];
  char final_name[1100];
};

// False (and a console line) when the file cannot be created.
bool demo_writer_open(DemoWriter* w, const char* name);
bool demo_write_header(DemoWriter* w, const DemoHeader* h);
bool demo_write_block(DemoWriter* w, int tick, int type, const void* payload, uint32_t length);
// Closes and renames into place; false when nothing was open or the file is incomplete (then
// the old file under the name is kept).
bool demo_writer_close(DemoWriter* w);
// Drops the temporary file without touching the named one.
void demo_writer_abandon(DemoWriter* w);

struct DemoBlockHeader {
  uint32_t length;
  int tick;
  int type;
};

struct DemoReader {
  Stream* stream;
  DemoHeader header;
  int64_t header_end;      // byte position of the first block or record
  int64_t position;        // byte position of the next block (version 6) or record
  uint32_t previous_length;
  bool have_next;          // next holds the peeked header of the block at position
  DemoBlockHeader next;
  bool ended;              // truncated or at the end: nothing more is read
  int next_tick;           // versions 4 and 5: the tick of the next record set
};

// Why a header was refused, for the console line.
enum DemoLoadResult {
  demo_loaded = 0,
  demo_cannot_open,
  demo_bad_header,
  demo_old_version,    // version 4: no known record layout
  demo_unknown_track,
};

// Reads and checks the header. On failure the reader is closed.
DemoLoadResult demo_reader_open(DemoReader* r, const char* name, bool (*track_installed)(const char*));
void demo_reader_close(DemoReader* r);
// The header of the next block without consuming it; false at the end or a truncated header.
bool demo_peek_block(DemoReader* r, DemoBlockHeader* out);

struct DemoBlockSink {
  void* context;
  void (*entry)(void* context, int rider_index, int tick, const StateRecord* record);
  void (*message)(void* context, int tick, const char* text);
};
// Reads the peeked block. A states block whose length is not a multiple of 44 and blocks of
// other types are skipped. False when the block is truncated (reading then ends).
bool demo_read_block(DemoReader* r, const DemoBlockSink* sink);
// Walks back along the length chain to the newest block at or before the target tick (or
// the first block). False when the stream cannot seek.
bool demo_walk_back(DemoReader* r, int target_tick);

// Versions 4 and 5: one record per demo rider in header order for the next tick; records that
// could not be read are flagged in got[] (false). False when nothing more could be read.
bool demo_read_record_set(DemoReader* r, StateRecord* out, bool* got);
// Versions 4 and 5: the records of tick T + 1 come next.
bool demo_seek_records(DemoReader* r, int target_tick);
