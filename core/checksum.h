// Checksums of byte strings that several libraries share: the MD5 message digest (RFC 1321) and
// the CRC-32 of zip and PNG (reflected polynomial 0xEDB88320). Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// An MD5 digest fed in pieces: Md5Init, any number of Md5Update, then Md5Final.
struct qvMd5 {
  uint32_t state[4];
  uint64_t length;  // bytes fed so far
  uint8_t block[64];
};
void Md5Init(qvMd5* md5);
void Md5Update(qvMd5* md5, const void* data, size_t size);
void Md5Final(qvMd5* md5, uint8_t digest[16]);
// Md5Final as 32 lower-case hexadecimal digits and a terminating zero.
void Md5FinalHex(qvMd5* md5, char hex[33]);

// The 16-byte MD5 digest of `size` bytes.
void Md5Digest(const void* data, size_t size, uint8_t digest[16]);
// The digest as 32 lower-case hexadecimal digits and a terminating zero.
void Md5Hex(const void* data, size_t size, char hex[33]);

// CRC-32 continued from `crc` (0 to start): Crc32(Crc32(0, a), b) is the CRC of a followed by b.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

}  // namespace qv
