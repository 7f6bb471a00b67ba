// Streams: bounded reads over loose files and archive members, gzip inflation with trailer
// checks, the scramble layer, and the text scanners of every loader.
#include "resources/stream.h"

#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "resources/data.h"
#include "resources/stream_internal.h"

namespace {

constexpr size_t inflate_in_size = 16 * 1024;
constexpr size_t inflate_out_size = 1024;

}  // namespace

struct Stream {
  FILE* file;
  int64_t data_offset;
  int64_t limit;      // bytes of the underlying data; -1 unlimited
  int64_t raw_taken;  // bytes taken from the underlying data
  int64_t position;   // bytes handed to the caller
  int pushback;
  bool compressed;
  bool enciphered;
  bool writable;
  bool error;
  uint32_t scramble_state;
  // gzip
  uint8_t* in_buf;
  z_stream z;
  bool z_open;
  uint8_t out_buf[inflate_out_size];
  size_t out_pos, out_end;
  bool end_of_data;
  uint32_t crc;
  uint32_t total_out;
};

void scramble_bytes(uint8_t* data, size_t size, uint32_t* state) {
  uint32_t s = *state;
  for (size_t i = 0; i < size; ++i) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    data[i] ^= static_cast<uint8_t>(s >> 24);
  }
  *state = s;
}

namespace {

// Bytes of the underlying file (descrambled), never past the length limit.
size_t source_read(Stream* s, uint8_t* buf, size_t count) {
  if (s->limit >= 0) {
    int64_t left = s->limit - s->raw_taken;
    if (left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);
  }
  size_t got = fread(buf, 1, count, s->file);
  s->raw_taken += static_cast<int64_t>(got);
  if (s->enciphered) scramble_bytes(buf, got, &s->scramble_state);
  return got;
}

// Bytes of the input buffer not yet given to zlib, then more from the source.
size_t gz_take(Stream* s, uint8_t* dst, size_t count) {
  size_t n = 0;
  while (n < count) {
    if (s->z.avail_in == 0) {
      size_t got = source_read(s, s->in_buf, inflate_in_size);
      if (got == 0) break;
      s->z.next_in = s->in_buf;
      s->z.avail_in = static_cast<uInt>(got);
    }
    size_t k = count - n;
    if (k > s->z.avail_in) k = s->z.avail_in;
    memcpy(dst + n, s->z.next_in, k);
    s->z.next_in += k;
    s->z.avail_in -= static_cast<uInt>(k);
    n += k;
  }
  return n;
}

bool gz_skip(Stream* s, size_t count) {
  uint8_t tmp[256];
  while (count) {
    size_t k = count < sizeof tmp ? count : sizeof tmp;
    if (gz_take(s, tmp, k) != k) return false;
    count -= k;
  }
  return true;
}

bool gz_skip_string(Stream* s) {
  uint8_t c;
  do {
    if (gz_take(s, &c, 1) != 1) return false;
  } while (c != 0);
  return true;
}

bool gz_read_header(Stream* s) {
  s->in_buf = static_cast<uint8_t*>(xmalloc(inflate_in_size));
  s->z = z_stream{};
  s->z.next_in = s->in_buf;
  s->z.avail_in = 0;
  uint8_t h[10];
  if (gz_take(s, h, 10) != 10) return false;
  if (h[0] != 0x1F || h[1] != 0x8B || h[2] != 8) return false;
  uint8_t flags = h[3];
  if (flags >= 32) return false;
  if (flags & 4) {
    uint8_t len[2];
    if (gz_take(s, len, 2) != 2) return false;
    if (!gz_skip(s, static_cast<size_t>(len[0] | (len[1] << 8)))) return false;
  }
  if ((flags & 8) && !gz_skip_string(s)) return false;
  if ((flags & 16) && !gz_skip_string(s)) return false;
  if ((flags & 2) && !gz_skip(s, 2)) return false;
  // zlib must see the remaining input; keep next_in/avail_in as gz_take left them.
  uInt avail = s->z.avail_in;
  Bytef* next = s->z.next_in;
  if (inflateInit2(&s->z, -15) != Z_OK) return false;
  s->z.next_in = next;
  s->z.avail_in = avail;
  s->z_open = true;
  s->crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  return true;
}

// The trailer must agree with what was inflated; otherwise the data is damaged.
void gz_check_trailer(Stream* s) {
  uint8_t t[8];
  if (gz_take(s, t, 8) != 8) {
    s->error = true;
    return;
  }
  uint32_t crc = static_cast<uint32_t>(t[0] | (t[1] << 8) | (t[2] << 16)) | (static_cast<uint32_t>(t[3]) << 24);
  uint32_t isize = static_cast<uint32_t>(t[4] | (t[5] << 8) | (t[6] << 16)) | (static_cast<uint32_t>(t[7]) << 24);
  if (crc != s->crc || isize != s->total_out) s->error = true;
}

// Refills the 1 KiB output buffer; false at the end of the data (or at damage).
bool gz_fill(Stream* s) {
  if (s->end_of_data) return false;
  s->out_pos = 0;
  s->out_end = 0;
  while (s->out_end == 0) {
    if (s->z.avail_in == 0) {
      size_t got = source_read(s, s->in_buf, inflate_in_size);
      s->z.next_in = s->in_buf;
      s->z.avail_in = static_cast<uInt>(got);
      if (got == 0) {
        // The deflate data stopped before its end: a truncated file.
        s->error = true;
        s->end_of_data = true;
        return false;
      }
    }
    s->z.next_out = s->out_buf;
    s->z.avail_out = sizeof s->out_buf;
    int r = inflate(&s->z, Z_NO_FLUSH);
    s->out_end = sizeof s->out_buf - s->z.avail_out;
    s->crc = static_cast<uint32_t>(crc32(s->crc, s->out_buf, static_cast<uInt>(s->out_end)));
    s->total_out += static_cast<uint32_t>(s->out_end);
    if (r == Z_STREAM_END) {
      s->end_of_data = true;
      gz_check_trailer(s);
      break;
    }
    if (r != Z_OK && r != Z_BUF_ERROR) {
      s->error = true;
      s->end_of_data = true;
      break;
    }
  }
  return s->out_end > 0;
}

int raw_getc(Stream* s) {
  if (s->compressed) {
    if (s->out_pos >= s->out_end && !gz_fill(s)) return -1;
    return s->out_buf[s->out_pos++];
  }
  uint8_t c;
  if (s->enciphered) return source_read(s, &c, 1) == 1 ? c : -1;
  if (s->limit >= 0 && s->raw_taken >= s->limit) return -1;
  int r = fgetc(s->file);
  if (r == EOF) return -1;
  s->raw_taken++;
  return r;
}

}  // namespace

Stream* stream_from_file(FILE* file, int64_t data_offset, int64_t limit, StreamVariant variant, bool writable) {
  Stream* s = static_cast<Stream*>(xcalloc(1, sizeof(Stream)));
  s->file = file;
  s->data_offset = data_offset;
  s->limit = limit;
  s->pushback = -1;
  s->writable = writable;
  s->compressed = variant == variant_gz || variant == variant_gz_scram;
  s->enciphered = variant == variant_scram || variant == variant_gz_scram;
  s->scramble_state = scramble_seed;
  if (s->compressed && !gz_read_header(s)) {
    stream_close(s);
    return nullptr;
  }
  return s;
}

void stream_close(Stream* s) {
  if (!s) return;
  if (s->z_open) inflateEnd(&s->z);
  free(s->in_buf);
  if (s->file) fclose(s->file);
  free(s);
}

namespace {

bool is_write_mode(const char* mode) { return !strchr(mode, 'r') || strchr(mode, '+'); }

const char* const variant_suffix[] = {"", ".gz", ".scram", ".gz.scram"};

Stream* open_path(const char* path, const char* mode) {
  bool writing = is_write_mode(mode);
  if (writing && strlen(path) < 1024) make_folders_for(path);
  FILE* f = fopen(path, mode);
  if (f) return stream_from_file(f, 0, -1, variant_plain, writing);
  if (writing) return nullptr;
  std::string base = path;
  for (int v = 1; v < 4; ++v) {
    std::string name = base + variant_suffix[v];
    if (name.size() >= 1024) continue;
    f = fopen(name.c_str(), mode);
    if (!f) continue;
    return stream_from_file(f, 0, -1, static_cast<StreamVariant>(v), false);
  }
  return nullptr;
}

// Refuses names that would leave the data roots.
bool data_name_ok(const char* name) {
  if (name[0] == '/' || name[0] == '\\') return false;
  const char* p = name;
  while (*p) {
    const char* end = p;
    while (*end && *end != '/' && *end != '\\') ++end;
    if (end - p == 2 && p[0] == '.' && p[1] == '.') return false;
    p = *end ? end + 1 : end;
  }
  return true;
}

}  // namespace

Stream* stream_open(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  if (name[0] != '@') return open_path(name, mode);
  const char* rel = name + 1;
  if (!data_name_ok(rel)) return nullptr;
  bool writing = is_write_mode(mode);
  for (int r = 0; data_root(r); ++r) {
    // Data names are written only to root 0, the home folder.
    if (writing && r > 0) break;
    std::string path = std::string(data_root(r)) + rel;
    if (path.size() >= 1024) return nullptr;  // never truncated onto another name
    Stream* s = open_path(path.c_str(), mode);
    if (s) return s;
  }
  if (writing) return nullptr;
  return data_index_open(rel);
}

int stream_getc(Stream* s) {
  if (s->pushback >= 0) {
    int c = s->pushback;
    s->pushback = -1;
    s->position++;
    return c;
  }
  int c = raw_getc(s);
  if (c >= 0) s->position++;
  return c;
}

int stream_peekc(Stream* s) {
  if (s->pushback >= 0) return s->pushback;
  int c = raw_getc(s);
  s->pushback = c;
  return c;
}

namespace {
// Gives a consumed byte back (the scanner's one byte of look-ahead).
void stream_unget(Stream* s, int c) {
  if (c < 0) return;
  s->pushback = c;
  s->position--;
}
}  // namespace

char* stream_gets(Stream* s, char* buffer, int size) {
  if (size <= 0) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = stream_getc(s);
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = 0;
  return n ? buffer : nullptr;
}

size_t stream_read(Stream* s, void* buffer, size_t count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t n = 0;
  if (count && s->pushback >= 0) {
    out[n++] = static_cast<uint8_t>(s->pushback);
    s->pushback = -1;
  }
  if (s->compressed) {
    while (n < count) {
      if (s->out_pos >= s->out_end && !gz_fill(s)) break;
      size_t k = s->out_end - s->out_pos;
      if (k > count - n) k = count - n;
      memcpy(out + n, s->out_buf + s->out_pos, k);
      s->out_pos += k;
      n += k;
    }
  } else if (n < count) {
    n += source_read(s, out + n, count - n);
  }
  s->position += static_cast<int64_t>(n);
  return n;
}

int stream_seek(Stream* s, int64_t offset) {
  if (s->compressed || s->enciphered || offset < 0) return 0;
  if (s->limit >= 0 && offset >= s->limit) return 0;
  if (fseeko(s->file, static_cast<off_t>(s->data_offset + offset), SEEK_SET) != 0) return 0;
  s->raw_taken = offset;
  s->position = offset;
  s->pushback = -1;
  return 1;
}

int64_t stream_tell(const Stream* s) { return s->position; }

bool stream_error(const Stream* s) { return s->error; }

bool stream_putc(Stream* s, int c) {
  if (!s->writable) return false;
  return fputc(c, s->file) != EOF;
}

bool stream_puts(Stream* s, const char* text) {
  if (!s->writable) return false;
  return fputs(text, s->file) >= 0;
}

size_t stream_write(Stream* s, const void* data, size_t count) {
  if (!s->writable) return 0;
  return fwrite(data, 1, count, s->file);
}

int stream_printf(Stream* s, const char* format, ...) {
  if (!s->writable) return -1;
  va_list args;
  va_start(args, format);
  int r = vfprintf(s->file, format, args);
  va_end(args);
  return r;
}

bool stream_flush(Stream* s) {
  if (!s->writable) return false;
  return fflush(s->file) == 0 && !ferror(s->file);
}

uint8_t* stream_read_all(const char* name, size_t* size_out) {
  Stream* s = stream_open(name, "rb");
  if (!s) return nullptr;
  size_t cap = 4096, n = 0;
  uint8_t* buf = static_cast<uint8_t*>(xmalloc(cap + 1));
  for (;;) {
    if (n == cap) {
      cap *= 2;
      buf = static_cast<uint8_t*>(xrealloc(buf, cap + 1));
    }
    size_t got = stream_read(s, buf + n, cap - n);
    if (got == 0) break;
    n += got;
  }
  bool bad = stream_error(s);
  stream_close(s);
  if (bad) {
    free(buf);
    return nullptr;
  }
  buf[n] = 0;
  if (size_out) *size_out = n;
  return buf;
}

// ---- formatted reading ----

namespace {

struct Scan {
  Stream* s;
  int64_t start;  // position at the call's start, for %n
};

void skip_space(Scan* sc) {
  for (;;) {
    int c = stream_getc(sc->s);
    if (c < 0) return;
    if (!isspace(c)) {
      stream_unget(sc->s, c);
      return;
    }
  }
}

int digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Collects an integer's text (width-limited) following the C grammar for the base (0 = %i).
// Returns false when no digit was found.
bool collect_integer(Scan* sc, int width, int base, std::string* text, int* base_out) {
  int left = width > 0 ? width : INT_MAX;
  int c = stream_getc(sc->s);
  if (left > 0 && (c == '+' || c == '-')) {
    text->push_back(static_cast<char>(c));
    --left;
    c = stream_getc(sc->s);
  }
  bool any = false;
  if (left > 0 && c == '0' && (base == 0 || base == 16)) {
    text->push_back('0');
    any = true;
    --left;
    c = stream_getc(sc->s);
    if (left > 0 && (c == 'x' || c == 'X')) {
      base = 16;
      text->push_back(static_cast<char>(c));
      --left;
      any = false;  // "0x" needs a hex digit to follow; the "0" alone still counts below
      c = stream_getc(sc->s);
      if (left > 0 && digit_value(c) < 16) {
        // fall through to the digit loop
      } else {
        // glibc takes "0x" as the number 0
        stream_unget(sc->s, c);
        *base_out = 16;
        text->assign(text->substr(0, text->size() - 1));
        return true;
      }
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (left > 0 && c >= 0 && digit_value(c) < base) {
    text->push_back(static_cast<char>(c));
    any = true;
    --left;
    c = stream_getc(sc->s);
  }
  stream_unget(sc->s, c);
  *base_out = base;
  return any;
}

bool match_word_ci(Scan* sc, const char* word, int* left, std::string* text) {
  for (const char* w = word; *w; ++w) {
    if (*left <= 0) return false;
    int c = stream_getc(sc->s);
    if (c < 0 || tolower(c) != *w) {
      stream_unget(sc->s, c);
      return false;
    }
    text->push_back(static_cast<char>(c));
    --*left;
  }
  return true;
}

bool collect_float(Scan* sc, int width, std::string* text) {
  int left = width > 0 ? width : INT_MAX;
  int c = stream_peekc(sc->s);
  if (left > 0 && (c == '+' || c == '-')) {
    text->push_back(static_cast<char>(stream_getc(sc->s)));
    --left;
    c = stream_peekc(sc->s);
  }
  if (c == 'i' || c == 'I') {
    if (!match_word_ci(sc, "inf", &left, text)) return false;
    std::string rest;
    int save_left = left;
    if (match_word_ci(sc, "inity", &left, &rest)) text->append(rest);
    else left = save_left;
    return true;
  }
  if (c == 'n' || c == 'N') return match_word_ci(sc, "nan", &left, text);
  bool digits = false;
  bool hex = false;
  auto take = [&]() {
    text->push_back(static_cast<char>(stream_getc(sc->s)));
    --left;
    c = stream_peekc(sc->s);
  };
  if (left > 0 && c == '0') {
    take();
    digits = true;
    if (left > 0 && (c == 'x' || c == 'X')) {
      hex = true;
      take();
      digits = false;
    }
  }
  int base = hex ? 16 : 10;
  while (left > 0 && c >= 0 && digit_value(c) < base) { take(); digits = true; }
  if (left > 0 && c == '.') {
    take();
    while (left > 0 && c >= 0 && digit_value(c) < base) { take(); digits = true; }
  }
  if (!digits) return false;
  int e1 = hex ? 'p' : 'e';
  if (left > 0 && c >= 0 && tolower(c) == e1) {
    take();
    if (left > 0 && (c == '+' || c == '-')) take();
    while (left > 0 && c >= '0' && c <= '9') take();
  }
  return true;
}

enum Size { size_default, size_hh, size_h, size_l, size_ll, size_L };

void store_int(va_list* ap, Size size, bool is_unsigned, long long value) {
  (void)is_unsigned;
  switch (size) {
    case size_hh: *va_arg(*ap, signed char*) = static_cast<signed char>(value); break;
    case size_h: *va_arg(*ap, short*) = static_cast<short>(value); break;
    case size_l: *va_arg(*ap, long*) = static_cast<long>(value); break;
    case size_ll:
    case size_L: *va_arg(*ap, long long*) = value; break;
    default: *va_arg(*ap, int*) = static_cast<int>(value); break;
  }
}

// Parses a scanset after "[": fills member[256]; returns the format position after "]".
const char* parse_set(const char* f, bool member[256]) {
  bool negate = false;
  if (*f == '^') {
    negate = true;
    ++f;
  }
  bool set[256] = {};
  if (*f == ']') {
    set[static_cast<unsigned char>(']')] = true;
    ++f;
  }
  while (*f && *f != ']') {
    unsigned char a = static_cast<unsigned char>(*f);
    if (f[1] == '-' && f[2] && f[2] != ']' && static_cast<unsigned char>(f[2]) >= a) {
      for (int c = a; c <= static_cast<unsigned char>(f[2]); ++c) set[c] = true;
      f += 3;
    } else {
      set[a] = true;
      ++f;
    }
  }
  for (int c = 0; c < 256; ++c) member[c] = negate ? !set[c] : set[c];
  return *f == ']' ? f + 1 : f;
}

// Takes bytes of the set (at most width, 0 = no limit) into out (when not null); their count.
int take_set(Stream* s, const bool member[256], int width, char* out) {
  int left = width > 0 ? width : INT_MAX;
  int n = 0;
  int c;
  while (left > 0 && (c = stream_getc(s)) >= 0) {
    if (!member[c]) {
      stream_unget(s, c);
      break;
    }
    if (out) out[n] = static_cast<char>(c);
    ++n;
    --left;
  }
  return n;
}

int scan_v(Stream* s, const char* f, va_list ap_in) {
  va_list ap;
  va_copy(ap, ap_in);
  Scan sc{s, stream_tell(s)};
  int assigned = 0;
  int result;
  auto done = [&](bool literal_failure) {
    if (literal_failure) return -1;
    return assigned ? assigned : -1;
  };
  while (*f) {
    unsigned char fc = static_cast<unsigned char>(*f);
    if (isspace(fc)) {
      skip_space(&sc);
      while (isspace(static_cast<unsigned char>(*f))) ++f;
      continue;
    }
    if (fc != '%' || f[1] == '%') {
      if (fc == '%') {
        ++f;
        skip_space(&sc);
      }
      int c = stream_getc(s);
      if (c != static_cast<unsigned char>(*f)) {
        stream_unget(s, c);
        result = done(true);
        va_end(ap);
        return result;
      }
      ++f;
      continue;
    }
    ++f;  // past '%'
    bool suppress = false;
    if (*f == '*') {
      suppress = true;
      ++f;
    }
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    Size size = size_default;
    if (f[0] == 'h' && f[1] == 'h') { size = size_hh; f += 2; }
    else if (*f == 'h') { size = size_h; ++f; }
    else if (f[0] == 'l' && f[1] == 'l') { size = size_ll; f += 2; }
    else if (*f == 'l') { size = size_l; ++f; }
    else if (*f == 'L' || *f == 'q') { size = size_L; ++f; }
    char conv = *f;
    if (!conv) break;
    ++f;
    switch (conv) {
      case 'd': case 'i': case 'o': case 'x': case 'X': case 'u': {
        skip_space(&sc);
        int base = conv == 'd' || conv == 'u' ? 10 : conv == 'i' ? 0 : conv == 'o' ? 8 : 16;
        std::string text;
        int used_base = base;
        if (!collect_integer(&sc, width, base, &text, &used_base)) {
          result = done(false);
          va_end(ap);
          return result;
        }
        if (!suppress) {
          errno = 0;
          long long v;
          if (conv == 'u' || conv == 'o' || conv == 'x' || conv == 'X')
            v = static_cast<long long>(strtoull(text.c_str(), nullptr, used_base));
          else
            v = strtoll(text.c_str(), nullptr, used_base);
          store_int(&ap, size, conv != 'd' && conv != 'i', v);
          ++assigned;
        }
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
        skip_space(&sc);
        std::string text;
        if (!collect_float(&sc, width, &text)) {
          result = done(false);
          va_end(ap);
          return result;
        }
        if (!suppress) {
          if (size == size_L) *va_arg(ap, long double*) = strtold(text.c_str(), nullptr);
          else if (size == size_l) *va_arg(ap, double*) = strtod(text.c_str(), nullptr);
          else *va_arg(ap, float*) = strtof(text.c_str(), nullptr);
          ++assigned;
        }
        break;
      }
      case 's':
      case '[': {
        // "%s" is the set of every byte but white space, after skipping white space.
        bool member[256];
        if (conv == 's') {
          skip_space(&sc);
          for (int c = 0; c < 256; ++c) member[c] = !isspace(c);
        } else {
          f = parse_set(f, member);
        }
        char* out = suppress ? nullptr : va_arg(ap, char*);
        int n = take_set(s, member, width, out);
        if (n == 0) {
          result = done(false);
          va_end(ap);
          return result;
        }
        if (out) {
          out[n] = 0;
          ++assigned;
        }
        break;
      }
      case 'c': {
        int count = width > 0 ? width : 1;
        char* out = suppress ? nullptr : va_arg(ap, char*);
        int n = 0;
        for (; n < count; ++n) {
          int c = stream_getc(s);
          if (c < 0) break;
          if (out) out[n] = static_cast<char>(c);
        }
        if (n < count) {
          result = done(false);
          va_end(ap);
          return result;
        }
        if (out) ++assigned;
        break;
      }
      case 'n': {
        if (!suppress) store_int(&ap, size, false, stream_tell(s) - sc.start);
        break;
      }
      default:
        // An unknown conversion ends the scan.
        result = done(false);
        va_end(ap);
        return result;
    }
  }
  va_end(ap);
  return assigned ? assigned : -1;
}

}  // namespace

int stream_scanf(Stream* s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = scan_v(s, format, args);
  va_end(args);
  return r;
}

int stream_read_int(Stream* s) {
  int v;
  if (stream_scanf(s, "%d", &v) == 1) return v;
  return INT32_MIN;
}

void stream_skip_comments(Stream* s) {
  // White space, then whole lines starting with '#'. An empty comment line ("#" alone) is
  // skipped too, so one blank comment cannot stop the skipping early.
  for (;;) {
    int c = stream_getc(s);
    while (c >= 0 && isspace(c)) c = stream_getc(s);
    if (c != '#') {
      stream_unget(s, c);
      return;
    }
    while (c >= 0 && c != '\n') c = stream_getc(s);
    if (c < 0) return;
  }
}
