// RIPEMD-160 through nettle.
#include "core/digest.h"

#include <nettle/ripemd160.h>

#include <cctype>
#include <cstdio>
#include <cstring>

static_assert(sizeof(ripemd160_ctx) <= sizeof(DigestContext::state));

static ripemd160_ctx* ctx_of(DigestContext* ctx) { return reinterpret_cast<ripemd160_ctx*>(ctx->state); }

void digest_begin(DigestContext* ctx) {
  memset(ctx->state, 0, sizeof ctx->state);
  ripemd160_init(ctx_of(ctx));
}

void digest_update(DigestContext* ctx, const void* data, size_t size) {
  if (size) ripemd160_update(ctx_of(ctx), size, static_cast<const uint8_t*>(data));
}

Digest digest_end(DigestContext* ctx) {
  Digest d;
  ripemd160_digest(ctx_of(ctx), sizeof d.bytes, d.bytes);
  return d;
}

Digest digest_of(const void* data, size_t size) {
  DigestContext ctx;
  digest_begin(&ctx);
  digest_update(&ctx, data, size);
  return digest_end(&ctx);
}

void digest_hex(const Digest* d, char out[41]) {
  for (int i = 0; i < 20; ++i) snprintf(out + 2 * i, 3, "%02x", d->bytes[i]);
  out[40] = 0;
}

bool digest_matches_hex(const Digest* d, const char* hex) {
  if (!hex || strlen(hex) != 40) return false;
  char mine[41];
  digest_hex(d, mine);
  for (int i = 0; i < 40; ++i)
    if (tolower(static_cast<unsigned char>(hex[i])) != mine[i]) return false;
  return true;
}
