// Checksums of byte strings that several libraries share: the MD5 message digest (RFC 1321) and
// the CRC-32 of zip and PNG (reflected polynomial 0xEDB88320). Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// The 16-byte MD5 digest of `size` bytes.
void Md5Digest(const void* data, size_t size, uint8_t digest[16]);
// The digest as 32 lower-case hexadecimal digits and a terminating zero.
void Md5Hex(const void* data, size_t size, char hex[33]);

// CRC-32 continued from `crc` (0 to start): Crc32(Crc32(0, a), b) is the CRC of a followed by b.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

}  // namespace qv
