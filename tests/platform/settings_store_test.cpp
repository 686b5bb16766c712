// The settings store (the scripts' registry): typed values that survive in files per root, the
// text form and its escapes, the size limit, and files that are not a store left alone.
#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/errors.h"

namespace qv {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_store_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = getenv("XDG_CONFIG_HOME");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::remove_all(dir_);
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static qvStoreValue Dword(uint32_t n, StoreType type = StoreType::kDword) {
    qvStoreValue v;
    v.type = type;
    v.number = n;
    return v;
  }

  std::string dir_, saved_;
  bool hadOld_ = false;
};

TEST_F(SettingsStoreTest, ValuesOfEveryTypeComeBackUnderKeysWithoutRegardToCase) {
  const char text[] = "line one\nwith = and [brackets] \\ and a \x01";
  ASSERT_EQ(WriteStoreValue(4, "Software\\Quillvane\\Demo", "Count", Dword(42)), 0);
  ASSERT_EQ(WriteStoreValue(4, "Software/Quillvane/Demo/", "Order",
                            Dword(42, StoreType::kDwordBigEndian)),
            0);
  ASSERT_EQ(
      WriteStoreValue(4, "software//quillvane/demo", "Title", StoreBytesValue(text, sizeof text)),
      0);
  const char blob[] = {'a', '\0', 'b'};
  ASSERT_EQ(WriteStoreValue(4, "Software/Quillvane/Demo", "Key=[x]", StoreBytesValue(blob, 3)), 0);

  qvStoreValue v;
  ASSERT_EQ(ReadStoreValue(4, "SOFTWARE/QUILLVANE/DEMO", "count", &v), 0);
  EXPECT_EQ(v.type, StoreType::kDword);
  EXPECT_EQ(v.number, 42u);
  // A number kept big-endian reads as the same number as its little-endian twin.
  ASSERT_EQ(ReadStoreValue(4, "Software\\Quillvane\\Demo", "Order", &v), 0);
  EXPECT_EQ(v.type, StoreType::kDwordBigEndian);
  EXPECT_EQ(v.number, 42u);
  ASSERT_EQ(ReadStoreValue(4, "Software/Quillvane/Demo", "Title", &v), 0);
  EXPECT_EQ(v.type, StoreType::kText);
  EXPECT_EQ(v.bytes, std::string(text, sizeof text));
  ASSERT_EQ(ReadStoreValue(4, "Software/Quillvane/Demo", "key=[X]", &v), 0);
  EXPECT_EQ(v.type, StoreType::kBinary);
  EXPECT_EQ(v.bytes, std::string(blob, 3));

  // Replacing keeps one value of the name.
  ASSERT_EQ(WriteStoreValue(4, "Software/Quillvane/Demo", "COUNT", Dword(7)), 0);
  ASSERT_EQ(ReadStoreValue(4, "Software/Quillvane/Demo", "Count", &v), 0);
  EXPECT_EQ(v.number, 7u);
  EXPECT_EQ(Slurp(StoreFilePath(4)),
            "[Software/Quillvane/Demo]\n"
            "Count=dword:00000007\n"
            "Order=dword_be:0000002a\n"
            "Title=text:line one\\nwith \\= and \\[brackets\\] \\\\ and a \\x01\n"
            "Key\\=\\[x\\]=binary:610062\n");

  EXPECT_EQ(ReadStoreValue(4, "Software/Quillvane", "Count", &v), ERR_REGISTRYREAD);
  EXPECT_EQ(ReadStoreValue(4, "Software/Quillvane/Demo", "Missing", &v), ERR_REGISTRYREAD);
}

TEST_F(SettingsStoreTest, TextsAreTextOnlyWithTheirZeroByteCounted) {
  EXPECT_EQ(StoreBytesValue("abc", 4).type, StoreType::kText);
  EXPECT_EQ(StoreBytesValue("abc", 3).type, StoreType::kBinary);
  EXPECT_EQ(StoreBytesValue("ab\0c", 5).type, StoreType::kBinary);
  EXPECT_EQ(StoreBytesValue("", 1).type, StoreType::kText);
}

TEST_F(SettingsStoreTest, RootsAreSeparateFiles) {
  ASSERT_EQ(WriteStoreValue(2, "K", "V", Dword(2)), 0);
  ASSERT_EQ(WriteStoreValue(99, "K", "V", Dword(99)), 0);
  qvStoreValue v;
  ASSERT_EQ(ReadStoreValue(2, "K", "V", &v), 0);
  EXPECT_EQ(v.number, 2u);
  ASSERT_EQ(ReadStoreValue(4, "K", "V", &v), 0);  // every other root is the current user's
  EXPECT_EQ(v.number, 99u);
  EXPECT_EQ(ReadStoreValue(0, "K", "V", &v), ERR_REGISTRYREAD);
  EXPECT_EQ(StoreFilePath(2), dir_ + "/quillvane/local_machine.ini");
  EXPECT_EQ(StoreFilePath(-1), dir_ + "/quillvane/current_user.ini");
}

TEST_F(SettingsStoreTest, ValuesOverTheLimitAreRefusedNeverCut) {
  std::string big(kStoreValueLimit + 1, 'x');
  big.back() = '\0';
  EXPECT_EQ(WriteStoreValue(4, "K", "Big", StoreBytesValue(big.data(), big.size())),
            ERR_REGISTRYWRITE);
  std::string exact(kStoreValueLimit, 'y');
  exact.back() = '\0';
  ASSERT_EQ(WriteStoreValue(4, "K", "Exact", StoreBytesValue(exact.data(), exact.size())), 0);
  // A file written by hand with a longer value: that value cannot be read, the others can.
  std::ofstream(StoreFilePath(4), std::ios::app)
      << "Huge=binary:" << std::string(2 * (kStoreValueLimit + 1), 'a') << "\n";
  qvStoreValue v;
  EXPECT_EQ(ReadStoreValue(4, "K", "Huge", &v), ERR_REGISTRYREAD);
  ASSERT_EQ(ReadStoreValue(4, "K", "Exact", &v), 0);
  EXPECT_EQ(v.bytes.size(), kStoreValueLimit);
}

TEST_F(SettingsStoreTest, AFileThatIsNoStoreIsNeitherReadNorOverwritten) {
  std::filesystem::create_directories(dir_ + "/quillvane");
  const char* bad[] = {
      "Value=dword:1\n",                   // a value before any key
      "[K]\nValue=dword:1234567\n",        // seven digits
      "[K]\nValue=word:00000001\n",        // an unknown type
      "[K]\nValue=binary:abc\n",           // half a byte
      "[K]\nValue=text:bad \\q escape\n",  // an unknown escape
      "[K]\nno equals sign\n",             // neither value nor key
      "[K\nValue=dword:00000001\n",        // an open key
  };
  for (const char* text : bad) {
    std::ofstream(StoreFilePath(4), std::ios::trunc) << text;
    qvStoreValue v;
    EXPECT_EQ(ReadStoreValue(4, "K", "Value", &v), ERR_REGISTRYREAD) << text;
    EXPECT_EQ(WriteStoreValue(4, "K", "Other", Dword(1)), ERR_REGISTRYWRITE) << text;
    EXPECT_EQ(Slurp(StoreFilePath(4)), text);
  }
}

TEST_F(SettingsStoreTest, TheTextFormRoundTripsEveryByte) {
  std::vector<qvStoreEntry> entries;
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  entries.push_back({"a/b", all, StoreBytesValue(all.data(), all.size())});
  qvStoreValue text;
  text.type = StoreType::kText;
  text.bytes = all.substr(1) + '\0';
  entries.push_back({"b", "t", text});
  std::string formatted = FormatStoreText(entries);
  std::vector<qvStoreEntry> back;
  ASSERT_TRUE(ParseStoreText(formatted.data(), formatted.size(), &back)) << formatted;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, all);
  EXPECT_EQ(back[0].value.bytes, all);
  EXPECT_EQ(back[1].value.bytes, text.bytes);
  EXPECT_EQ(FormatStoreText(back), formatted);
}

}  // namespace
}  // namespace qv
