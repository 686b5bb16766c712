#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/compress.h"

using namespace qv;
namespace fs = std::filesystem;

// 50 MB through both directions: constant memory, and every byte comes back.
TEST(CompressSlow, FiftyMegabytesRoundTrip) {
  std::random_device rd;
  fs::path dir = fs::temp_directory_path() / ("qv_pack50_" + std::to_string(rd()));
  fs::create_directories(dir);
  std::string src = (dir / "src").string(), packed = (dir / "packed").string(),
              back = (dir / "back").string();
  constexpr size_t kSize = 50u << 20;
  std::mt19937 gen(7);
  std::vector<char> block(1 << 20);
  {
    std::FILE* f = std::fopen(src.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (size_t done = 0; done < kSize; done += block.size()) {
      // Half noise, half runs: something for deflate to do in both kinds of data.
      for (size_t i = 0; i < block.size(); ++i) {
        block[i] = i < block.size() / 2 ? char(gen()) : char((done >> 20) + i / 4096);
      }
      ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
    }
    std::fclose(f);
  }
  uint32_t packedSize = 0, size = 0;
  ASSERT_EQ(CompressFile(src.c_str(), packed.c_str(), &packedSize), 0);
  EXPECT_EQ(packedSize, fs::file_size(packed));
  EXPECT_LT(packedSize, kSize);
  ASSERT_EQ(DecompressFile(packed.c_str(), back.c_str(), &size), 0);
  EXPECT_EQ(size, kSize);
  ASSERT_EQ(fs::file_size(back), kSize);

  std::FILE* a = std::fopen(src.c_str(), "rb");
  std::FILE* b = std::fopen(back.c_str(), "rb");
  std::vector<char> other(block.size());
  bool same = true;
  for (size_t done = 0; done < kSize && same; done += block.size()) {
    same = std::fread(block.data(), 1, block.size(), a) == block.size() &&
           std::fread(other.data(), 1, other.size(), b) == other.size() && block == other;
  }
  std::fclose(a);
  std::fclose(b);
  EXPECT_TRUE(same);
  fs::remove_all(dir);
}
