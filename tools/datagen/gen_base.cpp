// The base of the default data set: the members every install has in "zzzz.saf".
#include <string>

#include "datagen.h"

void gen_base_archive(GenContext* ctx) {
  std::string about =
      "Kelvane default data set.\n"
      "Every file here is generated from code by kelvane_datagen at build time.\n";
  ctx->archive.push_back({"about.txt", std::vector<uint8_t>(about.begin(), about.end())});
}

// A small flat practice field, enough for start-up to find a track.
void gen_first_track(GenContext* ctx) {
  const int n = 4;
  const int dim = (1 << n) + 1;
  std::string hf = std::to_string(n) + " 2.000000 0.000000 10.000000\n:";
  std::vector<uint8_t> bytes(hf.begin(), hf.end());
  bytes.resize(bytes.size() + static_cast<size_t>(dim * dim * 2), 0);
  gen_write_file(ctx, "firstlight/terrain.hf", bytes.data(), bytes.size());
  gen_write_text(ctx, "firstlight/desc", "First Light\n");
  std::vector<uint8_t> tiles(static_cast<size_t>(1 << (2 * n)), 0);
  gen_write_file(ctx, "firstlight/tilemap", tiles.data(), tiles.size());
}
