#include "core/applet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"

using namespace qv;

namespace {

// Builds container bytes independently of any writer: big-endian numbers, zero-terminated
// strings.
class Bytes {
 public:
  Bytes& U8(uint32_t v) {
    data.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& U16(uint32_t v) { return U8(v >> 8).U8(v); }
  Bytes& U32(uint32_t v) { return U16(v >> 16).U16(v); }
  Bytes& Str(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return U8(0);
  }
  Bytes& Raw(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Append(const Bytes& b) {
    data.insert(data.end(), b.data.begin(), b.data.end());
    return *this;
  }
  Bytes& Magic() { return Raw(std::string("QVA\0", 4)); }
  Bytes& Version(int major, int minor) { return U8(10).U8(major).U8(minor); }
  Bytes& Chunk(const std::string& bytes) { return U8(1).U32(bytes.size()).Raw(bytes); }
  size_t Size() const { return data.size(); }

  std::vector<uint8_t> data;
};

// A declaration record without its sub-record.
Bytes Declaration(int kind, int32_t id, uint32_t inlineOffset = 0, uint32_t inlineLength = 0) {
  Bytes b;
  b.U8(kind).U32(id).U32(inlineOffset).U32(inlineLength).U32(0x100).U32(0x200);
  b.U32(static_cast<uint32_t>(-1)).U32(1).U32(42);
  return b;
}

// Gradient block: style, centre x, centre y, balance, border (millionths), colours.
Bytes GradientBlock() {
  Bytes b;
  b.U8(3).U32(250000).U32(750000).U32(500000).U32(100000);
  b.U8(2).U32(0xFF0000).U32(0).U32(0x0000FF).U32(1000000);
  return b;
}

struct ReadResult {
  int code;
  qvAppletSettings settings;
  std::string argument;
};

// The bytes as a file of the file layer (a memory file), open for reading; the caller keeps the
// bytes alive until the file is closed.
qvFile* OpenBytes(const std::vector<uint8_t>& bytes) {
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("applet", bytes.data(), bytes.size(), 1, nullptr, name, sizeof name)) {
    return nullptr;
  }
  qvFile* f = OpenFileQ(name, kFileRead);
  UnregisterMemoryFile(name);  // the open file keeps its entry
  return f;
}

// Runs the reader over `bytes`, whose applet starts at `offset`.
ReadResult Read(const std::vector<uint8_t>& bytes, uint64_t offset = 0) {
  ReadResult r;
  qvFile* f = OpenBytes(bytes);
  if (f == nullptr) {
    r.code = -1;
    return r;
  }
  SetErrorString("");
  SeekFileQ(f, static_cast<int64_t>(offset), kSeekStart);
  r.code = ReadApplet(f, "/apps/game.qva", offset, &r.settings, 7);
  r.argument = GetErrorString();
  CloseFileQ(f);
  return r;
}

const qvDisplayRecord* OnlyDisplay(const qvAppletSettings& s) {
  if (s.declarations.size() != 1) return nullptr;
  return std::get_if<qvDisplayRecord>(&s.declarations[0].sub);
}

// A sample applet that touches every tag family.
Bytes SampleApplet() {
  Bytes b;
  b.Magic().Version(5, 2);
  for (int tag = 11; tag <= 15; ++tag) b.U8(tag).Str("header " + std::to_string(tag));
  b.U8(4).U16(4).Raw("Main");
  b.U8(3).U16(800).U16(600);
  b.U8(5).U32(0x123456);
  b.U8(6).U32(10).U32(20);
  b.U8(7);
  for (int tag : {18, 19, 20, 24, 25, 30}) b.U8(tag).U8(tag % 2);
  b.U8(28).U8(1).U32(320).U32(200).U8(1);
  b.U8(16).U8(1).U8(21).U8(1).U8(22).U16(1024).U16(768).U8(23).U8(32);
  b.U8(17).U8(4).U32(5).U32(1).U32(2).U32(3).U32(4).U8(1);
  b.U8(0).U32(8).Raw("logo.png");  // the inline data of the declaration below
  size_t logoAt = b.Size() - 8;
  b.U8(2).U32(3);
  b.Append(Declaration(kDeclBrush, 1, static_cast<uint32_t>(logoAt), 8));
  b.U16(1).U16(2).U16(3).U16(4).U16(255).U8(1);
  b.Append(Declaration(kDeclBGPic, 2)).U8(2).U32(0xAA).U32(0xBB).U16(45).U32(3).U32(4).U32(5);
  b.Append(GradientBlock());
  b.Append(Declaration(kDeclDisplay, 2)).U32(0).U32(1).U32(2).U32(3).U32(4).U32(5).U32(6);
  b.U32(7).U32(8).U32(9).U32(1).U32(1).U32(2).U32(3).U32(4).U32(5).U32(0).U16(5).Raw("Title");
  b.U8(2).U32(6).U16(7).U32(8).U32(9).U32(10).Append(GradientBlock()).U16(3).Raw("Pub");
  b.U8(8).U32(1).U32(1).U32(10).U32(100).Str("main.qv");
  b.U8(27).U32(1).U32(11).U32(20).U32(200).Str("inc.qv").Str("lib.qva");
  b.U8(9).U32(2).U32(12).Str("start").U32(99).Str("loop");
  b.U8(31).Str("PI").U8(0).U32(0x400921FB).U32(0x54442D18).Str("NAME").U8(4).Str("value");
  b.Str("");
  b.U8(26).U32(2).U32(0).Str("data/a.bin").U32(3).Raw("xyz");
  b.Str("big.bin").U32(0xFFFFFFFF).U32(1000).U32(64);
  b.U8(29);
  b.Chunk("CHUNK");
  return b;
}

class RecordingSink : public qvAppletNameSink {
 public:
  void SetLabel(const qvAppletLabel& l) override {
    log.push_back("L " + l.name + "=" + std::to_string(l.value));
  }
  void SetUserConstant(const qvUserConstant& c) override {
    log.push_back("C " + c.name + "=" + (c.isString ? c.text : std::to_string(c.number)));
  }
  std::vector<std::string> log;
};

}  // namespace

TEST(Applet, MinimalAppletAndHeaderTexts) {
  Bytes b;
  b.Magic().Version(5, 2).U8(11).Str("Game").U8(12).Str(std::string(300, 'v'));
  b.U8(15).Str("").Chunk("abc");
  ReadResult r = Read(b.data);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(std::string(r.settings.mainChunk.begin(), r.settings.mainChunk.end()), "abc");
  EXPECT_STREQ(r.settings.headerTexts[0], "Game");
  EXPECT_EQ(std::string(r.settings.headerTexts[1]), std::string(255, 'v'));
  EXPECT_STREQ(r.settings.headerTexts[4], "");

  // Reading stops after the main chunk: what follows is never looked at.
  Bytes tail = b;
  tail.U8(200).U8(1);
  EXPECT_EQ(Read(tail.data).code, 0);
}

TEST(Applet, VersionAndUnknownTags) {
  struct Case {
    int major, minor;
    int code;
    const char* argument;
  } cases[] = {{5, 2, 0, ""},
               {4, 9, 0, ""},
               {5, 3, ERR_APPLETVERSION, "5.3"},
               {6, 0, ERR_APPLETVERSION, "6.0"},
               {5, 10, ERR_APPLETVERSION, "5.10"}};
  for (const auto& c : cases) {
    Bytes b;
    b.Magic().Version(c.major, c.minor).Chunk("x");
    ReadResult r = Read(b.data);
    EXPECT_EQ(r.code, c.code) << c.major << "." << c.minor;
    EXPECT_EQ(r.argument, c.argument);
  }
  for (int tag : {32, 99, 255}) {
    Bytes b;
    b.Magic().Version(5, 2).U8(tag).Chunk("x");
    EXPECT_EQ(Read(b.data).code, ERR_UNKNOWNSEC) << tag;
  }
  Bytes noChunk;
  noChunk.Magic().Version(5, 2).U8(11).Str("x");
  EXPECT_EQ(Read(noChunk.data).code, ERR_UNEXPECTEDEOF);
  Bytes skip;
  skip.Magic().U8(0).U32(3).Raw("abc").Chunk("y");
  EXPECT_EQ(Read(skip.data).code, 0);
  Bytes overSkip;
  overSkip.Magic().U8(0).U32(100).Chunk("y");
  EXPECT_EQ(Read(overSkip.data).code, ERR_UNEXPECTEDEOF);
  Bytes bigChunk;
  bigChunk.Magic().U8(1).U32(0xFFFFFFF0).Raw("abc");
  EXPECT_EQ(Read(bigChunk.data).code, ERR_UNEXPECTEDEOF);
}

TEST(Applet, DisplayTagsFillDisplayOne) {
  Bytes b;
  b.Magic().Version(5, 2).U8(4).U16(6).Raw(std::string("Main\0x", 6));
  b.U8(3).U16(800).U16(0xFFFF);
  b.U8(5).U32(0x123456).U8(6).U32(10).U32(0xFFFFFFFE);
  b.U8(18).U8(0).U8(19).U8(1).U8(24).U8(7);
  b.U8(28).U8(0).U32(320).U32(200).U8(1);
  b.U8(7).Chunk("c");
  ReadResult r = Read(b.data);
  ASSERT_EQ(r.code, 0);
  const qvDisplayRecord* d = OnlyDisplay(r.settings);
  ASSERT_NE(d, nullptr);
  const qvObjectDeclaration& decl = r.settings.declarations[0];
  EXPECT_EQ(decl.kind, kDeclDisplay);
  EXPECT_EQ(decl.id, 1);
  EXPECT_EQ(decl.callerFlag, 7);
  EXPECT_EQ(d->title, "Main");
  EXPECT_EQ(d->width, 800);
  EXPECT_EQ(d->height, -1);
  EXPECT_EQ(d->color, 0x123456u);
  EXPECT_EQ(d->x, 10);
  EXPECT_EQ(d->y, -2);
  EXPECT_EQ(d->valueFlags, kDisplayActive | kDisplayFixed | kDisplayHidePointer |
                               kDisplayAutoScale | kDisplaySmoothScale);
  EXPECT_EQ(d->maskFlags, kDisplayBorderless | kDisplayFixed | kDisplayHidePointer |
                              kDisplayAutoScale | kDisplayLayerScale);
  EXPECT_EQ(d->scaleWidth, 320);
  EXPECT_EQ(d->scaleHeight, 200);
  EXPECT_EQ(d->fillStyle, 1);
  EXPECT_EQ(r.settings.desktopDisplay, 1);

  // Without a name the display keeps its default title and size.
  Bytes plain;
  plain.Magic().U8(20).U8(1).Chunk("c");
  ReadResult p = Read(plain.data);
  ASSERT_EQ(p.code, 0);
  ASSERT_NE(OnlyDisplay(p.settings), nullptr);
  EXPECT_EQ(OnlyDisplay(p.settings)->title, "Quillvane");
  EXPECT_EQ(OnlyDisplay(p.settings)->width, 640);
  EXPECT_EQ(OnlyDisplay(p.settings)->height, 480);
  EXPECT_EQ(OnlyDisplay(p.settings)->x, kPositionUnset);
  EXPECT_EQ(OnlyDisplay(p.settings)->valueFlags, kDisplayActive | kDisplaySizeable);
}

TEST(Applet, SettingsTags) {
  Bytes b;
  b.Magic().Version(5, 0).U8(16).U8(2).U8(21).U8(1).U8(22).U16(1024).U16(768).U8(23).U8(24);
  b.U8(17).U8(2).U32(0xFF).U32(0xFF00).Chunk("c");
  ReadResult r = Read(b.data);
  ASSERT_EQ(r.code, 0);
  const qvAppletSettings& s = r.settings;
  EXPECT_EQ(s.displayMode, 2);
  EXPECT_EQ(s.hideTitleBar, 1);
  EXPECT_EQ(s.screenWidth, 1024);
  EXPECT_EQ(s.screenHeight, 768);
  EXPECT_EQ(s.depth, 24);
  EXPECT_EQ(s.backfill.type, kBackfillGradient);
  EXPECT_EQ(s.backfill.startColor, 0xFF);
  EXPECT_EQ(s.backfill.endColor, 0xFF00);
  EXPECT_TRUE(s.declarations.empty());

  // The scale-picture byte of a picture backfill comes with versions above 3.1.
  for (int minor : {1, 2}) {
    Bytes p;
    p.Magic().Version(3, minor).U8(17).U8(4).U32(9).U32(1).U32(2).U32(3).U32(4);
    if (minor == 2) p.U8(1);
    p.Chunk("c");
    ReadResult q = Read(p.data);
    ASSERT_EQ(q.code, 0) << minor;
    EXPECT_EQ(q.settings.backfill.brushId, 9);
    EXPECT_EQ(q.settings.backfill.pictureX, 1);
    EXPECT_EQ(q.settings.backfill.pictureY, 2);
    EXPECT_EQ(q.settings.backfill.endColor, 4);
    EXPECT_EQ(q.settings.backfill.scalePicture, minor == 2 ? 1 : 0);
  }

  // Tag 29 resets what the options set and locks the settings.
  Bytes lock;
  lock.Magic().U8(29).Chunk("c");
  qvFile* f = OpenBytes(lock.data);
  ASSERT_NE(f, nullptr);
  qvAppletSettings settings;
  settings.displayFlags = kDisplayBorderless;
  settings.screenWidth = 800;
  settings.backfill.type = 3;
  settings.backfill.brushId = 4;
  std::strcpy(settings.backfill.file, "x.png");
  ASSERT_EQ(ReadApplet(f, "a", 0, &settings, 0), 0);
  CloseFileQ(f);
  EXPECT_EQ(settings.settingsLocked, 1);
  EXPECT_EQ(settings.displayFlags, 0u);
  EXPECT_EQ(settings.screenWidth, -1);
  EXPECT_EQ(settings.screenHeight, -1);
  EXPECT_EQ(settings.depth, -1);
  EXPECT_EQ(settings.hideTitleBar, -1);
  EXPECT_EQ(settings.backfill.type, 0);
  EXPECT_EQ(settings.backfill.brushId, 0);
  EXPECT_EQ(settings.backfill.startColor, -1);
  EXPECT_EQ(settings.backfill.endColor, -1);
  EXPECT_EQ(settings.backfill.transparentColor, -1);
  EXPECT_EQ(settings.backfill.pictureX, kPositionUnset);
  EXPECT_EQ(settings.backfill.pictureY, kPositionUnset);
  EXPECT_STREQ(settings.backfill.file, "");
}

TEST(Applet, LabelsConstantsLineMapsAndLinkedFiles) {
  // The applet starts 6 bytes into the file, as it does behind an executable.
  Bytes b;
  b.Raw("PREFIX").Magic().Version(5, 2);
  b.U8(9).U32(2).U32(12).Str("Start").U32(99).Str("loop");
  b.U8(31).Str("PI").U8(0).U32(0x400921FB).U32(0x54442D18).Str("NAME").U8(4).Str("value");
  b.Str("");
  b.U8(8).U32(1).U32(1).U32(10).U32(100).Str("main.qv");
  b.U8(27).U32(1).U32(11).U32(20).U32(200).Str("inc.qv").Str("lib.qva");
  b.U8(26).U32(2).U32(0).Str("data\\a.bin").U32(3);
  size_t dataAt = b.Size();
  b.Raw("xyz").Str("big.bin").U32(0xFFFFFFFF).U32(1000).U32(64);
  b.Chunk("c");
  ReadResult r = Read(b.data, 6);
  ASSERT_EQ(r.code, 0);
  const qvAppletSettings& s = r.settings;

  ASSERT_EQ(s.userConstants.size(), 2u);
  EXPECT_EQ(s.userConstants[0].name, "PI");
  EXPECT_FALSE(s.userConstants[0].isString);
  EXPECT_EQ(s.userConstants[0].number, 3.141592653589793);
  EXPECT_TRUE(s.userConstants[1].isString);
  EXPECT_EQ(s.userConstants[1].text, "value");

  ASSERT_EQ(s.lineMaps.size(), 2u);
  EXPECT_EQ(s.lineMaps[0].firstLine, 1);
  EXPECT_EQ(s.lineMaps[0].lastLine, 10);
  EXPECT_EQ(s.lineMaps[0].baseLine, 100);
  EXPECT_EQ(s.lineMaps[0].fileName, "main.qv");
  EXPECT_EQ(s.lineMaps[0].sourceName, "/apps/game.qva");
  EXPECT_EQ(s.lineMaps[1].fileName, "inc.qv");
  EXPECT_EQ(s.lineMaps[1].sourceName, "lib.qva");

  ASSERT_EQ(s.linkedFiles.size(), 2u);
  EXPECT_EQ(s.linkedFiles[0].name, "data\\a.bin");
  EXPECT_EQ(s.linkedFiles[0].containerPath, "/apps/game.qva");
  EXPECT_EQ(s.linkedFiles[0].offset, dataAt - 6);
  EXPECT_EQ(s.linkedFiles[0].length, 3u);
  EXPECT_EQ(s.linkedFiles[1].name, "big.bin");
  EXPECT_EQ(s.linkedFiles[1].length, 1000u);
  EXPECT_EQ(s.linkedFiles[1].offset, 64u);

  qvAppletSettings moved = s;
  RecordingSink sink;
  MoveAppletNamesToVm(&moved, sink);
  EXPECT_EQ(sink.log, (std::vector<std::string>{"L Start=12", "L loop=99",
                                                "C PI=" + std::to_string(3.141592653589793),
                                                "C NAME=value"}));
  EXPECT_TRUE(moved.labels.empty());
  EXPECT_TRUE(moved.userConstants.empty());
}

TEST(Applet, DeclarationSubRecordsByVersion) {
  struct Expect {
    int major, minor;
  };
  // Brushes: the hardware byte from version 5.
  for (Expect v : {Expect{4, 9}, Expect{5, 0}}) {
    Bytes b;
    b.Magic().Version(v.major, v.minor).U8(2).U32(1).Append(Declaration(kDeclBrush, 3));
    b.U16(10).U16(20).U16(0xFFFE).U16(4).U16(128);
    if (v.major == 5) b.U8(1);
    b.Chunk("c");
    ReadResult r = Read(b.data);
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.settings.declarations.size(), 1u);
    const auto& d = r.settings.declarations[0];
    EXPECT_EQ(d.kind, kDeclBrush);
    EXPECT_EQ(d.id, 3);
    EXPECT_EQ(d.declared, 1);
    EXPECT_EQ(d.linkedOffset, 0x100u);
    EXPECT_EQ(d.linkedLength, 0x200u);
    EXPECT_EQ(d.extra1, -1);
    EXPECT_EQ(d.extra2, 1);
    EXPECT_EQ(d.sourceLine, 42);
    EXPECT_EQ(d.containerPath, "/apps/game.qva");
    const auto* brush = std::get_if<qvBrushDecl>(&d.sub);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(brush->width, 10);
    EXPECT_EQ(brush->x, -2);
    EXPECT_EQ(brush->globalAlpha, 128);
    EXPECT_EQ(brush->hardware, v.major == 5 ? 1 : 0);
  }
  // Anims: from-disk byte from 3.0, six sizes from 4.1.
  for (Expect v : {Expect{2, 9}, Expect{3, 0}, Expect{4, 1}}) {
    Bytes b;
    b.Magic().Version(v.major, v.minor).U8(2).U32(1).Append(Declaration(kDeclAnim, 1));
    if (v.major >= 3) b.U8(1);
    if (v.major >= 4) b.U16(1).U16(2).U16(3).U16(4).U16(5).U16(6);
    b.Chunk("c");
    ReadResult r = Read(b.data);
    ASSERT_EQ(r.code, 0) << v.major;
    const auto* anim = std::get_if<qvAnimDecl>(&r.settings.declarations[0].sub);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->fromDisk, v.major >= 3 ? 1 : 0);
    EXPECT_EQ(anim->frames, v.major >= 4 ? 3 : 0);
    EXPECT_EQ(anim->y, v.major >= 4 ? 6 : 0);
  }
  // Background pictures: defaults, then fill fields from 4.7, then a gradient from 5.0.
  for (Expect v : {Expect{4, 6}, Expect{4, 7}, Expect{5, 0}}) {
    Bytes b;
    b.Magic().Version(v.major, v.minor).U8(2).U32(1).Append(Declaration(kDeclBGPic, 1));
    if (v.major == 5 || v.minor == 7) b.U8(2).U32(0xAA).U32(0xBB).U16(0xFFD3).U32(3).U32(4).U32(5);
    if (v.major == 5) b.Append(GradientBlock());
    b.Chunk("c");
    ReadResult r = Read(b.data);
    ASSERT_EQ(r.code, 0) << v.minor;
    const auto* pic = std::get_if<qvBGPicDecl>(&r.settings.declarations[0].sub);
    ASSERT_NE(pic, nullptr);
    bool fill = v.major == 5 || v.minor == 7;
    EXPECT_EQ(pic->fillStyle, fill ? 2 : 0);
    EXPECT_EQ(pic->fillColor, fill ? 0xAAu : 0u);
    EXPECT_EQ(pic->gradient.startColor, fill ? 0xAAu : 0u);
    EXPECT_EQ(pic->gradient.endColor, fill ? 0xBBu : 0u);
    EXPECT_EQ(pic->gradient.angle, fill ? -45 : 0);
    EXPECT_EQ(pic->textureY, fill ? 5 : 0);
    if (v.major == 5) {
      EXPECT_EQ(pic->gradient.style, 3);
      EXPECT_DOUBLE_EQ(pic->gradient.centerX, 0.25);
      EXPECT_DOUBLE_EQ(pic->gradient.centerY, 0.75);
      EXPECT_DOUBLE_EQ(pic->gradient.border, 0.1);
      ASSERT_EQ(pic->gradient.colors.size(), 2u);
      EXPECT_EQ(pic->gradient.colors[1].color, 0x0000FFu);
      EXPECT_DOUBLE_EQ(pic->gradient.colors[1].position, 1.0);
    } else {
      EXPECT_EQ(pic->gradient.style, 2);
      EXPECT_DOUBLE_EQ(pic->gradient.centerX, 0.5);
      EXPECT_DOUBLE_EQ(pic->gradient.balance, 0.5);
      EXPECT_TRUE(pic->gradient.colors.empty());
    }
  }
  // Buttons, sprites and the kinds without a sub-record.
  Bytes b;
  b.Magic().Version(5, 2).U8(2).U32(10);
  b.Append(Declaration(kDeclButton, 1)).U16(1).U16(2).U16(3).U16(4);
  b.Append(Declaration(kDeclSprite, 2)).U16(1).U16(2).U16(3).U16(4).U16(5).U16(6);
  for (int kind : {3, 4, 6, 8, 9, 11, 12, 40}) b.Append(Declaration(kind, kind));
  b.Chunk("c");
  ReadResult r = Read(b.data);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.settings.declarations.size(), 10u);
  const auto* button = std::get_if<qvButtonDecl>(&r.settings.declarations[0].sub);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->values, (std::array<int32_t, 4>{1, 2, 3, 4}));
  const auto* sprite = std::get_if<qvSpriteDecl>(&r.settings.declarations[1].sub);
  ASSERT_NE(sprite, nullptr);
  EXPECT_EQ(sprite->framesPerRow, 4);
  for (size_t i = 2; i < 10; ++i) {
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.settings.declarations[i].sub));
  }
  EXPECT_EQ(r.settings.declarations[9].kind, 40);
}

TEST(Applet, DisplayDeclarationsByVersion) {
  for (int minor : {6, 7, 10, 12}) {  // 4.6, 4.7, 5.0, 5.2
    int major = minor >= 10 ? 5 : 4;
    int m = minor >= 10 ? minor - 10 : minor;
    Bytes b;
    b.Magic().Version(major, m).U8(2).U32(1).Append(Declaration(kDeclDisplay, 4));
    b.U32(3).U32(10).U32(20).U32(300).U32(200).U32(0xC0C0C0).U32(0x401).U32(0x1).U32(0);
    b.U32(0);
    b.U32(2).U32(1).U32(0).U32(0).U32(50).U32(10).U32(2).U32(5).U32(5).U32(5).U32(5);
    b.U32(0).U16(5).Raw("Hello");
    if (minor >= 7) b.U8(3).U32(0xEE).U16(90).U32(7).U32(8).U32(9);
    if (minor >= 10) b.Append(GradientBlock());
    if (minor >= 12) b.U16(6).Raw("Public");
    b.Chunk("c");
    ReadResult r = Read(b.data);
    ASSERT_EQ(r.code, 0) << minor;
    const auto* d = std::get_if<qvDisplayRecord>(&r.settings.declarations[0].sub);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->bgpicId, 3);
    EXPECT_EQ(d->width, 300);
    EXPECT_EQ(d->color, 0xC0C0C0u);
    EXPECT_EQ(d->gradient.startColor, 0xC0C0C0u);
    EXPECT_EQ(d->valueFlags, 0x401u);
    EXPECT_EQ(d->maskFlags, 1u);
    ASSERT_EQ(d->dragRegions.size(), 2u);
    EXPECT_EQ(d->dragRegions[0].width, 50);
    EXPECT_EQ(d->dragRegions[1].type, 2);
    EXPECT_TRUE(d->sizeRegions.empty());
    EXPECT_EQ(d->title, "Hello");
    EXPECT_EQ(d->fillStyle, minor >= 7 ? 3 : 1);
    EXPECT_EQ(d->textureBrush, minor >= 7 ? 7 : 0);
    EXPECT_EQ(d->gradient.angle, minor >= 7 ? 90 : 0);
    EXPECT_EQ(d->gradient.style, minor >= 10 ? 3 : 2);
    EXPECT_EQ(d->pubScreen, minor >= 12 ? "Public" : "");
  }
}

TEST(Applet, InlineDataIsReadFromItsOffset) {
  Bytes b;
  b.Raw("EXE!").Magic().Version(5, 2).U8(0).U32(12);
  size_t at = b.Size() - 4;  // relative to the applet offset 4
  b.Raw("pics/bg.png").U8(0);
  b.U8(2).U32(2).Append(Declaration(kDeclMusic, 1, static_cast<uint32_t>(at), 11));
  b.Append(Declaration(kDeclFile, 2, static_cast<uint32_t>(at), 12));
  b.Chunk("c");
  ReadResult r = Read(b.data, 4);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.settings.declarations.size(), 2u);
  EXPECT_EQ(r.settings.declarations[0].fileName, "pics/bg.png");
  EXPECT_EQ(r.settings.declarations[1].fileName, "pics/bg.png");
  EXPECT_EQ(r.settings.declarations[1].inlineLength, 12u);

  // Inline data that reaches past the end of the file.
  for (uint32_t off : {0xFFFFFFF0u, 40u}) {
    Bytes bad;
    bad.Magic().U8(2).U32(1).Append(Declaration(kDeclMusic, 1, off, 11)).Chunk("c");
    EXPECT_EQ(Read(bad.data).code, ERR_UNEXPECTEDEOF) << off;
  }
}

TEST(Applet, CountsAreCheckedBeforeAllocating) {
  std::vector<Bytes> cases;
  auto add = [&](auto fill) {
    Bytes b;
    b.Magic().Version(5, 2);
    fill(b);
    b.Chunk("c");
    cases.push_back(b);
  };
  add([](Bytes& b) { b.U8(2).U32(0xFFFFFFFF); });
  add([](Bytes& b) { b.U8(8).U32(0x10000000); });
  add([](Bytes& b) { b.U8(27).U32(0x7FFFFFFF); });
  add([](Bytes& b) { b.U8(9).U32(0xFFFFFFFF); });
  add([](Bytes& b) { b.U8(26).U32(0xFFFFFFFF).U32(0); });
  add([](Bytes& b) { b.U8(26).U32(1).U32(0).Str("a").U32(0xFFFFFFF0); });
  add([](Bytes& b) {
    b.U8(2).U32(1).Append(Declaration(kDeclDisplay, 1)).U32(0).U32(0).U32(0).U32(0).U32(0);
    b.U32(0).U32(0).U32(0).U32(0).U32(0).U32(0xFFFFFFFF);
  });
  add([](Bytes& b) {
    b.U8(2).U32(1).Append(Declaration(kDeclBGPic, 1)).U8(1).U32(0).U32(0).U16(0).U32(0);
    b.U32(0).U32(0).U8(2).U32(0).U32(0).U32(0).U32(0).U8(255);
  });
  add([](Bytes& b) { b.U8(4).U16(0xFFFF); });
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(Read(cases[i].data).code, ERR_UNEXPECTEDEOF) << "case " << i;
  }
}

TEST(Applet, SampleAppletReadsWhole) {
  ReadResult r = Read(SampleApplet().data);
  ASSERT_EQ(r.code, 0);
  const qvAppletSettings& s = r.settings;
  EXPECT_EQ(std::string(s.mainChunk.begin(), s.mainChunk.end()), "CHUNK");
  EXPECT_STREQ(s.headerTexts[2], "header 13");
  ASSERT_EQ(s.declarations.size(), 4u);
  EXPECT_EQ(s.declarations[0].kind, kDeclDisplay);  // made by the display tags
  EXPECT_EQ(s.declarations[1].fileName, "logo.png");
  EXPECT_EQ(s.declarations[3].kind, kDeclDisplay);
  EXPECT_EQ(std::get<qvDisplayRecord>(s.declarations[3].sub).pubScreen, "Pub");
  EXPECT_EQ(s.labels.size(), 2u);
  EXPECT_EQ(s.userConstants.size(), 2u);
  EXPECT_EQ(s.lineMaps.size(), 2u);
  EXPECT_EQ(s.linkedFiles.size(), 2u);
  EXPECT_EQ(s.settingsLocked, 1);
  EXPECT_EQ(s.screenWidth, -1);  // tag 29 came last
}

// Every cut of the sample applet ends with "Unexpected end of file!", never a crash.
TEST(Applet, TruncationAtEveryOffset) {
  std::vector<uint8_t> whole = SampleApplet().data;
  for (size_t n = 0; n < whole.size(); ++n) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + n);
    EXPECT_EQ(Read(cut).code, ERR_UNEXPECTEDEOF) << "cut at " << n;
  }
}

// Changing any one byte gives success or one of the reader's codes, never a crash.
TEST(Applet, CorruptionOfEveryByte) {
  std::vector<uint8_t> whole = SampleApplet().data;
  const std::set<int> allowed{0, ERR_UNEXPECTEDEOF, ERR_APPLETVERSION, ERR_UNKNOWNSEC};
  for (size_t i = 4; i < whole.size(); ++i) {
    for (uint8_t value : {0x00, 0x20, 0x7F, 0xFF}) {
      std::vector<uint8_t> bad = whole;
      bad[i] = value;
      int code = Read(bad).code;
      EXPECT_TRUE(allowed.count(code)) << "byte " << i << " = " << int(value) << ": " << code;
    }
  }
}

TEST(Applet, ResetDisplaySettingsLeavesTheRest) {
  qvAppletSettings s;
  s.desktopDisplay = 1;
  s.mainChunk = {1, 2};
  s.displayMode = 2;
  s.scaleWidth = -50;
  ResetDisplaySettings(&s);
  EXPECT_EQ(s.desktopDisplay, 1);
  EXPECT_EQ(s.mainChunk.size(), 2u);
  EXPECT_EQ(s.displayMode, 0);
  EXPECT_EQ(s.scaleWidth, 0);
  EXPECT_EQ(s.settingsLocked, 0);
}

// ---------------------------------------------------------------------------------------------
// OpenApplet and the compressed container

namespace {

std::string Deflate(const std::vector<uint8_t>& in) {
  uLongf size = compressBound(in.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, in.data(), in.size(),
                      Z_DEFAULT_COMPRESSION),
            Z_OK);
  out.resize(size);
  return out;
}

Bytes Packed(const std::vector<uint8_t>& applet) {
  Bytes b;
  b.Raw(std::string("QVZ\0\0\0\0\0", 8)).Raw(Deflate(applet));
  return b;
}

class OpenAppletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::filesystem::current_path();
    char pattern[] = "/tmp/qv_applet_XXXXXX";
    dir_ = mkdtemp(pattern);
    host_.opening = [this](const char* name) { log_.push_back(std::string("open ") + name); };
    host_.done = [this] { log_.push_back("done"); };
    host_.tempFileName = [this] { return dir_ + "/temp" + std::to_string(++temps_) + ".qva"; };
  }
  void TearDown() override {
    std::filesystem::current_path(cwd_);
    std::filesystem::remove_all(dir_);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  int Open(const std::string& path, uint32_t offset = 0) {
    std::snprintf(state_.scriptPath, sizeof state_.scriptPath, "%s", path.c_str());
    state_.appletOffset = offset;
    SetErrorString("");
    int code = OpenApplet(&settings_, &state_, host_);
    argument_ = GetErrorString();
    return code;
  }
  static std::vector<uint8_t> SmallApplet() {
    Bytes b;
    b.Magic().Version(5, 2).U8(11).Str("Small").Chunk("MAIN");
    return b.data;
  }

  std::filesystem::path cwd_;
  std::string dir_;
  qvAppletHost host_;
  std::vector<std::string> log_;
  std::string argument_;
  int temps_ = 0;
  qvPlayerState state_;
  qvAppletSettings settings_;
};

}  // namespace

TEST_F(OpenAppletTest, PlainApplet) {
  Write("game.qva", SmallApplet());
  std::filesystem::current_path(dir_);
  std::filesystem::create_directory(dir_ + "/sub");
  std::filesystem::current_path(dir_ + "/sub");
  ASSERT_EQ(Open("../game.qva"), 0);
  EXPECT_EQ(state_.appletFlag, 1);
  EXPECT_EQ(std::string(state_.scriptPath), dir_ + "/game.qva");
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir_));
  EXPECT_STREQ(settings_.headerTexts[0], "Small");
  EXPECT_EQ(log_, (std::vector<std::string>{"open " + dir_ + "/game.qva", "done"}));
}

TEST_F(OpenAppletTest, QuietAndAlias) {
  std::string path = Write("game.qva", SmallApplet());
  std::strcpy(state_.scriptAlias, "My Game");
  ASSERT_EQ(Open(path), 0);
  EXPECT_EQ(log_, (std::vector<std::string>{"open My Game", "done"}));
  log_.clear();
  state_.quiet = 1;
  settings_ = qvAppletSettings{};
  ASSERT_EQ(Open(path), 0);
  EXPECT_TRUE(log_.empty());
}

TEST_F(OpenAppletTest, Failures) {
  EXPECT_EQ(Open(dir_ + "/missing.qva"), ERR_FILEEXIST);
  EXPECT_EQ(argument_, dir_ + "/missing.qva");
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(Open(dir_), ERR_FILEEXIST);

  // Five bytes are the least an applet needs.
  std::string four = Write("four.qva", {'Q', 'V', 'A', 0});
  EXPECT_EQ(Open(four), ERR_NOAPPLET);
  EXPECT_EQ(argument_, "four.qva");
  std::string five = Write("five.qva", {'Q', 'V', 'A', 0, 1});
  EXPECT_EQ(Open(five), ERR_UNEXPECTEDEOF);
  EXPECT_EQ(Open(Write("text.txt", {'h', 'e', 'l', 'l', 'o'})), ERR_NOAPPLET);

  Bytes newer;
  newer.Magic().Version(5, 3).Chunk("x");
  EXPECT_EQ(Open(Write("new.qva", newer.data)), ERR_APPLETVERSION);
  EXPECT_EQ(argument_, "5.3");
  Bytes unknown;
  unknown.Magic().U8(77);
  EXPECT_EQ(Open(Write("unknown.qva", unknown.data)), ERR_UNKNOWNSEC);

  // An offset beyond the file leaves no applet.
  EXPECT_EQ(Open(Write("short.qva", SmallApplet()), 100), ERR_NOAPPLET);
}

TEST_F(OpenAppletTest, AppendedApplet) {
  std::vector<uint8_t> exe(333, 0x90);
  std::vector<uint8_t> applet = SmallApplet();
  exe.insert(exe.end(), applet.begin(), applet.end());
  ASSERT_EQ(Open(Write("player", exe), 333), 0);
  EXPECT_EQ(state_.appletFlag, 1);
  EXPECT_EQ(std::string(settings_.mainChunk.begin(), settings_.mainChunk.end()), "MAIN");
}

TEST_F(OpenAppletTest, CompressedApplet) {
  Bytes packed = Packed(SmallApplet());
  packed.Raw("trailing bytes are ignored");
  std::vector<uint8_t> exe(100, 0x90);
  exe.insert(exe.end(), packed.data.begin(), packed.data.end());
  std::string path = Write("packed", exe);
  ASSERT_EQ(Open(path, 100), 0);
  EXPECT_EQ(state_.appletFlag, 1);
  EXPECT_EQ(state_.appletOffset, 0u);
  EXPECT_EQ(std::string(state_.scriptPath), dir_ + "/temp1.qva");
  EXPECT_STREQ(settings_.headerTexts[0], "Small");
  // Nothing reads the unpacked copy by its name again: it is gone once read.
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/temp1.qva"));
  // The status line names the file the user gave.
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_[0], "open " + path);

  // Linked files are read from the container by its name: this copy stays.
  Bytes linked;
  linked.Magic().Version(5, 2).U8(26).U32(1).U32(0).Str("a.bin").U32(3).Raw("xyz").Chunk("MAIN");
  settings_ = qvAppletSettings{};
  ASSERT_EQ(Open(Write("linked.qvz", Packed(linked.data).data)), 0);
  ASSERT_EQ(settings_.linkedFiles.size(), 1u);
  EXPECT_EQ(std::string(state_.scriptPath), dir_ + "/temp2.qva");
  std::ifstream temp(dir_ + "/temp2.qva", std::ios::binary);
  std::vector<uint8_t> inflated((std::istreambuf_iterator<char>(temp)), {});
  EXPECT_EQ(inflated, linked.data);
}

TEST_F(OpenAppletTest, CompressedFailures) {
  Bytes packed = Packed(SmallApplet());
  std::vector<uint8_t> cut(packed.data.begin(), packed.data.end() - 6);
  EXPECT_EQ(Open(Write("cut.qvz", cut)), ERR_ZLIBDATA);
  std::vector<uint8_t> corrupt = packed.data;
  corrupt[12] ^= 0x55;
  corrupt[13] ^= 0xAA;
  EXPECT_EQ(Open(Write("corrupt.qvz", corrupt)), ERR_ZLIBDATA);
  EXPECT_EQ(Open(Write("header.qvz", {'Q', 'V', 'Z', 0, 0, 0})), ERR_ZLIBDATA);

  // A packed file that holds no applet, or a packed applet packed once more: the message names
  // the file the user gave, not the temporary one.
  std::vector<uint8_t> notApplet(16, 'x');
  EXPECT_EQ(Open(Write("text.qvz", Packed(notApplet).data)), ERR_NOAPPLET);
  EXPECT_EQ(argument_, "text.qvz");
  EXPECT_EQ(Open(Write("twice.qvz", Packed(packed.data).data)), ERR_NOAPPLET);
  EXPECT_EQ(argument_, "twice.qvz");

  host_.tempFileName = [this] { return dir_ + "/no/such/dir/temp.qva"; };
  EXPECT_EQ(Open(Write("ok.qvz", packed.data)), ERR_WRITEFILE);
  EXPECT_EQ(argument_, dir_ + "/no/such/dir/temp.qva");
}

// ---------------------------------------------------------------------------------------------
// The link descriptor

namespace {

// The marker bytes, made at run time so that this test's own code holds no copy of them.
std::vector<uint8_t> MarkerBytes() {
  std::vector<uint8_t> m{0x3F, 0x21, 0x35, 0x01, 0x3F, 0x35, 0x3F, 0xE5};
  for (auto& b : m) b = static_cast<uint8_t>(~b);
  return m;
}

}  // namespace

// Inside a patched copy of this program (started by PatchedCopySeesTheOffset) only the descriptor
// is checked, before any test runs: exit status 0 when it reads the expected offset.
[[maybe_unused]] const int kPatchedCopyCheck = [] {
  if (const char* expect = std::getenv("QV_EXPECT_LINK_OFFSET")) {
    std::optional<uint32_t> offset = LinkedAppletOffset();
    std::_Exit(offset.has_value() && *offset == std::strtoul(expect, nullptr, 10) ? 0 : 1);
  }
  return 0;
}();

TEST(LinkDescriptor, UnpatchedProgramHasNoApplet) {
  EXPECT_FALSE(LinkedAppletOffset().has_value());
}

TEST(LinkDescriptor, PatchedCopySeesTheOffset) {
  std::ifstream self("/proc/self/exe", std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(self)), {});
  ASSERT_FALSE(image.empty());

  const std::vector<uint8_t> marker = MarkerBytes();
  const std::string text = std::string("Brellcombe Interactive") + " Studios";
  std::vector<size_t> found;
  for (size_t i = 36; i + marker.size() + 1 <= image.size(); ++i) {
    if (std::memcmp(&image[i], marker.data(), marker.size()) != 0) continue;
    size_t start = i - 36;
    if (std::memcmp(&image[start], text.data(), text.size()) == 0 && image[start + 30] == 0 &&
        image[start + 31] == 0 && image[i + 8] == 0) {
      found.push_back(start);
    }
  }
  ASSERT_EQ(found.size(), 1u);
  size_t at = found[0] + kLinkOffsetAt;
  EXPECT_EQ(image[at], 0xDE);
  EXPECT_EQ(image[at + 3], 0xDE);
  const uint32_t offset = 0x00123456;
  image[at] = 0x00;
  image[at + 1] = 0x12;
  image[at + 2] = 0x34;
  image[at + 3] = 0x56;

  char pattern[] = "/tmp/qv_linked_XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string copy = dir + "/player";
  std::ofstream(copy, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  ASSERT_EQ(chmod(copy.c_str(), 0700), 0);
  auto runCopy = [&](uint32_t expect) {
    std::string command = "QV_EXPECT_LINK_OFFSET=" + std::to_string(expect) + " '" + copy + "'";
    return std::system(command.c_str());
  };
  const int right = runCopy(offset);
  const int wrong = runCopy(offset + 1);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(WIFEXITED(right) && WIFEXITED(wrong));
  EXPECT_EQ(WEXITSTATUS(right), 0);
  EXPECT_EQ(WEXITSTATUS(wrong), 1);
}
