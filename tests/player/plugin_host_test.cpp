// The plugin host's table: every slot where the interface puts it (the C runtime's, FreeType's
// and the machine's own functions among them), the group pointers and version words, the
// embedded fonts, and the picture service's byte order.
#include "player/plugin_host.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/support.h"
#include "core/plugins.h"
#include "core/vfile.h"
#include "tests/fixtures/picture_reference.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

template <typename F>
void* Address(F f) {
  return reinterpret_cast<void*>(f);
}

TEST(PluginHost, SlotsHoldTheirServicesInOrder) {
  void* table[QV_SLOT_COUNT] = {};
  FillPluginServices(table);
  for (int i = 0; i < QV_SLOT_COUNT; ++i) EXPECT_NE(table[i], nullptr) << "slot " << i;
  struct Row {
    int slot;
    void* function;
  } rows[] = {
      {QV_SLOT_MALLOC, Address(&malloc)},
      {QV_SLOT_FREE, Address(&free)},
      {QV_SLOT_FOPEN, Address(&fopen)},
      {QV_SLOT_VSNPRINTF, Address(&vsnprintf)},
      {QV_SLOT_STRTOUL, Address(&strtoul)},
      {QV_SLOT_ROUNDTOINT, Address(&RoundToInt)},
      {QV_SLOT_SETERRORSTRING, Address(&SetErrorString)},
      {QV_SLOT_OPENFILEQ, Address(&OpenFileQ)},
      {QV_SLOT_GETDISPLAYNAME, Address(&GetDisplayName)},
      {QV_SLOT_VMGETTOP, Address(&VmGetTop)},
      {QV_SLOT_VMPUSHNUMBER, Address(&VmPushNumber)},
      {QV_SLOT_VMGETMETATABLE, Address(&VmGetMetaTable)},
      {QV_SLOT_VMCHECKNUMBER, Address(&VmCheckNumber)},
      {QV_SLOT_VMCHECKSTACK, Address(&VmCheckStack)},
  };
  for (const Row& r : rows) EXPECT_EQ(table[r.slot], r.function) << "slot " << r.slot;
  // FreeType's own functions, first and last.
  void* freetype = dlopen("libfreetype.so.6", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(freetype, nullptr);
  EXPECT_EQ(table[QV_SLOT_FT_INIT_FREETYPE], dlsym(freetype, "FT_Init_FreeType"));
  EXPECT_EQ(table[QV_SLOT_FT_MULFIX], dlsym(freetype, "FT_MulFix"));
  EXPECT_EQ(table[QV_SLOT_FT_LOAD_SFNT_TABLE], dlsym(freetype, "FT_Load_Sfnt_Table"));
  dlclose(freetype);
  // The three Vera faces: TrueType data of the sizes the interface names.
  const uintptr_t sizes[] = {65932, 49224, 60280};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table[QV_SLOT_FONTSIZE_VERASANS + i]), sizes[i]);
    const auto* data = static_cast<const uint8_t*>(table[QV_SLOT_FONT_VERASANS + i]);
    EXPECT_EQ(std::memcmp(data, "\x00\x01\x00\x00", 4), 0);
  }
}

TEST(PluginHost, InterfaceGroupsPointIntoTheTable) {
  SetPluginServiceFiller(FillPluginServices);
  const qvPluginApi* api = PluginHostApi();
  EXPECT_EQ(api->version, 5u);
  EXPECT_EQ(api->revision, 2u);
  EXPECT_EQ(api->tail[0], 1u);
  EXPECT_EQ(api->tail[1], 1u);
  const int firsts[10] = {0, 32, 52, 75, 87, 49, 89, 90, 116, 184};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(api->groups[i] - api->groups[0], firsts[i]);
  EXPECT_EQ(api->groups[0][QV_SLOT_VMGETTOP], Address(&VmGetTop));
  EXPECT_EQ(api->groups[8][0], Address(&VmGetTop));
  SetPluginServiceFiller(nullptr);
}

TEST(PluginHost, PicturesComeAsRedGreenBlueAlphaBytes) {
  void* table[QV_SLOT_COUNT] = {};
  FillPluginServices(table);
  auto load = reinterpret_cast<qvFn_ApiLoadPictureARGB>(table[QV_SLOT_APILOADPICTUREARGB]);
  auto pixels = reinterpret_cast<qvFn_ApiGetPicturePixels>(table[QV_SLOT_APIGETPICTUREPIXELS]);
  auto freeVec = reinterpret_cast<qvFn_ApiFreeVec>(table[QV_SLOT_APIFREEVEC]);
  for (const char* name : {"pil_rgba8", "rgb8_adam7"}) {
    SCOPED_TRACE(name);
    const std::string base = std::string(QV_PNG_FIXTURES) + "/" + name;
    qvtest::PictureReference ref = qvtest::ReadPictureReference(base + ".argb");
    int32_t w = 0, h = 0, alpha = -1;
    void* picture = load((base + ".png").c_str(), nullptr, &w, &h, &alpha);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(uint32_t(w), ref.width);
    ASSERT_EQ(uint32_t(h), ref.height);
    EXPECT_EQ(uint32_t(alpha), ref.alpha);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pixels(picture));
    for (size_t i = 0; i < ref.pixels.size(); ++i) {
      const uint32_t p = ref.pixels[i];
      const uint8_t want[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p),
                               ref.alpha ? uint8_t(p >> 24) : uint8_t(255)};
      ASSERT_EQ(std::memcmp(bytes + 4 * i, want, 4), 0) << "pixel " << i;
    }
    freeVec(picture);
  }
  EXPECT_EQ(load("missing.png", nullptr, nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace qv
