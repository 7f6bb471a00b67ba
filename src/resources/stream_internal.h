// Internals shared by the stream opener and the data index; tests include it too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct Stream;

enum StreamVariant : int { variant_plain = 0, variant_gz = 1, variant_scram = 2, variant_gz_scram = 3 };

// Opens an already positioned file as a stream of the variant; takes ownership of the file.
// limit < 0 means unlimited. Null (and the file closed) when the gzip header or descrambler fails.
Stream* stream_from_file(FILE* file, int64_t data_offset, int64_t limit, StreamVariant variant, bool writable);

// Our ".scram" layer: a keyed byte stream XORed over the data; the same call scrambles and
// descrambles. state starts at scramble_seed and is carried from one block to the next.
constexpr uint32_t scramble_seed = 0x4B56u * 2654435761u;
void scramble_bytes(uint8_t* data, size_t size, uint32_t* state);

// The index lookup used by stream_open for data names that no root holds as a loose file.
// Returns the opened stream or null.
Stream* data_index_open(const char* relative_name);
