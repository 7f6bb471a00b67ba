// Bike setup keys, setup files and the "key=value" line file format they share with "@config".
#pragma once
#include "bike/setup.h"
#include "core/settings.h"

struct Stream;

// The setup keys in file order.
const SettingDef* setup_table(int* count);

void setup_set_defaults(BikeSetup* setup);
// Writes the interpolated row of the stability table for a Stability value into the setup.
void setup_stability_preset(BikeSetup* setup, double stability);

// Applies one setup key; returns 1 when the key is a setup key. "bike" maps the old model
// names, rebuilds the bike texture list and resets "bike_texture"; "stability" applies its
// preset so that advanced keys after it override the preset.
int setup_read_line(BikeSetup* setup, const char* key, const char* value);
// Selects a bike model (index into the bike menu list; others keep the current one), rebuilds
// its texture list and resets the bike graphics to "default", as the menus need after a change.
void setup_select_bike(BikeSetup* setup, int bike);
// Writes every setup key; false when a write failed.
bool setup_write(const BikeSetup* setup, Stream* stream);
// Setup files on their own (the console's "readsetup" / "writesetup").
bool setup_file_read(BikeSetup* setup, const char* name);
bool setup_file_write(const BikeSetup* setup, const char* name);

// Set when a setup value read from a file lay more than 1/8 of its range outside the range
// (the value itself is clamped). Stays set for the run.
extern bool setup_file_out_of_range;

// Reads "key=value" lines of up to 1023 characters; a longer line is skipped whole. The key is
// the text before the first "="; the value loses its trailing carriage returns and line feeds.
// Returns false when the file does not open.
using SettingsLineFn = void (*)(void* context, const char* key, const char* value);
bool settings_file_read_lines(const char* name, SettingsLineFn fn, void* context);
// Writes a data file through "<name>.tmp", flushed to disk and renamed over the old one; the
// folder is created when missing. False when anything failed; the old file is then untouched.
using SettingsWriteFn = bool (*)(const void* context, Stream* stream);
bool settings_file_write_atomic(const char* name, SettingsWriteFn fn, const void* context);

// "%f" and "%d" readings that refuse what does not start with a number, and non-finite or
// out-of-range values.
bool settings_parse_number(const char* text, double* out);
bool settings_parse_integer(const char* text, int* out);

// One table entry: applies a value read from a file (false when it was refused) or writes
// "key=value\n" for it.
bool setting_apply_value(void* record, const SettingDef* def, const char* value);
bool setting_write_line(const void* record, const SettingDef* def, Stream* stream);
