// Fuzz target of start-up's preloading: the input bytes become object declarations (every kind,
// unknown ones too, with names, linked stretches, base directories, extra words and sub-records
// made of bytes) and the settings' display words, and PreloadObjects makes them through the
// display, brush and event libraries' own commands (the others are not opened, so their kinds meet
// a missing command). Every answer must be success or an error code, the stack must be left as it
// was, and success must leave display 1 made and the declarations freed.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/errors.h"
#include "core/legacy_events.h"
#include "core/player_state.h"
#include "core/preload.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "vm/vm.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  int Next() { return at < size ? data[at++] : -1; }
  uint8_t Byte() {
    int b = Next();
    return b < 0 ? 0 : static_cast<uint8_t>(b);
  }
  // Small numbers mostly, the edges now and then.
  int32_t Number() {
    static const int32_t kEdges[] = {0, -1, 1, 0x7FFFFFFF, INT32_MIN, 0xFFFFFF, -100000, 65535};
    uint8_t b = Byte();
    if (b >= 0xF8) return kEdges[b - 0xF8];
    return static_cast<int32_t>(b) - 16;
  }
  std::string Text() {
    uint8_t length = Byte();
    std::string text;
    if (length == 0xFF) return std::string(1100, 'n');  // past every name limit
    for (int i = 0; i < length % 40 && at < size; ++i) text.push_back(static_cast<char>(Byte()));
    return text;
  }
};

const char* const kNames[] = {"", "a.png", "pic.png", "A.PNG", "x:y", "::chunk", "data.txt"};

qv::qvObjectDeclaration MakeDeclaration(Bytes& in) {
  using namespace qv;
  qvObjectDeclaration decl;
  uint8_t head = in.Byte();
  decl.kind = head % 15;  // 13 and 14 are kinds no command makes
  decl.id = in.Number();
  decl.fileName = (head & 0x80) ? in.Text() : kNames[in.Byte() % std::size(kNames)];
  if (head & 0x40) {
    decl.linkedOffset = static_cast<uint32_t>(in.Number());
    decl.linkedLength = static_cast<uint32_t>(in.Number());
  }
  if (head & 0x20) decl.baseDirectory = in.Text();
  decl.extra1 = in.Number();
  decl.extra2 = in.Number();
  decl.sourceLine = in.Number();
  decl.callerFlag = in.Byte() & 1;
  switch (decl.kind) {
    case kDeclBGPic: {
      qvBGPicDecl b;
      b.fillStyle = in.Byte() % 5;
      b.fillColor = static_cast<uint32_t>(in.Number());
      b.gradient.style = in.Number();
      b.gradient.angle = in.Number();
      for (int n = in.Byte() % 4; n > 0; --n) {
        b.gradient.colors.push_back({static_cast<uint32_t>(in.Number()), in.Number() / 8.0});
      }
      b.textureBrush = in.Number();
      decl.sub = b;
      break;
    }
    case kDeclBrush:
      decl.sub = qvBrushDecl{in.Number(), in.Number(), in.Number(),
                             in.Number(), in.Number(), in.Number()};
      break;
    case kDeclAnim:
      decl.sub = qvAnimDecl{in.Number(), in.Number(), in.Number(), in.Number(),
                            in.Number(), in.Number(), in.Number()};
      break;
    case kDeclButton:
      decl.sub = qvButtonDecl{{in.Number(), in.Number(), in.Number(), in.Number()}};
      break;
    case kDeclSprite:
      decl.sub = qvSpriteDecl{in.Number(), in.Number(), in.Number(),
                              in.Number(), in.Number(), in.Number()};
      break;
    case kDeclDisplay: {
      qvDisplayRecord d;
      d.valueFlags = static_cast<uint32_t>(in.Number());
      d.maskFlags = static_cast<uint32_t>(in.Number());
      // Sizes stay small: a display allocates its picture at once.
      d.width = in.Byte() - 16;
      d.height = in.Byte() - 16;
      d.scaleWidth = in.Number();
      d.bgpicId = in.Number();
      d.fillStyle = in.Byte() % 5;
      d.title = in.Text();
      decl.sub = d;
      break;
    }
    default:
      if (head & 0x10) decl.sub = qvButtonDecl{};  // a sub-record of another kind
      break;
  }
  return decl;
}

qv::qvScriptState* Machine() {
  static qv::qvScriptState* L = [] {
    qv::qvScriptState* state = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(state);
    for (const qv::qvLibrary* library :
         {&qv::kDisplayLibrary, &qv::kBrushLibrary, &qv::kEventLibrary}) {
      qv::OpenLibrary(state, *library);
    }
    return state;
  }();
  return L;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvScriptState* L = Machine();
  Bytes in{data, size};
  auto* settings = new qvAppletSettings;
  auto* state = new qvPlayerState;
  state->quiet = 1;
  state->appletOffset = static_cast<uint32_t>(in.Number());
  uint8_t words = in.Byte();
  settings->settingsLocked = words & 1;
  settings->desktopDisplay = (words >> 1) & 1;
  settings->displayFlags = static_cast<uint32_t>(in.Number());
  settings->scaleWidth = in.Number();
  settings->scaleHeight = in.Number();
  for (int count = 0; in.at < in.size && count < 24; ++count) {
    settings->declarations.push_back(MakeDeclaration(in));
  }
  int top = VmGetTop(L);
  int code = PreloadObjects(L, settings, state);
  if (VmGetTop(L) != top) std::abort();
  if (code != 0 && code < 1000) std::abort();
  if (code == 0) {
    qvDisplay* display = nullptr;
    if (!settings->declarations.empty() || FindDisplay({1, nullptr}, &display) != 0) std::abort();
  }
  FreeDisplaySubsystem(L);
  ResetLegacyEvents();
  delete settings;
  delete state;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(PreloadFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
