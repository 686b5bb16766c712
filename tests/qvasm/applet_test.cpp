#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qvasm/applet_view.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/qvasm/gtest_support.h"

using qvasm::AssembleApplet;
using qvasm::AssembleOrFail;
using qvtest::ParseApplet;

namespace {

const char* const kMain = ".function main\n  RETURN R0, 1\n.end\n";

TEST(QvasmApplet, WritesEveryRecordInOrder) {
  qvtest::TempDir dir;
  dir.Write("pic.bin", std::string("\x00\x01\x02", 3));
  dir.Write("abs.txt", "absolute");
  std::string text = R"(.header 13 "third"
.header 11 "first"
.userconst PI 3.141592653589793
.userconst GREETING "hi there"
.userconst NEG -2
.link "pic" "pic.bin"
.link "::abs" ")" + dir.Path("abs.txt") +
                     R"("
.function main
  .export "ONSTART"
  LOADCONST R0, 1
  .export "ONBUTTONCLICK1"
  RETURN R0, 1
.end
)";
  qvasm::Options options;
  options.baseDir = dir.path();
  auto r = AssembleApplet(text, options);
  ASSERT_TRUE(r.ok()) << r.diags[0].message;
  auto a = ParseApplet(r.bytes);
  EXPECT_EQ(a.magic, "QVA");
  std::vector<int> tags;
  for (auto& rec : a.records) tags.push_back(rec.tag);
  EXPECT_EQ(tags, (std::vector<int>{10, 11, 13, 9, 31, 26, 1}));
  EXPECT_EQ(a.versionMajor, 5);
  EXPECT_EQ(a.versionMinor, 2);
  EXPECT_EQ(a.headers.at(11), "first");
  EXPECT_EQ(a.headers.at(13), "third");
  ASSERT_EQ(a.labels.size(), 2u);
  EXPECT_EQ(a.labels[0], std::make_pair(std::string("ONSTART"), 0u));
  EXPECT_EQ(a.labels[1], std::make_pair(std::string("ONBUTTONCLICK1"), 1u));
  ASSERT_EQ(a.userConsts.size(), 3u);
  EXPECT_EQ(a.userConsts[0].name, "PI");
  EXPECT_EQ(a.userConsts[0].type, 0);
  EXPECT_EQ(a.userConsts[0].raw, std::string("\x40\x09\x21\xFB\x54\x44\x2D\x18", 8));
  EXPECT_EQ(a.userConsts[1].name, "GREETING");
  EXPECT_NE(a.userConsts[1].type, 0);
  EXPECT_EQ(a.userConsts[1].raw, "hi there");
  EXPECT_EQ(a.userConsts[2].raw, std::string("\xC0\x00\x00\x00\x00\x00\x00\x00", 8));
  ASSERT_EQ(a.files.size(), 2u);
  EXPECT_EQ(a.files[0].first, "pic");
  EXPECT_EQ(a.files[0].second, std::string("\x00\x01\x02", 3));
  EXPECT_EQ(a.files[1].first, "::abs");
  EXPECT_EQ(a.files[1].second, "absolute");
  EXPECT_EQ(a.chunk, AssembleOrFail(text).bytes);
  EXPECT_EQ(a.end, r.bytes.size());  // the chunk record ends the container
}

TEST(QvasmApplet, LineMaps) {
  std::string text = std::string(R"(.linemap 1 10 100 "lib.qvs"
.linemap 11 20 0 "main.qvs" "@main"
.linemap 21 30 5 "other.qvs" ""
)") + kMain;
  auto r = AssembleApplet(text);
  ASSERT_TRUE(r.ok()) << r.diags[0].message;
  auto a = ParseApplet(r.bytes);
  std::vector<int> tags;
  for (auto& rec : a.records) tags.push_back(rec.tag);
  EXPECT_EQ(tags, (std::vector<int>{10, 8, 27, 1}));
  ASSERT_EQ(a.lineMaps.size(), 3u);
  EXPECT_EQ(a.lineMaps[0].tag, 8);
  EXPECT_EQ(a.lineMaps[0].first, 1u);
  EXPECT_EQ(a.lineMaps[0].last, 10u);
  EXPECT_EQ(a.lineMaps[0].base, 100u);
  EXPECT_EQ(a.lineMaps[0].file, "lib.qvs");
  EXPECT_EQ(a.lineMaps[1].tag, 27);
  EXPECT_EQ(a.lineMaps[1].file, "main.qvs");
  EXPECT_EQ(a.lineMaps[1].source, "@main");
  EXPECT_EQ(a.lineMaps[2].source, "");

  EXPECT_FALSE(AssembleApplet(std::string(".linemap 1 2 \"x\"\n") + kMain).ok());
  EXPECT_FALSE(AssembleApplet(std::string(".linemap 1 2 3 x\n") + kMain).ok());
}

TEST(QvasmApplet, SmallestApplet) {
  auto r = AssembleApplet(kMain);
  ASSERT_TRUE(r.ok());
  std::vector<uint8_t> want = {'Q', 'V', 'A', 0, 10, 5, 2, 1, 0, 0, 0, 61};
  auto chunk = AssembleOrFail(kMain).bytes;
  want.insert(want.end(), chunk.begin(), chunk.end());
  EXPECT_EQ(r.bytes, want);
}

TEST(QvasmApplet, ChunkDirectivesShapeTheEmbeddedChunk) {
  auto a = ParseApplet(AssembleApplet(std::string(".truncate 30\n") + kMain).bytes);
  EXPECT_EQ(a.chunk.size(), 30u);
}

TEST(QvasmApplet, MissingLinkedFileIsADiagnostic) {
  qvtest::TempDir dir;
  qvasm::Options options;
  options.baseDir = dir.path();
  auto r = AssembleApplet(std::string(".header 12 \"x\"\n.link \"a\" \"nothere.bin\"\n") + kMain,
                          options);
  ASSERT_EQ(r.diags.size(), 1u);
  EXPECT_EQ(r.diags[0].line, 2);
  EXPECT_NE(r.diags[0].message.find("nothere.bin"), std::string::npos);
  EXPECT_TRUE(r.bytes.empty());
  // Errors in the code keep the applet from being written as well.
  EXPECT_TRUE(AssembleApplet(".function main\n  FROB\n.end\n").bytes.empty());
}

TEST(QvasmApplet, CompressedContainerInflatesToTheApplet) {
  std::string text = std::string(".header 11 \"") + std::string(3000, 'z') + "\"\n" + kMain;
  auto applet = AssembleApplet(text).bytes;
  auto packed = qvasm::CompressApplet(applet);
  ASSERT_GT(packed.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(packed.begin(), packed.begin() + 8),
            (std::vector<uint8_t>{'Q', 'V', 'Z', 0, 0, 0, 0, 0}));
  EXPECT_EQ((packed[8] * 256 + packed[9]) % 31, 0);  // a zlib header
  EXPECT_EQ(packed[8] & 0x0F, 8);                    // deflate
  EXPECT_LT(packed.size(), applet.size());
  std::vector<uint8_t> back(applet.size() + 16);
  uLongf size = back.size();
  ASSERT_EQ(uncompress(back.data(), &size, packed.data() + 8, packed.size() - 8), Z_OK);
  back.resize(size);
  EXPECT_EQ(back, applet);
}

// A stand-in for the player: bytes around a link descriptor.
std::vector<uint8_t> FakePlayer(bool linked = false) {
  std::vector<uint8_t> exe(5000);
  for (size_t i = 0; i < exe.size(); ++i) exe[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint8_t marker[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};
  // A decoy: the marker bytes without the rest of the descriptor.
  std::memcpy(&exe[700], marker, 8);
  std::string text = "Brellcombe Interactive Studios";
  std::memcpy(&exe[3000], text.data(), 30);
  exe[3030] = exe[3031] = 0;
  const uint8_t none[4] = {0xDE, 0xAD, 0xC0, 0xDE}, some[4] = {0, 0, 0x13, 0x88};
  std::memcpy(&exe[3032], linked ? some : none, 4);
  std::memcpy(&exe[3036], marker, 8);
  exe[3044] = 0;
  return exe;
}

TEST(QvasmApplet, LinkIntoPatchesTheDescriptor) {
  auto applet = AssembleApplet(kMain).bytes;
  auto player = FakePlayer();
  std::string error;
  auto out = qvasm::LinkInto(player, applet, &error);
  ASSERT_EQ(out.size(), player.size() + applet.size()) << error;
  // 5000 = 0x1388, big-endian at descriptor byte 32; nothing else of the player changes.
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 3032, out.begin() + 3036),
            (std::vector<uint8_t>{0, 0, 0x13, 0x88}));
  std::vector<uint8_t> head(out.begin(), out.begin() + player.size());
  std::memcpy(&head[3032], &player[3032], 4);
  EXPECT_EQ(head, player);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + player.size(), out.end()), applet);

  // A linked player, no descriptor, or two descriptors are refused.
  EXPECT_TRUE(qvasm::LinkInto(out, applet, &error).empty());
  EXPECT_TRUE(qvasm::LinkInto(FakePlayer(true), applet, &error).empty());
  EXPECT_FALSE(error.empty());
  std::vector<uint8_t> bare(1000, 0);
  EXPECT_TRUE(qvasm::LinkInto(bare, applet, &error).empty());
  auto twice = player;
  twice.insert(twice.end(), player.begin() + 3000, player.begin() + 3045);
  error.clear();
  EXPECT_TRUE(qvasm::LinkInto(twice, applet, &error).empty());
  EXPECT_NE(error.find("more than one"), std::string::npos);
}

}  // namespace
