// File writing, deterministic gzip, the archive packer and the digest source of the generator.
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/digest.h"
#include "datagen.h"

namespace {

[[noreturn]] void die(const std::string& what) {
  fprintf(stderr, "kelvane_datagen: %s\n", what.c_str());
  exit(1);
}

void make_parent_folders(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void put_le32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

void gen_write_file(GenContext* ctx, const std::string& name, const void* data, size_t size) {
  std::string path = ctx->out_dir + name;
  make_parent_folders(path);
  // Write beside and rename, so an interrupted build never leaves a half-written data file.
  std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (!f) die("can't create " + tmp);
  if (size && fwrite(data, 1, size, f) != size) die("can't write " + tmp);
  if (fclose(f) != 0) die("can't write " + tmp);
  if (rename(tmp.c_str(), path.c_str()) != 0) die("can't rename " + tmp);
}

void gen_write_text(GenContext* ctx, const std::string& name, const std::string& text) {
  gen_write_file(ctx, name, text.data(), text.size());
}

std::vector<uint8_t> gen_gzip(const void* data, size_t size) {
  // Header: magic, deflate, no flags, time stamp 0, no extra flags, OS "unknown".
  std::vector<uint8_t> out = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 255};
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) die("deflateInit2");
  z.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
  z.avail_in = static_cast<uInt>(size);
  uint8_t buf[16384];
  int r;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = deflate(&z, Z_FINISH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  } while (r == Z_OK || r == Z_BUF_ERROR);
  if (r != Z_STREAM_END) die("deflate");
  deflateEnd(&z);
  put_le32(&out, static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(size))));
  put_le32(&out, static_cast<uint32_t>(size));
  return out;
}

std::string gen_digest_hex(const void* data, size_t size) {
  Digest d = digest_of(data, size);
  char hex[41];
  digest_hex(&d, hex);
  return hex;
}

void gen_pack_archive(GenContext* ctx, const std::string& name) {
  std::string header;
  for (const ArchiveMember& m : ctx->archive) header += std::to_string(m.bytes.size()) + " " + m.name + "\n";
  header += "-\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (const ArchiveMember& m : ctx->archive) bytes.insert(bytes.end(), m.bytes.begin(), m.bytes.end());
  gen_write_file(ctx, name, bytes.data(), bytes.size());
  // The game checks the first 1 MiB of the archive.
  size_t checked = bytes.size() < 1048576 ? bytes.size() : 1048576;
  ctx->digests.push_back({"kv_game_data_digest", gen_digest_hex(bytes.data(), checked)});
}

void gen_write_digest_source(GenContext* ctx, const std::string& path) {
  std::string src = "// Digests of the generated default data set, written by the data generator.\n";
  for (const DigestConstant& d : ctx->digests) {
    src += "extern const char* const " + d.symbol + ";\n";
    src += "const char* const " + d.symbol + " = \"" + d.hex + "\";\n";
  }
  // Only replace the source when it changed, so the game is not relinked for nothing.
  FILE* f = fopen(path.c_str(), "rb");
  if (f) {
    std::string old;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) old.append(buf, n);
    fclose(f);
    if (old == src) return;
  }
  make_parent_folders(path);
  std::string tmp = path + ".tmp";
  f = fopen(tmp.c_str(), "wb");
  if (!f || fwrite(src.data(), 1, src.size(), f) != src.size() || fclose(f) != 0) die("can't write " + path);
  if (rename(tmp.c_str(), path.c_str()) != 0) die("can't rename " + tmp);
}
