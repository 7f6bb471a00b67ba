// Entry of the data generator: runs every generator, packs "zzzz.saf", writes the digests.
#include <cstdio>
#include <cstdlib>
#include <string>
#include "datagen.h"

namespace {

struct Generator {
  const char* name;
  void (*run)(GenContext* ctx);
};

// Order matters only for the archive: members are packed in the order they were added.
const Generator generators[] = {
    {"base archive", gen_base_archive},
    {"first track", gen_first_track},
    {"test tracks", gen_test_tracks},
    {"images", gen_images},
    {"bikes", gen_bike},
    {"racing lines", gen_lines},
};

}  // namespace

void gen_pack_archive(GenContext* ctx, const std::string& name);
void gen_write_digest_source(GenContext* ctx, const std::string& path);

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: kelvane_datagen <game folder> <digest source> <test data folder>\n");
    return 2;
  }
  GenContext ctx;
  ctx.out_dir = argv[1];
  if (ctx.out_dir.empty() || ctx.out_dir.back() != '/') ctx.out_dir += '/';
  ctx.test_dir = argv[3];
  if (ctx.test_dir.empty() || ctx.test_dir.back() != '/') ctx.test_dir += '/';
  for (const Generator& g : generators) g.run(&ctx);
  gen_pack_archive(&ctx, "zzzz.saf");
  gen_write_digest_source(&ctx, argv[2]);
  return 0;
}
