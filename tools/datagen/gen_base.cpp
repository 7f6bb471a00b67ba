// The base of the default data set: the members every install has in "zzzz.saf".
#include <string>

#include "datagen.h"

void gen_base_archive(GenContext* ctx) {
  std::string about =
      "Kelvane default data set.\n"
      "Every file here is generated from code by kelvane_datagen at build time.\n";
  ctx->archive.push_back({"about.txt", std::vector<uint8_t>(about.begin(), about.end())});
}

