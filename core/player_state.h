// The two process-wide records of the player: the player state (command line, options, paths)
// and the applet settings (what the applet's header and the options say about the run), with
// the records that hang off the applet settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "core/line_maps.h"

namespace qv {

constexpr size_t kPathSize = 1024;       // paths and file names: 1023 characters + terminator
constexpr size_t kHeaderTextSize = 256;  // applet header strings and the script alias
constexpr size_t kErrorMessageSize = 2048;
constexpr int kHeaderTextCount = 5;  // name, version, copyright, author, description
constexpr int kIconSizeCount = 7;    // 16, 24, 32, 48, 128, 256, 512 pixels

constexpr int32_t kPositionUnset = -100000;

// Display flag bits: the settings' display flags and the value and mask words of display records.
enum : uint32_t {
  kDisplayBorderless = 1,
  kDisplaySizeable = 2,
  kDisplayFixed = 4,
  kDisplayNoModeSwitch = 8,
  kDisplayHidePointer = 16,
  kDisplayNoHide = 32,
  kDisplayAutoScale = 64,
  kDisplaySmoothScale = 128,
  kDisplayLayerScale = 0x100,
  kDisplayBGPicGiven = 0x200,
  kDisplayActive = 0x400,
  kDisplayHidden = 0x800,
  kDisplayLayers = 0x1000,
  kDisplayUseQuartz = 0x2000,
  kDisplayNoClose = 0x4000,
  kDisplayKeepProportions = 0x8000,
  kDisplayFitScale = 0x10000,
  kDisplayKeepScreenOn = 0x40000,
};

// Display modes of the applet settings.
enum : int32_t {
  kDisplayModeDefault = 0,
  kDisplayModeWindow = 1,
  kDisplayModeFullScreen = 2,
  kDisplayModeOwnScreen = 5,
  kDisplayModeFakeFullScreen = 6,
};

// Backfill types.
enum : int32_t {
  kBackfillNone = 0,
  kBackfillColor = 1,
  kBackfillGradient = 2,
  kBackfillTexture = 3,
  kBackfillPicture = 4,
};

// Kinds of object declarations.
enum : int32_t {
  kDeclBGPic = 0,
  kDeclBrush = 1,
  kDeclAnim = 2,
  kDeclMusic = 3,
  kDeclSample = 4,
  kDeclButton = 5,
  kDeclKeyHandler = 6,
  kDeclSprite = 7,
  kDeclFile = 8,
  kDeclFont = 9,
  kDeclDisplay = 10,
  kDeclVideo = 11,
  kDeclPlugin = 12,
};

// -------------------------------------------------------------------------------------------
// Player state

// A -NAME value pair of the command line or the INI file that names no option.
struct qvUserArgument {
  std::string name;
  std::string value;
};

struct qvPlayerState {
  int32_t appletFlag = 0;           // the opened file is an applet ("QVA\0")
  char scriptPath[kPathSize] = {};  // the file to run (the program for a linked applet,
                                    // the temporary file after unpacking)
  char programPath[kPathSize] = {};
  char compileTarget[kPathSize] = {};
  char scriptAlias[kHeaderTextSize] = {};  // shown in "Opening script %s" when set
  char givenScriptName[kPathSize] = {};    // the script word of the command line as given
  int32_t quiet = 0;
  int32_t noSound = 0;
  int32_t soundValue = 0;
  int32_t compileRequested = 0;
  uint32_t exeTypes = 0;  // EXETYPE bits, recorded only
  char errorMessage[kErrorMessageSize] = {};
  int32_t compress = 0;   // recorded only
  int32_t overwrite = 0;  // recorded only
  std::vector<qvUserArgument> userArguments;
  int32_t lockSettings = 0;  // recorded only

  // Start-up values that live as long as the state.
  uint32_t appletOffset = 0;  // where the applet starts inside the script file
  int32_t linkedApplet = 0;   // the applet is appended to the program itself
  int32_t debugDevice = 0;
  std::string debugDeviceTarget;  // "::hwnd<n>" or "::file<path>", for the platform
  std::string exportCommands;     // empty = not requested
  std::string exportConstants;
  std::string exportPlugins;
  std::vector<std::string> skipPlugins;
  std::string private3;                               // handed to the first display
  std::array<std::string, kIconSizeCount> iconPaths;  // empty = option not given
};

// -------------------------------------------------------------------------------------------
// Applet settings and their records

struct qvGradientColor {
  uint32_t color = 0;
  double position = 0.0;
};

// A gradient as the applet declares it (the drawing code's own is qvGradient, image/image.h).
struct qvGradientDecl {
  int32_t style = 2;
  uint32_t startColor = 0;
  uint32_t endColor = 0;
  int32_t angle = 0;
  double centerX = 0.5;
  double centerY = 0.5;
  double balance = 0.5;
  double border = 0.0;
  std::vector<qvGradientColor> colors;
};

// Drag and size regions of a display.
struct qvRegion {
  int32_t type = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct qvDisplayRecord {
  std::string title = "Quillvane";
  uint32_t valueFlags = 0;
  uint32_t maskFlags = 0;  // flags the applet set either way
  int32_t bgpicId = 0;
  int32_t x = kPositionUnset;
  int32_t y = kPositionUnset;
  int32_t width = 640;
  int32_t height = 480;
  uint32_t color = 0;
  int32_t scaleWidth = 0;
  int32_t scaleHeight = 0;
  std::vector<qvRegion> dragRegions;
  std::vector<qvRegion> sizeRegions;
  int32_t fillStyle = 1;
  qvGradientDecl gradient;
  int32_t textureBrush = 0;
  int32_t textureX = 0;
  int32_t textureY = 0;
  std::string pubScreen;
};

struct qvBGPicDecl {
  int32_t fillStyle = 0;
  uint32_t fillColor = 0;
  qvGradientDecl gradient;
  int32_t textureBrush = 0;
  int32_t textureX = 0;
  int32_t textureY = 0;
};

struct qvBrushDecl {
  int32_t width = 0;
  int32_t height = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t globalAlpha = 0;
  int32_t hardware = 0;
};

struct qvAnimDecl {
  int32_t fromDisk = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t frames = 0;
  int32_t framesPerRow = 0;
  int32_t x = 0;
  int32_t y = 0;
};

struct qvButtonDecl {
  std::array<int32_t, 4> values = {};  // in container order, as CreateButton takes them
};

struct qvSpriteDecl {
  int32_t width = 0;
  int32_t height = 0;
  int32_t frames = 0;
  int32_t framesPerRow = 0;
  int32_t x = 0;
  int32_t y = 0;
};

using qvDeclSubRecord = std::variant<std::monostate, qvBGPicDecl, qvBrushDecl, qvAnimDecl,
                                     qvButtonDecl, qvSpriteDecl, qvDisplayRecord>;

// An object that the applet declares for creation before the script runs.
struct qvObjectDeclaration {
  int32_t kind = 0;
  int32_t id = 0;
  int32_t declared = 0;
  std::string fileName;  // the inline data
  uint32_t inlineOffset = 0;
  uint32_t inlineLength = 0;
  uint32_t linkedOffset = 0;  // the file's bytes inside the container
  uint32_t linkedLength = 0;  // 0 = not linked
  int32_t extra1 = 0;         // transparent colour, font size or plugin version
  int32_t extra2 = 0;         // load-alpha flag, font engine or plugin revision
  int32_t sourceLine = 0;
  qvDeclSubRecord sub;
  std::string containerPath;
  std::string baseDirectory;
  int32_t callerFlag = 0;  // the reader's caller's quiet flag
};

// A file whose bytes lie inside the applet's container.
struct qvLinkedFile {
  std::string name;           // as the script names it, or "::font:" + font name
  std::string containerPath;  // empty = the script file
  std::string sourcePath;
  uint64_t offset = 0;  // relative to the applet offset
  uint64_t length = 0;
};

struct qvBackfill {
  int32_t type = 0;
  int32_t startColor = 0;
  int32_t endColor = 0;
  int32_t pictureX = 0;
  int32_t pictureY = 0;
  int32_t brushId = 0;  // brush or picture id
  int32_t scalePicture = 0;
  int32_t transparentColor = 0;
  char file[kPathSize] = {};
  // The backdrop covers the whole screen, the reserved top included (the black one behind a
  // full screen); otherwise it starts below the reserved top.
  int32_t wholeScreen = 0;
};

// Names the applet defines for the script machine; they are kept here until start-up moves
// them into the machine (MoveAppletNamesToVm, core/applet.h).
struct qvAppletLabel {
  std::string name;
  uint32_t value = 0;  // instruction index
};

struct qvUserConstant {
  std::string name;
  bool isString = false;
  std::string text;
  double number = 0.0;
};

struct qvAppletSettings {
  std::vector<uint8_t> mainChunk;  // the compiled main chunk, owned
  char headerTexts[kHeaderTextCount][kHeaderTextSize] = {};
  std::vector<qvObjectDeclaration> declarations;
  std::vector<qvLineMap> lineMaps;
  std::vector<qvLinkedFile> linkedFiles;
  int32_t settingsLocked = 0;  // the command line's display settings are not merged
  int32_t desktopDisplay = 0;  // display 1 takes the desktop's size
  uint32_t displayFlags = 0;
  int32_t screenWidth = 0;  // -1 = unset
  int32_t screenHeight = 0;
  int32_t depth = 0;
  int32_t scaleWidth = 0;  // negative = percentage, 0 = unset
  int32_t scaleHeight = 0;
  qvBackfill backfill;
  int32_t displayMode = 0;
  int32_t hideTitleBar = 0;  // -1 = unset

  std::vector<qvAppletLabel> labels;
  std::vector<qvUserConstant> userConstants;
};

}  // namespace qv
