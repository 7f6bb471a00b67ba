// The data generator's shared context: where files go and what the game-data archive packs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ArchiveMember {
  std::string name;            // relative name inside "zzzz.saf"
  std::vector<uint8_t> bytes;
};

struct DigestConstant {
  std::string symbol;          // C++ name of the constant in the generated source
  std::string hex;             // 40 hexadecimal digits
};

struct GenContext {
  std::string out_dir;                   // build/game, ends in "/"
  std::string test_dir;                  // fixtures for the tests only, never installed; ends in "/"
  std::vector<ArchiveMember> archive;    // packed into "zzzz.saf" after every generator ran
  std::vector<DigestConstant> digests;   // written into the generated digest source
};

// Writes bytes to out_dir + name, creating folders; aborts the generator on failure.
void gen_write_file(GenContext* ctx, const std::string& name, const void* data, size_t size);
void gen_write_text(GenContext* ctx, const std::string& name, const std::string& text);
// gzip with no time stamp and no file name, so the same input gives the same bytes.
std::vector<uint8_t> gen_gzip(const void* data, size_t size);
std::string gen_digest_hex(const void* data, size_t size);

// One generator per kind of data; each appends what it makes. Listed in datagen_main.cpp.
void gen_base_archive(GenContext* ctx);
void gen_first_track(GenContext* ctx);
void gen_test_tracks(GenContext* ctx);
void gen_images(GenContext* ctx);
void gen_bike(GenContext* ctx);
void gen_lines(GenContext* ctx);  // after the tracks: reads their written files
