// Data roots, the file index over loose files and ".saf" archives, and the start-up data check.
#pragma once
#include <cstddef>

// Root 0 is the home folder (where data names are written); root 1 is KV_HOME or the
// executable's folder. Null when n is out of range. Each root ends in "/".
const char* data_root(int n);
// Every data file name, de-duplicated case-insensitively, ending with a null entry.
const char* const* data_file_list();
int data_file_count();
// Resolves a data name ("@...") under root 0 or takes a path as given. False when the name is
// refused ("..", NUL, absolute after "@") or too long for a path.
bool data_resolve_write_path(const char* name, char* out, size_t size);
// POSIX rename: the destination is replaced atomically, never deleted first. 1 on success.
int data_rename(const char* from, const char* to);
// "<relative name> -> <container>" of index entry n; 0 when n is out of range.
int data_describe(int n, char* buffer, size_t size);
// Creates the home folder, points the log at its "lastlog.txt", and looks for our "zzzz.saf"
// in each root. 1 when the game data was found.
int data_check();
// Creates the home folder and opens it in the desktop's file browser (xdg-open).
void open_home_folder();
void set_working_set();
// Joins two parts, turns '\\' into '/' and collapses runs of '/'; xmalloc'd; null if either is.
char* path_join(const char* a, const char* b);
// Creates every folder on a path (each prefix up to a '/'); errors are ignored.
void make_folders_for(const char* path);

// Tests only: forget the roots and the index so the environment is read again.
void data_reset_for_tests();
