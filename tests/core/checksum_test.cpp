// MD5 and CRC-32 against published vectors, and against Python's hashlib and zlib over inputs
// whose lengths cross the 64-byte block and its 56-byte padding edge.
#include "core/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/run_command.h"

namespace qv {
namespace {

std::string Md5(const std::string& s) {
  char hex[33];
  Md5Hex(s.data(), s.size(), hex);
  return hex;
}

TEST(Checksum, Md5MatchesRfc1321) {
  struct Case {
    const char* text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Md5(c.text), c.digest) << c.text;
}

// A digest fed in pieces equals the whole one wherever the pieces split the 64-byte blocks.
TEST(Checksum, Md5InPiecesEqualsTheWhole) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += char(i * 13 + 5);
  for (size_t size : {0, 1, 55, 56, 63, 64, 65, 128, 300}) {
    char whole[33];
    Md5Hex(data.data(), size, whole);
    for (size_t piece : {1, 3, 63, 64, 100}) {
      qvMd5 md5;
      Md5Init(&md5);
      for (size_t at = 0; at < size; at += piece) {
        Md5Update(&md5, data.data() + at, std::min(piece, size - at));
      }
      char hex[33];
      Md5FinalHex(&md5, hex);
      EXPECT_STREQ(hex, whole) << size << " in pieces of " << piece;
    }
  }
}

TEST(Checksum, Crc32MatchesTheCheckValueAndContinues) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u);
}

// Inputs byte i = (i * 7 + n) & 255 of every length n from 0 to 200: the same formula runs in
// Python, which prints one line "md5 crc" per length.
TEST(Checksum, AgreesWithPythonAcrossBlockEdges) {
  const char* script =
      "/usr/bin/python3 -c \"import hashlib, zlib\n"
      "for n in range(201):\n"
      "    b = bytes((i * 7 + n) & 255 for i in range(n))\n"
      "    print(hashlib.md5(b).hexdigest(), zlib.crc32(b))\"";
  int status = 0;
  std::istringstream lines(qvtest::RunCommand(script, &status));
  ASSERT_EQ(status, 0);
  std::string line;
  int n = 0;
  for (; std::getline(lines, line); ++n) {
    std::vector<char> data(size_t(n), 0);
    for (int i = 0; i < n; ++i) data[size_t(i)] = char((i * 7 + n) & 255);
    char hex[33];
    Md5Hex(data.data(), data.size(), hex);
    char want[33];
    unsigned long crc = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%32s %lu", want, &crc), 2);
    EXPECT_STREQ(hex, want) << "length " << n;
    EXPECT_EQ(Crc32(0, data.data(), data.size()), crc) << "length " << n;
  }
  EXPECT_EQ(n, 201);
}

}  // namespace
}  // namespace qv
