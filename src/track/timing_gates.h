// The start grid, the timing gates and the lap sequences of the loaded track.
#pragma once

constexpr int max_start_slots = 160;
constexpr int max_timing_gates = 256;
constexpr int max_lap_entries = 256;
constexpr int not_switch_point = 100000;  // added to a sequence entry that is no switch point

struct StartSlot {
  float position[3];  // ft, as in the file
  float angle;        // radians in [-pi, pi); 0 faces -z
  int statue;         // the start gate statue in front of the slot
};

struct TimingGate {
  float centre[3];
  float direction[3];
  float radius;  // ft
};

struct TimingGates {
  StartSlot slots[max_start_slots];
  int start_slot_count;
  TimingGate* gates;  // gate_count records, null without timing
  int gate_count;
  int* sequence;      // first lap entries, then normal lap entries
  int first_lap_count, normal_lap_count;
  int first_switch_count, normal_switch_count;
};

extern TimingGates timing;
// Called once timing has loaded, to size the racing line store by switch-point pairs.
extern void (*timing_racing_lines_create)(int first_switch_count, int normal_switch_count);

// Replaces grid, gates and sequences from the file at path and creates the start gate statues.
void timing_gates_load(const char* path);
// Writes folder + "/timing_gates".
bool timing_gates_save(const char* folder);
void timing_gates_free();
bool timing_present();
// Sequence entry (gate index plus not_switch_point when not a switch point) of checkpoint i.
int timing_checkpoint_entry(int checkpoint);
// Wraps an angle outside [-pi, pi] the way the grid does.
float timing_wrap_angle(float a);
