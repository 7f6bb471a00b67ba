// RIPEMD-160 digests: 20 bytes, shown as 40 lower-case hexadecimal digits.
#pragma once
#include <cstddef>
#include <cstdint>

struct Digest {
  uint8_t bytes[20];
};

struct DigestContext {
  alignas(8) unsigned char state[128];  // nettle's ripemd160_ctx lives here
};

void digest_begin(DigestContext* ctx);
void digest_update(DigestContext* ctx, const void* data, size_t size);
Digest digest_end(DigestContext* ctx);
Digest digest_of(const void* data, size_t size);
void digest_hex(const Digest* d, char out[41]);
// Case-insensitive comparison with a 40-digit text.
bool digest_matches_hex(const Digest* d, const char* hex);
