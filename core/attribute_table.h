// GetAttribute's table: every subsystem registers a row per object kind it answers for, so that a
// new kind adds its rows in its own folder. The graphics library reads the script's arguments
// and pushes the answer; a row finds its object and answers with plain values.
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv {

// The attribute numbers that scripts name with the ATTR* constants.
namespace attr {
enum : int32_t {
  kWidth = 0,
  kHeight = 1,
  kMaxWidth = 2,
  kMaxHeight = 3,
  kBGPic = 4,
  kTransparentColor = 5,
  kLayers = 6,
  kXPos = 7,
  kYPos = 8,
  kType = 9,
  kVisible = 10,
  kNumFrames = 11,
  kCurFrame = 12,
  kLayerId = 13,
  kDuration = 14,
  kPitch = 15,
  kHasMask = 16,
  kHasAlpha = 17,
  kPosition = 18,
  kFormat = 19,
  kBitRate = 20,
  kCursorX = 21,
  kCursorY = 22,
  kOnScreen = 23,
  kBorderLeft = 24,
  kBorderTop = 25,
  kBorderRight = 26,
  kBorderBottom = 27,
  kHostWidth = 28,
  kHostHeight = 29,
  kFontAscender = 30,
  kFontDescender = 31,
  kFontName = 32,
  kFontSize = 33,
  kFontScalable = 34,
  kFontAA = 35,
  kText = 36,
  kFrameDelay = 37,
  kPointer = 38,
  kClipRegion = 39,
  kState = 40,
  kActive = 41,
  kMode = 42,
  kScaleMode = 43,
  kScaleWidth = 44,
  kScaleHeight = 45,
  kBorderless = 46,
  kFixed = 47,
  kSizeable = 48,
  kNoHide = 49,
  kNoModeSwitch = 50,
  kTitle = 51,
  kMarginLeft = 52,
  kMarginRight = 53,
  kOutputDevice = 54,
  kDoubleBuffer = 55,
  kHostDepth = 56,
  kSize = 57,
  kFunction = 58,
  kUserData = 59,
  kCount = 60,
  kNoClose = 61,
  kGroup = 62,
  kMaskMode = 63,
  kAlphaIntensity = 64,
  kRawXPos = 65,
  kRawYPos = 66,
  kRawWidth = 67,
  kRawHeight = 68,
  kLayersOn = 69,
  kOrientation = 70,
  kKeyboard = 71,
  kCanSeek = 72,
  kHardware = 73,
  kZPos = 74,
  kDriver = 75,
};
// True for the attributes of the current font (ascender .. anti-aliasing).
constexpr bool IsFontAttribute(int32_t attribute) {
  return attribute >= kFontAscender && attribute <= kFontAA;
}
}  // namespace attr

// One value of an answer.
struct qvAttrValue {
  enum Type : int32_t {
    kNumber,
    kText,      // text stays the object's until the answer is pushed
    kObjectId,  // pushed as its handle, or else its number
    kNil,
    kReference,  // a script value held in the machine's registry (kNoReference reads as Nil)
  };
  Type type;
  double number;
  const char* text;
  qvObjectId id;
  int32_t reference;
};

// What a row answers: one value, or a few for the attributes that give several.
struct qvAttrAnswer {
  static constexpr int kMaxValues = 3;
  int32_t count = 0;
  qvAttrValue values[kMaxValues] = {};

  void Number(double value) { Add({qvAttrValue::kNumber, value, nullptr, {}, 0}); }
  void Text(const char* text) { Add({qvAttrValue::kText, 0, text, {}, 0}); }
  void Id(qvObjectId id) { Add({qvAttrValue::kObjectId, 0, nullptr, id, 0}); }
  void Nil() { Add({qvAttrValue::kNil, 0, nullptr, {}, 0}); }
  void Reference(int32_t ref) { Add({qvAttrValue::kReference, 0, nullptr, {}, ref}); }

 private:
  void Add(const qvAttrValue& value) {
    if (count < kMaxValues) values[count++] = value;
  }
};

// How the script names the object of a kind.
enum class qvAttrIdForm : int32_t {
  kObject,     // an object id: a number or a handle
  kEventName,  // an event name
  kLayer,      // a layer's position in the current BGPic's list or its name
};

// What the script asked.
struct qvAttrQuery {
  qvScriptState* L;  // for finders that take the machine (never for its stack)
  int32_t kind;
  int32_t attribute;
  qvObjectId id;     // kObject; a layer by position has it in id.number
  const char* name;  // kEventName, or a layer by name; else null
};

// A row: 0 with the answer filled, or an error code (the kind's not-found error for a missing
// object, ERR_UNKNOWNATTR for an attribute the kind does not know).
using qvAttrAnswerFunction = int32_t (*)(const qvAttrQuery& query, qvAttrAnswer* answer);
struct qvAttrKind {
  int32_t kind;
  qvAttrIdForm idForm;
  qvAttrAnswerFunction answer;
};

// Registers the rows of a table that ends with a row of answer null (kept, not copied); a row
// replaces an earlier one of its kind. 0, or ERR_OUTOFRANGE for a kind beyond the object kinds
// (the rows before it stay registered).
int32_t RegisterAttributeKinds(const qvAttrKind* rows);
// The row of the kind, or null when no subsystem answers for it.
const qvAttrKind* FindAttributeKind(int32_t kind);
// Forgets every row (FreeRegistries does this at shutdown).
void ForgetAttributeKinds();

}  // namespace qv
