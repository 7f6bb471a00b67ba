// File streams over loose files, archive members, gzip and scrambled variants, with the text
// scanners every loader uses. Names starting with "@" are data names looked up in the roots.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct Stream;  // owned by whoever opened it; freed by stream_close

// mode is an fopen mode; "rb" and "wb" are the ones the program uses. Null when nothing opens.
Stream* stream_open(const char* name, const char* mode);
void stream_close(Stream* s);

int stream_getc(Stream* s);   // 0..255, or -1 at the end
int stream_peekc(Stream* s);  // the next byte without consuming it, or -1
// Up to size-1 bytes, stops after a kept line feed, adds a zero byte; null when nothing was read.
char* stream_gets(Stream* s, char* buffer, int size);
size_t stream_read(Stream* s, void* buffer, size_t count);
// Plain streams only: offset from the data start; 0 for compressed/scrambled or past the end.
int stream_seek(Stream* s, int64_t offset);
int64_t stream_tell(const Stream* s);  // bytes handed to the caller so far
// Set when a compressed stream turned out damaged or truncated (bad deflate data, CRC or size).
bool stream_error(const Stream* s);

// scanf over the stream. Differs from the C library: -1 whenever a literal of the format does
// not match or the input ends at a literal, even after assignments.
int stream_scanf(Stream* s, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int stream_read_int(Stream* s);       // one "%d", or INT32_MIN when none was read
void stream_skip_comments(Stream* s); // white space and lines starting with '#'

// Writing, plain streams only.
bool stream_putc(Stream* s, int c);
bool stream_puts(Stream* s, const char* text);
size_t stream_write(Stream* s, const void* data, size_t count);
int stream_printf(Stream* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool stream_flush(Stream* s);

// Whole file into memory (xmalloc'd, with a zero byte after the data); null when it won't open.
// Meant for small files (headers, tables); big data stays streamed.
uint8_t* stream_read_all(const char* name, size_t* size_out);
