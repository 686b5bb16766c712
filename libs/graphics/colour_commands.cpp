// Colour arithmetic of the graphics library, and the questions that need no display: the
// picture facts of a file and the video-recording time. Colours are 32-bit words read through
// the machine's integer check (truncated, low 32 bits kept).
#include <cstdint>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/plugins.h"
#include "display/display.h"
#include "image/picture.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

uint32_t Colour(qvScriptState* L, int index) { return static_cast<uint32_t>(VmCheckInt(L, index)); }

int32_t PushChannel(qvScriptState* L, int shift) {
  CheckArgCount(L, 1, 1);
  VmPushNumber(L, (Colour(L, 1) >> shift) & 255);
  return 1;
}

// The colours GetRandomColor picks from, 4 bits per channel.
constexpr uint16_t kRandomColours[246] = {
    0xCCC, 0x000, 0xFFF, 0x888, 0xA20, 0xD50, 0xEB0, 0x080, 0x6B0, 0x170, 0x5BC, 0x367, 0x07B,
    0x048, 0xE88, 0xB55, 0xE72, 0xC64, 0x820, 0xFB7, 0x90F, 0x60C, 0xB70, 0x950, 0xFA5, 0xD84,
    0x9B9, 0x686, 0x4A7, 0x175, 0x333, 0xEEE, 0x666, 0x000, 0x777, 0x240, 0x620, 0x510, 0x750,
    0x540, 0x350, 0x030, 0x256, 0x133, 0x035, 0x024, 0x744, 0x522, 0x731, 0x632, 0x410, 0x753,
    0x407, 0x306, 0x530, 0x420, 0x752, 0x642, 0x454, 0x343, 0x253, 0x032, 0x111, 0x777, 0xFF0,
    0xEE0, 0xDD0, 0xCC0, 0xBB0, 0xAA0, 0x990, 0x880, 0x770, 0x660, 0x550, 0x440, 0x330, 0x220,
    0x110, 0xF00, 0xE00, 0xD00, 0xC00, 0xB00, 0xA00, 0x900, 0x800, 0x700, 0x600, 0x500, 0x400,
    0x300, 0x200, 0x0F0, 0x0E0, 0x0D0, 0x0C0, 0x0B0, 0x0A0, 0x090, 0x080, 0x070, 0x060, 0x050,
    0x040, 0x030, 0x020, 0x010, 0x00F, 0x00E, 0x00D, 0x00C, 0x00B, 0x00A, 0x009, 0x008, 0x007,
    0x006, 0x005, 0x004, 0x003, 0x002, 0x0FF, 0x0EE, 0x0DD, 0x0CC, 0x0BB, 0x0AA, 0x099, 0x088,
    0x077, 0x066, 0x055, 0x044, 0x033, 0x022, 0x011, 0xF0F, 0xE0E, 0xD0D, 0xC0C, 0xB0B, 0xA0A,
    0x909, 0x808, 0x707, 0x606, 0x505, 0x404, 0x303, 0x202, 0x101, 0xFFF, 0xFFE, 0xFFD, 0xFFC,
    0xFFB, 0xFFA, 0xFF9, 0xFF8, 0xFF7, 0xFF6, 0xFF5, 0xFF4, 0xFF3, 0xFF2, 0xFF1, 0xFF0, 0xFFF,
    0xEEE, 0xDDD, 0xCCC, 0xBBB, 0xAAA, 0x999, 0x888, 0x777, 0x666, 0x555, 0x444, 0x333, 0x222,
    0x111, 0xF77, 0xF87, 0xFA7, 0xFB7, 0xFC7, 0xFD7, 0xFF7, 0xEF7, 0xDF7, 0xBF7, 0xAF7, 0x9F7,
    0x8F7, 0x7F8, 0x7F9, 0x7FA, 0x7FC, 0x7FD, 0x7FE, 0x7EF, 0x7DF, 0x7CF, 0x7BF, 0x79F, 0x78F,
    0x77F, 0x97F, 0xA7F, 0xB7F, 0xC7F, 0xE7F, 0xF7F, 0xF00, 0xF20, 0xF50, 0xF70, 0xFA0, 0xFC0,
    0xFE0, 0xDF0, 0xBF0, 0x8F0, 0x6F0, 0x3F0, 0x1F0, 0x0F1, 0x0F4, 0x0F6, 0x0F9, 0x0FB, 0x0FD,
    0x0EF, 0x0BF, 0x09F, 0x07F, 0x04F, 0x02F, 0x00F, 0x30F, 0x50F, 0x80F, 0xA0F, 0xC0F,
};

}  // namespace

int32_t Red(qvScriptState* L) { return PushChannel(L, 16); }
int32_t Green(qvScriptState* L) { return PushChannel(L, 8); }
int32_t Blue(qvScriptState* L) { return PushChannel(L, 0); }

// RGB(r, g, b): the channels are not clipped, so high bits of one reach the next.
int32_t RGB(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  uint32_t r = Colour(L, 1), g = Colour(L, 2), b = Colour(L, 3);
  VmPushNumber(L, static_cast<int32_t>((r << 16) | (g << 8) | b));
  return 1;
}

// ARGB(alpha, colour): unsigned, so that a colour with a high alpha reads back as one word.
int32_t ARGB(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmPushNumber(L, (Colour(L, 1) << 24) | Colour(L, 2));
  return 1;
}

// MixRGB(c1, c2, ratio): ratio 0 (c1) to 255 (almost c2), or a percentage of 255. A ratio out
// of range would make a channel run into its neighbour.
int32_t MixRGB(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  uint32_t c1 = Colour(L, 1), c2 = Colour(L, 2);
  int ratio = TruncateToInt(GetNumberOrPercent(L, 3, 255, 0, nullptr));
  if (ratio < 0 || ratio > 255) return ERR_WRONGUSAGE;
  uint32_t mixed = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    int32_t a = int32_t((c1 >> shift) & 255), b = int32_t((c2 >> shift) & 255);
    // The product's shift rounds toward minus infinity, as the mix always has.
    int32_t channel = a + ((b - a) * ratio >> 8);
    mixed |= uint32_t(channel) << shift;
  }
  VmPushNumber(L, mixed);
  return 1;
}

int32_t GetRandomColor(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  // Random48 is below 1, so the index stays below the table's size.
  uint32_t rgb = kRandomColours[static_cast<int>(Random48() * 246)];
  uint32_t colour = ((rgb >> 8) & 15) * 17 << 16 | ((rgb >> 4) & 15) * 17 << 8 | (rgb & 15) * 17;
  VmPushNumber(L, colour);
  return 1;
}

// GetPen(pen): the palette entry of the output target, the pen held inside 0..255; a target
// whose picture brought no palette (only ILBM pen pictures bring one) answers "no colour".
int32_t GetPen(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t pen = VmCheckInt(L, 1);
  const qvBGPic* target = OutputTarget();
  const auto* palette = target != nullptr ? static_cast<const uint32_t*>(target->ownedBlock)
                                          : nullptr;
  if (palette == nullptr) {
    VmPushNumber(L, 4294967295.0);
    return 1;
  }
  VmPushNumber(L, palette[pen < 0 ? 0 : pen > 255 ? 255 : pen]);
  return 1;
}

// IsPicture(file): whether the file is a picture the player reads, and its facts.
int32_t IsPicture(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  // The image plugins first, then the built-in readers; vector pictures come only from plugins.
  qvImageFacts plugin{};
  qvPictureFacts facts;
  bool vector = false;
  bool ok = GetImageInfoViaPlugins(name, &plugin);
  if (ok) {
    facts.width = plugin.width;
    facts.height = plugin.height;
    facts.alpha = plugin.alpha == 1 ? 1 : 0;
    vector = plugin.kind == 1;
  } else {
    ok = LoadPicture(name, nullptr, nullptr, &facts) == 0;
  }
  VmPushNumber(L, ok ? 1 : 0);
  VmNewTable(L);
  SetFieldInt(L, "width", ok ? facts.width : 0);
  SetFieldInt(L, "height", ok ? facts.height : 0);
  SetFieldInt(L, "alpha", ok ? facts.alpha : 0);
  SetFieldInt(L, "vector", vector ? 1 : 0);
  return 2;
}

// DumpVideoTime(): the player records no video.
int32_t DumpVideoTime(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, -1);
  return 1;
}

}  // namespace qv::cmd
