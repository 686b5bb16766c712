// Displays and their refresh: the records and list, the window road (open, close, change,
// select), start-up's first display, bringing pictures to the window and the frames that a
// video thread queues for it. Everything here runs on the script thread unless a comment says
// otherwise; the main thread only walks the display list under the display-list lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/registry.h"
#include "display/bgpics.h"
#include "display/records.h"
#include "image/image.h"
#include "platform/window_services.h"

namespace qv {

struct qvAppletSettings;
struct qvPlayerState;
struct qvLock;
struct qvPendingRefresh;
struct qvSatellite;
struct qvPointer;

// Displays.

constexpr int kMaxRegions = 64;
constexpr size_t kTitleSize = 256;

enum : int32_t { kDisplayClosed = 0, kDisplayOpen = 1, kDisplayMinimized = 2 };
// Output types.
enum : int32_t {
  kOutputBGPic = 1,  // a BGPic selected as layer target
  kOutputPicture = 3,
  kOutputDisplay = 21,
  kOutputMask = 28,
  kOutputAlpha = 30,
};
// Display flag bits beyond the applet's (core/player_state.h).
enum : uint32_t { kDisplayFakeFullScreen = 0x20000 };

// Windowed or full screen: one enum, converted where a number crosses a boundary.
enum class DisplayMode { kWindowed, kFullScreen };
// The script's DISPMODE_WINDOWED 1 / DISPMODE_FULLSCREEN 2; anything else: false.
bool DisplayModeFromScript(int32_t value, DisplayMode* mode);
int32_t DisplayModeToScript(DisplayMode mode);
// The services' word: 1 full screen, 0 window.
int32_t DisplayModeToServiceWord(DisplayMode mode);

// A drag or size region; kRegionBox (BOX) is the only shape.
constexpr int32_t kRegionBox = 14;
struct qvRegionEntry {
  int32_t type, x, y, width, height;
};

// The display tags' "scalemode".
enum : int32_t { kScaleModeNone = 0, kScaleModeAuto = 1, kScaleModeLayer = 2 };

struct qvSavedDrawState {
  int32_t saved;
  int32_t cursorX, cursorY, marginLeft, marginRight;
  int32_t layersOn;
};

struct qvDisplay {
  qvObjectHeader header;  // type kObjectDisplay
  int32_t layersOn;
  // Where drawing goes.
  qvBitMap* outBitmap;
  qvPlane* outMask;
  qvPlane* outAlpha;
  int32_t outputType;
  qvBGPic* bgpic;
  int32_t ownBGPic;
  int32_t doubleBuffer, hardwareDoubleBuffer, doubleBufferSuspended;
  int32_t private1, private2, private3;
  int32_t x, y, width, height;
  int32_t state;
  qvBackfillSettings backfill;
  uint32_t flags;
  char title[kTitleSize];
  qvWindowFrame frame;
  qvRegionEntry drag[kMaxRegions], dragWindow[kMaxRegions];
  qvRegionEntry size[kMaxRegions], sizeWindow[kMaxRegions];
  int32_t dragCount, sizeCount, dragGiven, sizeGiven;
  qvBitMap* displayBitmap;  // the unscaled picture
  qvBitMap* windowBitmap;   // the picture at the window's size
  qvBitMap* frontBuffer;
  qvBitMap* backBuffer;
  int32_t autoScale, layerScale;
  int32_t borderLeft, borderTop, borderRight, borderBottom;
  int32_t scaleWidth, scaleHeight;  // 0: not scaled; negative while a percentage
  int32_t smoothScale;
  double scaleX, scaleY;
  qvRectList dirty;
  qvBGPic* selection;
  qvBGPic* doubleBufferRecord;
  int32_t cursorX, cursorY, marginLeft, marginRight;
  int32_t tabStops[32];  // ascending; the print's tab stops
  int32_t tabCount;
  qvSavedDrawState saved;
  int32_t pointerHidden, reopen, active;
  qvPointer* pointer;  // set by SetPointer; null: the standard pointer
  qvPlane* shapeMask;
  qvPlane* shapeAlpha;
  int32_t orientation, keyboard;
  int32_t requesterOpen;  // a requester holds the script while this display is current
  // Where the window stood and how it was framed before a full-screen switch, so that the switch
  // back puts it there again.
  int32_t windowedSaved, windowedX, windowedY;
  uint32_t windowedFlags;
  // Frames that a video thread queued for the window; the list is guarded by the refresh lock.
  qvLock* refreshLock;
  qvPendingRefresh* pendingRefreshes;
  qvWindow* window;
  // Other views of the display that plugins keep; changed and walked under the display-list lock.
  qvSatellite* satellites;
};

qvObjectHeader** DisplayListHead();
qvDisplay* CurrentDisplay();
void SetCurrentDisplay(qvDisplay* display);
// The record that drawing goes to: the current display's BGPic, double-buffer record or
// selection record; null before the first display.
qvBGPic* OutputTarget();
void SetOutputTarget(qvBGPic* target);
// True while the program runs on a screen mode of its own.
bool IsFullScreen();

int FindDisplay(qvObjectId id, qvDisplay** out);
// What a display tag table gives (CreateDisplay, SetDisplayAttributes; the display library reads
// it): a value counts only where it was given.
struct qvDisplayTags {
  bool dragGiven = false, sizeGiven = false;
  int32_t dragCount = 0, sizeCount = 0;
  qvRegionEntry drag[kMaxRegions]{}, size[kMaxRegions]{};
  uint32_t switchesGiven = 0;  // the display flag bits that a switch key gave
  uint32_t switchesOn = 0;     // those of them that are switched on
  std::optional<int32_t> x, y;
  std::optional<int32_t> scaleWidth, scaleHeight;  // negative: a percentage of the size
  std::optional<int32_t> scaleMode;
  std::optional<qvObjectId> bgpic;
  std::optional<int32_t> width, height, fillStyle;
  std::optional<uint32_t> colour;
  std::optional<qvGradient> gradient;  // the display's gradient as the keys changed it
  std::optional<qvObjectId> textureBrush;
  std::optional<int32_t> textureX, textureY;
  std::optional<std::string> title;  // as given; one longer than kTitleSize - 1 is refused
  std::optional<int32_t> private1, private2, private3;
};

// The CreateDisplay command's work, with the tags given (null: none). An automatic id gets the
// record's address as handle. 0 or an error code.
int CreateDisplayCore(qvScriptState* L, qvObjectId* id, bool automatic, const qvDisplayTags* tags,
                      qvDisplay** out);
int OpenDisplayCore(qvScriptState* L, qvDisplay* display, bool activate);
void CloseDisplayCore(qvDisplay* display);
// Frees a display (the FreeDisplay rules: not the current one).
int FreeDisplayCore(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeAllDisplays(qvScriptState* L);
bool IsMainDisplay(const qvDisplay* display);
// The outer size of the display's window (client size and frame), asked as its window opens;
// the display's frame is computed here. A framed window too large for the placement area that
// fits it without its frame loses the frame: the display gets the borderless bit.
void GetMaxWindowSize(qvDisplay* display, int32_t* width, int32_t* height);
// Start-up's last step before the script: display 1 opens. `quiet` silences the status texts.
int OpenFirstDisplay(qvScriptState* L, qvAppletSettings* settings, qvPlayerState* state,
                     bool quiet);
// ---- changing displays (display_changes.cpp) ----

// KEEPPOSITION: a coordinate that stays where the window is.
constexpr int32_t kKeepPosition = 100000;
// Every size change of a display: with `resize` the picture takes width x height (an unscaled
// display's window with it, placed at x, y, which may be special positions or kKeepPosition); an
// auto-scaled display's window keeps its size and the scale factors follow. Without `resize` an
// auto-scaled display's window takes width x height (with border strips when the display keeps
// its proportions). `closed` leaves the window alone. 0, or ERR_BADDIMENSIONS, ERR_DISPLAYSIZE
// (the window would not fit; the display is left as it was), ERR_NOLAYERS for a layer-scaled
// display (its road rebuilds layers), ERR_MEM.
// With `notify`, the display's satellites hear of a new window size.
int ReopenDisplay(qvScriptState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                  int32_t height, bool resize, bool smooth, bool closed, bool notify = false);
// Moves the window's outer corner to x, y (special positions resolved; stored also while closed).
void MoveDisplayCore(qvDisplay* display, int32_t x, int32_t y);
// Minimises an open display (hide) or restores a minimised one; ERR_WRONGUSAGE otherwise.
int HideDisplayCore(qvDisplay* display, bool hide);
// At most 255 characters (ERR_WRONGUSAGE); the window's title follows unless it is closed.
int SetDisplayTitle(qvDisplay* display, const char* title, size_t length);
// Makes the display current: the previous display's output selection ends (unless it double
// buffers), an open window is activated unless `noActivate`, drawing goes to its BGPic or its
// double buffer. 0 or an error code.
int SelectDisplayCore(qvScriptState* L, qvDisplay* display, bool noActivate);
// The tags applied to an open or closed display. 0 or an error code.
int ApplyDisplayAttributes(qvScriptState* L, qvDisplay* display, const qvDisplayTags& tags);
// The screen modes sorted by width, then height: 0 or ERR_NODISPMODES.
int GetSortedDisplayModes(std::vector<std::pair<int32_t, int32_t>>* modes);
// Switches every open display between a window and a full screen of the best mode for width x
// height, with the backdrop display behind. Nothing happens when the mode is in force already.
// 0, the screen's error (the displays come back as they were), or the first display that fails
// to open again (the others stay closed).
int ChangeDisplayModeCore(qvScriptState* L, DisplayMode mode, int32_t width, int32_t height);
// The settings that choose the backdrop's fill, and whether the player started in full screen.
void SetDisplayModeSettings(qvAppletSettings* settings, bool startedFullScreen);
// Alt+Return on the main display's window switches the mode on the script thread through the
// machine L (null: the switch is not acted on).
void InstallModeSwitch(qvScriptState* L);

// (Re)allocates the display and window-size bitmaps at the BGPic's size and copies the BGPic in.
// `blankPicture`: the caller knows that every pixel of the BGPic is 0; new bitmaps then come
// cleared, without the copy.
int AllocDisplayBuffers(qvDisplay* display, qvBGPic* bgpic, bool reallocate,
                        bool blankPicture = false);
// The bitmap that shows the BGPic as composed (the display bitmap while it has no layers).
qvBitMap* GetBGPicComposite(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic);
// True when the display stretches its picture to a window of another size.
bool IsScaledDisplay(const qvDisplay* display);
// Hands the display's scale factors and border strips to its input, which takes the pointer's
// window position back to the display's coordinates (GetPointerX): wherever they are decided.
void SyncInputScale(const qvDisplay* display);
// True when the display is auto-scaled or layer-scaled to a scale size of its own.
bool IsScaledBy(const qvDisplay* display);

// ---------------------------------------------------------------------------------------------
// Refresh.

// RefreshDisplayRect and RedrawDisplay flags.
enum : int32_t {
  kRefreshStretch = 1,       // on a scaled display the whole bitmap is stretched to the scale size
  kRefreshWholePicture = 8,  // the rectangle is the whole picture (a redraw)
};

// Copies a rectangle of `bitmap` into the display's window (kRefresh* flags).
void RefreshDisplayRect(const qvBitMap* bitmap, int32_t sx, int32_t sy, qvDisplay* display,
                        int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t flags);
void FillDisplayBorders(qvDisplay* display);
void RedrawDisplay(qvScriptState* L, qvDisplay* display, int32_t flags);
void UpdateCurrentDisplay(qvScriptState* L);
// Around a requester: Begin marks the current display's requester as open and returns the
// display (null before the first display); End clears the mark and redraws an open window, which
// the requester may have covered.
qvDisplay* BeginDisplayRequester();
void EndDisplayRequester(qvScriptState* L, qvDisplay* display);
// Adds a rectangle to the current display's dirty list (the whole BGPic marks everything).
void AddDirtyRect(int32_t x, int32_t y, int32_t width, int32_t height);

// The special positions (CENTER, LEFT, ... with their offsets) against an area.
int32_t ResolveCoordX(int32_t x, int32_t objectWidth, int32_t areaWidth, double anchor);
int32_t ResolveCoordY(int32_t y, int32_t objectHeight, int32_t areaHeight, double anchor);
// Fills the rectangle with copies of src starting at the source offset.
void TileBitMap(qvBitMap* dst, int32_t x, int32_t y, int32_t width, int32_t height,
                const qvBitMap* src, int32_t offsetX, int32_t offsetY, int32_t srcWidth,
                int32_t srcHeight);
// Fills the rectangle of the bitmap with the gradient. 0 or an error code.
int DrawGradient(qvBitMap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height,
                 const qvGradient* gradient);

// Brings a rectangle of the display's picture to its window after a transition step: clipped to
// the output target (a negative corner moves the source corner), recomposed first where it meets
// a sprite, then refreshed (a scaled display is stretched whole).
void RefreshDisplayArea(qvScriptState* L, int32_t srcX, int32_t srcY, qvDisplay* display,
                        int32_t dstX, int32_t dstY, int32_t width, int32_t height);

// A frame that a video thread wants in the window at {x, y, width, height}.
struct qvPendingRefresh {
  qvPendingRefresh* next;
  void* owner;  // the video that queued it
  qvBitMap* bitmap;
  int32_t x, y, width, height;
};
// Appends a node that takes over the bitmap, under the display's refresh lock. 0, or ERR_MEM
// (the bitmap stays the caller's). Any thread.
int QueuePendingRefresh(qvDisplay* display, void* owner, qvBitMap* bitmap, int32_t x, int32_t y,
                        int32_t width, int32_t height);
// Blits every queued frame to the window and frees the nodes with their bitmaps.
void FlushPendingRefreshes(qvDisplay* display);
// FlushPendingRefreshes for every display.
void RefreshAllDisplays();
// Frees the queued frames without drawing them.
void DropPendingRefreshes(qvDisplay* display);

// ---- satellites (satellites.cpp) ----
// A satellite is another view of a display that a plugin keeps (a window of its own, say): it is
// told when the display's window changes size and hands its input to the display, whose events
// the script then receives as from the display's own window. The nodes are the plugin's handles.

// Told the display's picture size after a size change that the satellite asked for.
using qvSatelliteCallback = void (*)(void* data, int32_t width, int32_t height);
struct qvSatellite {
  qvSatellite* next;
  qvSatelliteCallback callback;
  void* data;
};
// Appends a satellite to the display: null when the display is missing or its BGPic has a
// transparent colour, a mask or an alpha channel (a satellite shows whole rectangles). Gives the
// BGPic's size. Script thread.
qvSatellite* AttachSatellite(qvObjectId display, qvSatelliteCallback callback, void* data,
                             int32_t* width, int32_t* height);
// Removes and frees the node from the display that holds it; a node that no display holds is
// left alone. Script thread.
void DetachSatellite(qvSatellite* node);
// The display that holds the node, or null.
qvDisplay* FindSatelliteDisplay(const qvSatellite* node);
// Redraws the display that holds the node: 0 or ERR_FINDDISPLAY. Script thread.
int RedrawSatellite(qvScriptState* L, qvSatellite* node);
// Resizes the display that holds the node to width x height, its window kept where it is, the
// satellites told, and queues the display's size event: 0, ERR_FINDDISPLAY for a node that no
// display holds, or ReopenDisplay's code. Script thread.
int ResizeSatellite(qvScriptState* L, qvSatellite* node, int32_t width, int32_t height);
// The input a satellite hands over, by kind: the pointer moved to (x, y); a left, right or middle
// button at (x, y) went down (pressed non-zero) or up; the wheel turned down (pressed non-zero)
// or up; a key (code and qualifiers) went down or up. Positions are in the display's picture.
enum class SatelliteInputKind : int32_t {
  kPointer,
  kLeftButton,
  kRightButton,
  kMidButton,
  kWheel,
  kKey
};
struct qvSatelliteInput {
  int32_t x = 0, y = 0;
  int32_t pressed = 0;
  int32_t code = 0;
  uint32_t qualifiers = 0;
};
// Passes the input to the display that holds the node as its window's would come: the display's
// input state follows and the event is queued. 0, ERR_FINDDISPLAY for a node that no display
// holds, ERR_WRONGUSAGE for a kind outside 0-5. Any thread.
int SatelliteInput(qvSatellite* node, int32_t kind, const qvSatelliteInput& input);

// The library teardown of displays, BGPics and brushes in their order; the library opens.
int32_t OpenDisplaySubsystem();
void FreeDisplaySubsystem(qvScriptState* L);
// Registers GetAttribute's rows of displays, BGPics and brushes (core/attribute_table.h); part of
// OpenDisplaySubsystem.
int32_t RegisterDisplayAttributes();

}  // namespace qv
