// What the demo module needs from others and does not find yet: set by their owners.
#pragma once

struct Rider;
struct StateRecord;

// Places a replayed rider from its records before, after and current with their distance in
// ticks (at least 1): the bike's replay placement with velocities from before to after. While
// null, replayed riders are not moved.
extern void (*demo_apply_state_hook)(Rider* rider, const StateRecord* before,
                                     const StateRecord* after, const StateRecord* current,
                                     int interval);
