#include "core/checksum.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qv {

namespace {

// ---- MD5 ----

constexpr uint32_t kMd5Shift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), written out so that no libm rounding can change them.
constexpr uint32_t kMd5Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t RotateLeft(uint32_t x, uint32_t n) { return (x << n) | (x >> (32 - n)); }

void Md5Block(uint32_t state[4], const uint8_t* block) {
  uint32_t m[16];
  for (size_t i = 0; i < 16; ++i) {
    // Words are little-endian whatever the host is.
    m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 |
           uint32_t(block[i * 4 + 2]) << 16 | uint32_t(block[i * 4 + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    uint32_t next = d;
    d = c;
    c = b;
    b = b + RotateLeft(a + f + kMd5Sine[i] + m[g], kMd5Shift[i]);
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

// ---- CRC-32 ----

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

const std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

void Md5Init(qvMd5* md5) {
  md5->state[0] = 0x67452301;
  md5->state[1] = 0xefcdab89;
  md5->state[2] = 0x98badcfe;
  md5->state[3] = 0x10325476;
  md5->length = 0;
}

void Md5Update(qvMd5* md5, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = size_t(md5->length % 64);
  md5->length += size;
  if (used > 0) {
    size_t take = std::min(size, 64 - used);
    std::memcpy(md5->block + used, p, take);
    p += take;
    size -= take;
    if (used + take < 64) return;
    Md5Block(md5->state, md5->block);
  }
  for (; size >= 64; size -= 64, p += 64) Md5Block(md5->state, p);
  if (size > 0) std::memcpy(md5->block, p, size);
}

void Md5Final(qvMd5* md5, uint8_t digest[16]) {
  size_t left = size_t(md5->length % 64);
  // The tail, the 0x80 marker, zeros and the bit length fill one or two last blocks.
  uint8_t tail[128] = {};
  std::memcpy(tail, md5->block, left);
  tail[left] = 0x80;
  size_t tailSize = left < 56 ? 64 : 128;
  uint64_t bits = md5->length * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 8 + i] = uint8_t(bits >> (8 * i));
  Md5Block(md5->state, tail);
  if (tailSize == 128) Md5Block(md5->state, tail + 64);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(md5->state[i] >> (8 * j));
  }
}

void Md5FinalHex(qvMd5* md5, char hex[33]) {
  static const char kDigits[] = "0123456789abcdef";
  uint8_t digest[16];
  Md5Final(md5, digest);
  for (size_t i = 0; i < 16; ++i) {
    hex[i * 2] = kDigits[digest[i] >> 4];
    hex[i * 2 + 1] = kDigits[digest[i] & 15];
  }
  hex[32] = '\0';
}

void Md5Digest(const void* data, size_t size, uint8_t digest[16]) {
  uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t left = size;
  for (; left >= 64; left -= 64, p += 64) Md5Block(state, p);
  // The tail, the 0x80 marker, zeros and the bit length fill one or two last blocks.
  uint8_t tail[128] = {};
  if (left > 0) std::memcpy(tail, p, left);
  tail[left] = 0x80;
  size_t tailSize = left < 56 ? 64 : 128;
  uint64_t bits = uint64_t(size) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 8 + i] = uint8_t(bits >> (8 * i));
  Md5Block(state, tail);
  if (tailSize == 128) Md5Block(state, tail + 64);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(state[i] >> (8 * j));
  }
}

void Md5Hex(const void* data, size_t size, char hex[33]) {
  static const char kDigits[] = "0123456789abcdef";
  uint8_t digest[16];
  Md5Digest(data, size, digest);
  for (size_t i = 0; i < 16; ++i) {
    hex[i * 2] = kDigits[digest[i] >> 4];
    hex[i * 2 + 1] = kDigits[digest[i] & 15];
  }
  hex[32] = '\0';
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace qv
