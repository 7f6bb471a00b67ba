// The digest check over the seven fixed collision shape files that every bike uses.
#include <cstdlib>

#include "bike/shape.h"
#include "core/digest.h"
#include "resources/stream.h"

bool shape_files_ok = false;

Digest shape_files_digest() {
  static const char* const files[] = {"@generic_frame.shp", "@generic_fork_upper.shp",
                                      "@generic_fork_lower.shp", "@generic_swingarm.shp",
                                      "@front_wheel.shp", "@rear_wheel.shp", "@generic_rider.shp"};
  DigestContext ctx;
  digest_begin(&ctx);
  for (const char* name : files) {
    size_t size = 0;
    uint8_t* bytes = stream_read_all(name, &size);
    if (!bytes) continue;  // a file that cannot be opened adds nothing
    digest_update(&ctx, bytes, size);
    free(bytes);
  }
  return digest_end(&ctx);
}

void shape_files_check() {
  // The reference is the digest of our own generated shape files, written by the build.
  const Digest d = shape_files_digest();
  shape_files_ok = digest_matches_hex(&d, kv_fixed_shapes_digest);
}
