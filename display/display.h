// Displays, background pictures (BGPics) and brushes: their records and lists, the display's
// window road (open, close, refresh), start-up's first display, the output device that drawing
// goes to (the display, a brush, a BGPic, a mask or alpha channel, the double buffer) and the
// snapshot pictures. Everything here runs on the script thread unless a comment says otherwise;
// the main thread only walks the display list under the display-list lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/support.h"
#include "core/registry.h"
#include "image/image.h"
#include "image/picture.h"
#include "platform/window_services.h"

namespace qv {

struct qvAppletSettings;
struct qvPlayerState;
struct qvLock;
struct qvClipRegion;
struct qvPendingRefresh;

// ---------------------------------------------------------------------------------------------
// Shared small records.

constexpr int32_t kNoTransparentColour = -1;          // as the 32-bit word reads: all bits set
constexpr uint32_t kAllocBrushMaskColour = 0xAFC0DE;  // AllocBrush made the mask; no colour keyed
enum : int32_t { kFillNone = 0, kFillColour = 1, kFillGradient = 2, kFillTexture = 3 };

// Gradients are the image engine's qvGradient (image/image.h).
// Linear, centre 0.5/0.5, balance 0.5, border 0, no stops; colours and angle 0.
void InitGradientDefaults(qvGradient* gradient);

// How a background is filled (a BGPic's settings block and a display's own backfill).
struct qvBackfillSettings {
  int32_t fillStyle;  // kFill*
  uint32_t colour;
  qvGradient gradient;
  qvObjectId textureBrush;
  qvBitMap* textureCache;  // owned copy of the texture brush's bitmap, made on first use
  int32_t textureX, textureY;
};

// Pixels that a plugin loader handed over, shared by reference count.
struct qvPixelBuffer {
  int32_t references;
  uint32_t* pixels;  // ARGB, rowWidth words per row; freed with the last reference
  int32_t rowWidth;
};
void RetainPixelBuffer(qvPixelBuffer* buffer);
void ReleasePixelBuffer(qvPixelBuffer* buffer);  // null allowed

// What the copy-on-write routines read of a layer: the kind and id of the object it shows. The
// layer system builds its full records on this head.
struct qvLayer {
  qvNode node;
  int32_t kind;  // object type
  qvObjectId id;
};

// Rectangles with inclusive edges; an entry whose x1 is kAbsorbedRect was merged into another.
struct qvRect {
  int32_t x1, y1, x2, y2;
};
constexpr int32_t kAbsorbedRect = 100000;
constexpr int32_t kDirtyListCapacity = 1024;
struct qvRectList {
  qvRect* entries;
  int32_t count;  // count == capacity: everything is dirty
  int32_t capacity;
};
// Joins entries that overlap or lie within one pixel on both axes, in one pass.
void MergeDirtyRects(qvRectList* list);

// ---------------------------------------------------------------------------------------------
// Brushes.

struct qvBrush {
  qvObjectHeader header;   // type kObjectBrush
  qvObjectDataItem* data;  // named data items
  qvPixelBuffer* pixelBuffer;
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
  int32_t width, height, rowWidth;
  int32_t locked;
  int32_t layerCopy;  // kept only for the layers that show it
  int32_t transparentColour;
  int32_t transformed;
  int32_t kind;  // 0 raster, 1 vector
  int32_t sourceX, sourceY, sourceWidth, sourceHeight;
  int32_t hardware, hardwarePlanes;
};

// FindBrush flags.
enum : int32_t {
  kFindModify = 1,
  kFindLayerCopies = 2,
  kFindNoCopy = 4,
  kFindRasterOnly = 8,
  kFindHardware = 16,
};

qvObjectHeader** BrushListHead();
// Appends a brush that takes over the planes and the pixel buffer reference. With `automatic`
// the id becomes {0, the record}. 0 or ERR_MEM (then nothing was taken over).
int AddBrush(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, int32_t transformed, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha, qvBrush** out);
int AllocBrush(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
               bool withMask, bool withAlpha, bool clearPlanes, bool noFill, qvBrush** out);
int FindBrush(qvScriptState* L, qvObjectId id, qvBrush** out, int32_t flags);
int CloneBrush(qvScriptState* L, const qvBrush* source, qvObjectId* id, bool automatic,
               qvBrush** out);
int DeleteBrushNode(qvScriptState* L, qvObjectId id);
int ReleaseBrushId(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeAllBrushes(qvScriptState* L);
void PurgeDetachedBrushes(qvScriptState* L);
// 1 and the planes of a raster brush with that id, else 0.
int GetBrushBitMaps(qvScriptState* L, qvObjectId id, qvBitMap** bitmap, qvPlane** mask,
                    qvPlane** alpha, int32_t* width, int32_t* height);

// The brush's picture as width x height ARGB words, top row first (mask and alpha channel are not
// part of it). 0, FindBrush's codes (ERR_BRUSHTYPE for a vector brush) or ERR_MEM.
int ReadBrushPicture(qvScriptState* L, qvObjectId id, std::vector<uint32_t>* argb, int32_t* width,
                     int32_t* height);
// Puts the brush's picture on the clipboard (24 bits, its alpha dropped). 0, ReadBrushPicture's
// codes, or the clipboard's (platform/clipboard.h).
int CopyBrushToClipboard(qvScriptState* L, qvObjectId id);
// A new raster brush under an automatic id holding the clipboard's picture: 0, ERR_CLIPREAD when
// the clipboard holds no picture that reads (core/dib.h), ERR_MEM, ERR_LOCKBMAP; nothing is made
// on failure.
int PasteClipboardBrush(qvObjectId* id, qvBrush** out);
// Makes the brush's picture the tray icon with that tooltip (platform/desktop.h): 0,
// ReadBrushPicture's codes, ERR_MEM.
int SetBrushTrayIcon(qvScriptState* L, qvObjectId id, const char* tooltip);

// Copy-on-write over every BGPic's layer list.
bool IsShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except);
bool RepointLayers(int32_t kind, qvObjectId id, void* newHandle);
// Copies the object for the layers that show it (`clone` makes the copy under an automatic id and
// returns its record, whose header follows) and points those layers at the copy. 0 or the copy's
// error; *clone stays unchanged when no layer shows the object.
using qvCloneFunction = int (*)(qvScriptState* L, void* object, qvObjectHeader** clone);
int DetachFromLayers(qvScriptState* L, int32_t kind, qvObjectId id, qvCloneFunction cloneFn,
                     void* object, qvObjectHeader** clone);

// ---------------------------------------------------------------------------------------------
// BGPics.

struct qvPlaneSet {
  qvBitMap* bitmap;
  qvPlane* mask;
  qvPlane* alpha;
};

struct qvBGPic {
  qvObjectHeader header;   // type kObjectBGPic
  qvObjectDataItem* data;  // named data items
  qvPixelBuffer* pixelBuffer;
  qvPlaneSet current, scaled, original;  // sets may share planes with the original
  int32_t width, height;                 // current
  int32_t scaledWidth, scaledHeight;
  int32_t originalWidth, originalHeight;
  int32_t rowWidth;
  int32_t transparentColour;
  void* ownedBlock;  // the loader's block: the 256-entry palette of an ILBM pen picture
  qvList layers;     // qvLayer nodes
  void* sprites;
  int32_t locked;
  int32_t layerCopy;
  void* buttons;
  // A selection or double-buffer record: what it stands for.
  int32_t objectKind;
  int32_t frame;
  void* object;
  int32_t bound;
  qvClipRegion* clipRegion;
  qvBackfillSettings settings;
  int32_t kind;  // 0 a picture, 1 generated (gradient, texture)
};

qvObjectHeader** BGPicListHead();
int AddBGPic(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap, void* ownedBlock,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha,
             const qvBackfillSettings* settings, qvBGPic** out);
// Fills an unlisted BGPic-shaped record (the double-buffer and selection records).
void InitBGPicRecord(qvBGPic* record, int32_t kind, void* object, int32_t frame, qvObjectId id,
                     qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                     bool clear);
int CreateColorBGPic(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
                     qvBGPic** out);
int FindBGPic(qvScriptState* L, qvObjectId id, qvBGPic** out, int32_t flags);
int DeleteBGPicNode(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeBGPicRecord(qvScriptState* L, qvBGPic* bgpic);  // an unlinked record
void FreeBGPicBitMaps(qvBGPic* bgpic);
void FreeAllBGPics(qvScriptState* L);
int CopyBGPic(qvScriptState* L, const qvBGPic* source, qvObjectId* id, bool automatic,
              qvBGPic** out);

// Reads the gradient options of the table at `index` into `gradient` (keys may be null: not
// read). 0 or ERR_WRONGUSAGE, ERR_INTERNAL (a 65th stop), ERR_MISSINGPARAMTR (a colour without
// its position), ERR_NUMTABLEARG (with the key stored). *multi is set when stops were given.
int ParseGradientOptions(qvScriptState* L, int index, qvGradient* gradient, const char* centerXKey,
                         const char* centerYKey, const char* balanceKey, const char* borderKey,
                         const char* coloursKey, int* multi);
// "gradientstyle", "gradientstartcolor", "gradientendcolor", "gradientangle" and the options.
int ReadBackfillGradientFields(qvScriptState* L, int index, qvGradient* gradient);

// Renders a background of width x height: the fill style under an optional ARGB picture (keyed
// by the transparent colour). 0 or an error code; the result has no mask and no alpha unless the
// picture came back as it was (no fill, or nothing transparent in it).
int RenderBackfill(qvScriptState* L, const uint32_t* pixels, qvBackfillSettings* settings,
                   int32_t transparentColour, int32_t width, int32_t height, int32_t rowWidth,
                   qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha);
// Start-up: every BGPic still holding a pixel buffer gets planes of its own.
int ResolvePreloadedBGPics(qvScriptState* L);

// ---------------------------------------------------------------------------------------------
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

struct qvRegionEntry {
  int32_t type, x, y, width, height;
};

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
  qvSavedDrawState saved;
  int32_t pointerHidden, reopen, active;
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
// The CreateDisplay command's work: reads the tag table at `tags` (0: none). An automatic id
// gets the record's address as handle. 0 or an error code.
int CreateDisplayCore(qvScriptState* L, qvObjectId* id, bool automatic, int tags, qvDisplay** out);
int OpenDisplayCore(qvScriptState* L, qvDisplay* display, bool activate);
void CloseDisplayCore(qvDisplay* display);
// Frees a display (the FreeDisplay rules: not the current one).
int FreeDisplayCore(qvScriptState* L, qvObjectId id, bool mustExist);
void FreeAllDisplays(qvScriptState* L);
bool IsMainDisplay(const qvDisplay* display);
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
int ReopenDisplay(qvScriptState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                  int32_t height, bool resize, bool smooth, bool closed);
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
// The tag table at `table` applied to an open or closed display. 0 or an error code.
int ApplyDisplayAttributes(qvScriptState* L, qvDisplay* display, int table);
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

// ---------------------------------------------------------------------------------------------
// Refresh.

// Copies a rectangle of `bitmap` into the display's window; with flag 1 on a scaled display the
// whole bitmap is stretched to the scale size.
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

// ---------------------------------------------------------------------------------------------
// Blits into the output target (blit.cpp).

// A clip region: drawing into the output target stays inside the rectangle and, with a mask,
// where its bits are set (the mask is indexed from the region's corner).
struct qvClipRegion {
  qvObjectHeader header;  // type kObjectClipRegion
  int32_t x, y;           // never negative
  int32_t width, height;
  qvPlane* mask;  // or null: the plain rectangle
  int32_t bytesPerRow;
  int32_t layerCopy;
  int32_t locked;
};

// Clips a blit of width x height from (srcX, srcY) to (dstX, dstY): a negative destination
// corner (or one left of or above the region, with a region and useClip) moves the source corner
// and shortens the size; the size is then cut to the source, and to the destination's size or
// the region's far edges. True when something is left to draw.
bool ClipBltRect(const qvClipRegion* clip, int32_t* srcX, int32_t* srcY, int32_t* dstX,
                 int32_t* dstY, int32_t* width, int32_t* height, int32_t srcWidth,
                 int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, bool useClip);

// SafeBlt flags.
enum : int32_t {
  kBltNoClip = 1,            // clip against the destination only
  kBltIgnoreSprites = 2,     // do not work around the sprites of the output target
  kBltBeneathSprites = 4,    // under sprites: into the display bitmap, then recompose
  kBltRecompose = 8,         // layers on: recompose into the window-size bitmap and refresh
  kBltKeepPlanes = 16,       // leave the output's own mask and alpha channel alone
  kBltNoRefresh = 32,        // do not bring the rectangle to the window
  kBltToDisplayBitmap = 64,  // the destination is the display bitmap
};

// The central blit: the rectangle of `src` with its mask or alpha (a mask wins) goes into `dst`
// (null: the output target's road), clipped, around the sprites, keeping the output's own mask
// and alpha channel up to date by the mask mode and the alpha intensity, and is refreshed into
// the window when it lands in the display bitmap. Without a source while the display is the
// output, the source is the display bitmap (kBltBeneathSprites, kBltToDisplayBitmap) or the
// recomposed background (kBltRecompose), read at the source corner. Without a current display
// only a blit with a destination and kBltKeepPlanes runs; otherwise the "DISPLAY=NULL" line is
// written and ERR_INTERNAL returned. Returns 0, ERR_MEM (the clip-mask scratch) or the error of
// a nested blit. Script thread.
int SafeBlt(qvScriptState* L, const qvBitMap* src, int32_t srcX, int32_t srcY, qvBitMap* dst,
            int32_t dstX, int32_t dstY, int32_t width, int32_t height, int32_t srcWidth,
            int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t flags,
            const qvPlane* mask, const qvPlane* alpha, const qvClipRegion* clip);
// The clip-mask scratch buffer: grown to at least `bytes`, never shrunk. 0 or ERR_MEM.
int EnsureClipScratch(size_t bytes);
void FreeClipScratch();

// How the output's own planes take what a blit or a primitive draws without a destination
// bitmap: the mask mode (a BltPlane combine mode, default 0) and the alpha intensity (-1 none,
// else 0..255). The copy-alpha setting makes a source alpha channel go into an output's alpha
// channel (off by default). Script thread.
int32_t GetMaskMode();
void SetMaskMode(int32_t mode);
int32_t GetAlphaIntensity();
void SetAlphaIntensity(int32_t intensity);
bool GetCopyAlpha();
void SetCopyAlpha(bool on);
// Registers the runtime-attribute handlers of the mask mode and the alpha intensity and resets
// both (with the copy-alpha setting) to their defaults. 0 or ERR_MEM.
int32_t OpenDrawAttributes();

// What the compositor of layers and sprites does for the blit road. Until one is registered no
// target has sprites and nothing is recomposed.
struct qvCompositorServices {
  // True when the rectangle meets a sprite shown on the target.
  bool (*rectHitsSprites)(const qvBGPic* target, int32_t x, int32_t y, int32_t width,
                          int32_t height);
  // Recomposes the rectangle of the target (its picture, its layers, its sprites) into dst.
  // Mode 0 everything; 1 before and 2 after a blit that lies beneath layers or sprites.
  void (*redraw)(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                 int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode);
};
// Kept, not copied; null forgets them.
void SetCompositorServices(const qvCompositorServices* services);

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

// ---------------------------------------------------------------------------------------------
// Display options (display_options.cpp): the transform and the layer options of every command
// that shows an object.

struct qvTransformBlock {
  double matrix[4];  // a, b, c, d: maps the object into its displayed shape
  double scaleX, scaleY;
  int32_t width, height;  // target size; 0 is the object's own
  double rotate;          // degrees
  double givenMatrix[4];
  int32_t matrixGiven;  // the matrix came from "transform"
  int32_t smoothScale;
  double anchorX, anchorY;  // 0..1
};

struct qvLayerOptions {
  int32_t transparency;  // 0 opaque .. 255 invisible
  int32_t renderNeeded;  // the object cannot simply be blitted
};

// ParseDisplayOptions flags.
enum : int32_t {
  kOptFillDefaults = 1,
  kOptTableRequired = 2,
  kOptNoSize = 4,           // "width" and "height" are not read
  kOptNoRotate = 8,         // "rotate" is not read
  kOptRotationSmooth = 16,  // a rotation sets the smooth flag to `smooth`
};

void InitTransformBlock(qvTransformBlock* block);
void InitLayerOptions(qvLayerOptions* options);
// Defaults, then the size, and the smooth flag unless kOptRotationSmooth.
void InitDisplayOptions(qvTransformBlock* block, qvLayerOptions* options, int32_t width,
                        int32_t height, int32_t smooth, int32_t flags);
// Reads the options table at argIndex into the block and (when given) the layer options. An
// absent argument reads nothing; one that is no table is ERR_TABEXPECTED (argument index stored)
// with kOptTableRequired, else nothing. A "transform" with a or d of 0, a scale of 0 or an anchor
// outside 0..1 is ERR_WRONGUSAGE; fields of the wrong type raise through the machine. 0 or an
// error code.
int ParseDisplayOptions(qvScriptState* L, int argIndex, int32_t sourceWidth, int32_t sourceHeight,
                        int32_t width, int32_t height, int32_t smooth, qvTransformBlock* block,
                        qvLayerOptions* options, int32_t flags);
// The matrix for the size (0: the source's), the scales (used when the size is the source's) and
// the rotation in degrees; stores all of them in the block.
void BuildTransformMatrix(qvTransformBlock* block, int32_t width, int32_t height,
                          int32_t sourceWidth, int32_t sourceHeight, double scaleX, double scaleY,
                          double rotate);
// The given matrix, or the one built from the block's own size, scales and angle.
void UpdateLayerMatrix(qvTransformBlock* block, int32_t sourceWidth, int32_t sourceHeight);
// The defaults back to identity, scale 1, no transparency (graphics library open).
void ResetDisplayOptionDefaults();
// Reads the table at `index` into copies of the defaults and makes them the defaults; a failure
// leaves them unchanged. 0 or the reader's error.
int SetDisplayOptionDefaults(qvScriptState* L, int index);

// A size where either side may be KEEPASPRAT (100000): that side follows the other by the
// source's aspect, rounded half up. ERR_BADDIMENSIONS for a side (or a source side, or a result)
// below 1; ERR_WRONGUSAGE for both sides KEEPASPRAT.
int ResolveScaleSize(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height);

// ---------------------------------------------------------------------------------------------
// Showing an object (display_object.cpp): a brush, a part of a brush or of a BGPic put on the
// output device with the display options of the command.

// DisplayObjectCore flags.
enum : int32_t {
  kShowNoDraw = 1,        // do not draw directly
  kShowToLayers = 2,      // passed on to the layer system
  kShowTransformed = 4,   // treat the object as transformed
  kShowLayerCopy = 8,     // for a layer copy: layer copies are found, nothing is drawn
  kShowUpdateLayer = 16,  // update an existing layer
};

struct qvDisplayObjectRequest {
  void* layer = nullptr;          // the layer to update, or the insert position's layer
  int32_t layerPosition = 0;      // passed on to the layer geometry update
  int32_t kind = 0;               // kObjectBrush, kObjectBrushPart, kObjectAnim, kObjectBGPicPart
  qvObjectId id{0, nullptr};      // a BGPic part's number -1: the current display's BGPic
  int32_t frame = 0;              // anim frame, from 0
  int32_t srcX = 0, srcY = 0;     // the rectangle's corner in the object
  int32_t x = 0, y = 0;           // where it goes (special positions allowed; -1 for a BGPic part
                                  // is its own place)
  int32_t width = 0, height = 0;  // the rectangle (a whole brush: its size)
  bool composeLayers = false;     // a BGPic part as composed with its layers
  int optionsIndex = 0;           // the script argument that may hold the options table
  const qvTransformBlock* transform = nullptr;  // given instead of an options table
  const qvLayerOptions* layerOptions = nullptr;
  int32_t flags = 0;  // kShow*
};

// Finds the object, cuts the rectangle to it, reads the options, transforms it, builds an alpha
// channel for a transparency and blits it through SafeBlt into the output device (adding it to
// the dirty list while double buffering). With `outBitmap` nothing is drawn: the part's picture
// is handed back, to be freed by the caller when *outAllocated. Returns 0 or the first error:
// the finder's, ERR_BADDIMENSIONS (before the options are read), the option reader's,
// ERR_NEGCOORDS, ERR_COORDSRANGE, ERR_BRUSHTYPE, ERR_NOLAYERS for a layer update, the
// transform's or SafeBlt's. Every plane made here is freed on every way out. Script thread.
int DisplayObjectCore(qvScriptState* L, const qvDisplayObjectRequest& request, qvBitMap** outBitmap,
                      bool* outAllocated);
// A whole brush at (x, y) with the options at optionsIndex (0: none), for the layer system.
int DisplayBrushObject(qvScriptState* L, qvObjectId id, int32_t x, int32_t y, int optionsIndex);

// ---------------------------------------------------------------------------------------------
// Output devices and double buffering.

int SelectOutputDevice(qvScriptState* L, int32_t kind, qvObjectId id, int32_t outputType,
                       int32_t frame, int32_t mode, int32_t comboFlags);
int SelectBGPicAsLayerTarget(qvScriptState* L, qvObjectId id, bool ownBGPic);
int BindOutputDevice(qvScriptState* L);
int EndSelectOutput(qvScriptState* L, qvDisplay* display, bool noRefresh);
int BeginDoubleBuffer(qvScriptState* L, bool hardware);
int FlipDisplay(qvScriptState* L, bool sync);
int FreeDoubleBuffer(qvDisplay* display);
void FlipDoubleBuffer(qvDisplay* display, bool whole, int32_t refreshFlags);
int ResetFrontBuffer(qvDisplay* display, int32_t width, int32_t height);
// True when the object of that kind and id is the current output device (a brush, BGPic, their
// masks or alpha channels).
bool IsSelectedOutput(int32_t kind, qvObjectId id);

// ---------------------------------------------------------------------------------------------
// Picture files: loading into brushes, the image cache, saving bitmaps as pictures.

// A picture as the loaders hand it over: the shared pixels (rowWidth words a row) and, when
// asked for, its alpha channel split off into a plane of its own.
struct qvLoadedPicture {
  qvPixelBuffer* buffer;  // one reference for the caller
  qvPlane* alpha;         // or null
  int32_t width, height, rowWidth;
  int32_t alphaFlag;  // 1: the alpha bytes carry meaning
  int32_t kindFlag;
  int64_t transparentColour;  // -1 for none
};
// Loads a picture into a new pixel buffer (image plugins first, once there are any; then the
// built-in readers). With `loadAlpha` the alpha channel is split into *alpha: ERR_NOALPHA for a
// picture without one. With `palette` not null it receives the 256-entry palette of an ILBM pen
// picture (the caller's, std::free), null for any other picture. 0, or the reader's error,
// ERR_NOALPHA or ERR_MEM with nothing left allocated and *out and *palette unchanged.
int LoadPictureWithPlugins(const char* name, const qvIlbmRequest* ilbm, bool loadAlpha,
                           qvLoadedPicture* out, uint32_t** palette);

// The image cache keeps decoded pictures by name (compared without regard to case) for the
// loaders' "cache" and "cachedload" options. A node holds one reference on the pixel buffer and
// its own copy of the alpha channel.
struct qvCachedImage {
  qvPixelBuffer* buffer;  // one reference for the caller
  qvPlane* alpha;         // the caller's copy, or null
  int32_t width, height;
  int32_t word1, word2;  // the caller's
};
// 0 or ERR_MEM (then nothing was added). The alpha plane, when given, is copied.
int AddCachedImage(const char* name, int32_t width, int32_t height, int32_t word1,
                   qvPixelBuffer* buffer, const qvPlane* alpha, int32_t word2);
// 0 with a new reference on the buffer (and, with copyAlpha, a copy of the alpha channel), or
// ERR_CACHEERROR when no entry has the name or copyAlpha finds none, or ERR_MEM.
int FindCachedImage(const char* name, bool copyAlpha, qvCachedImage* out);
void FreeImageCache();

// What LoadBrush reads from its options.
struct qvBrushLoadOptions {
  int64_t transparentColour = -1;  // keyed out by a mask; -1 none
  bool loadAlpha = false;
  int32_t globalAlpha = -1;  // 0-255: an alpha channel of this value (scaling a loaded one)
  int32_t x = 0, y = 0;      // the part of the picture; a size of 0 takes the rest
  int32_t width = 0, height = 0;
  const char* cacheName = nullptr;       // add the picture to the image cache under this name
  const char* cachedLoadName = nullptr;  // take the picture from the image cache instead
  bool cacheAlpha = false;               // the cache keeps the alpha channel too
  qvIlbmRequest ilbm;
};
// Loads the file (or the cached picture) into a brush under the id: the picture is read first,
// then the id released, so that a failure leaves the old brush as it was and makes none.
// 0 or an error code: the loader's, ERR_MASKNALPHA, ERR_NEGCOORDS, ERR_COORDSRANGE,
// ERR_BADDIMENSIONS, ERR_CACHEERROR, ERR_MEM.
int LoadBrushFromFile(qvScriptState* L, qvObjectId* id, bool automatic, const char* file,
                      const qvBrushLoadOptions& options, qvBrush** out);

// One pixel of a brush: its colour 0x00RRGGBB and its mask bit or alpha byte (-1 without mask
// and alpha). False for a position outside the brush.
bool ReadBrushPixelAt(const qvBrush* brush, int32_t x, int32_t y, uint32_t* colour,
                      int32_t* second);
// Writes the colour (its top byte dropped) and, with alpha >= 0, the mask bit (0 clears it) or
// the alpha byte; a position outside writes nothing.
void WriteBrushPixelAt(qvBrush* brush, int32_t x, int32_t y, uint32_t colour, int32_t alpha);

// Picture formats of the savers; other numbers would be picture-saver plugins.
enum : int32_t {
  kImageFormatBmp = 0,
  kImageFormatPng = 1,
  kImageFormatJpeg = 2,
  kImageFormatGif = 3,
  kImageFormatIlbm = 4
};

// A picture to save: ARGB words, `width` words a row.
struct qvSavePicture {
  const char* file = nullptr;
  const uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0;
  bool hasMask = false;   // the pixels came from a masked bitmap
  int64_t colour = -1;    // the colour of masked-out pixels, -1 for none given
  bool alpha = false;     // the alpha bytes carry meaning
  int32_t quality = 90;   // 0-100, lossy formats
  int32_t colours = 256;  // palette formats
  int32_t dither = 0;     // palette formats
};
// One row of the saver table: the writer of a format.
using qvPictureWriter = int (*)(const qvSavePicture& picture);
struct qvPictureWriterRow {
  int32_t format;
  qvPictureWriter write;
};

// Width x height ARGB words (std::free) from the bitmap: with a mask, pixels whose bit is clear
// become the colour (keepAlpha: get alpha 0, the others 255); with an alpha channel the alpha
// bytes come from it and fully transparent pixels have the colour's low 24 bits OR-ed in;
// otherwise every alpha byte is 255. Null when it cannot be had.
uint32_t* BuildARGBPixels(const qvBitMap* bitmap, int32_t width, int32_t height,
                          const qvPlane* mask, const qvPlane* alpha, uint32_t colour,
                          bool keepAlpha);
// Writes the picture in the format (never frees its pixels). 0, the writer's error,
// ERR_UNSUPPORTEDFEAT for a built-in format without a writer yet, ERR_UNKNOWNIMGOUT for a number
// that no saver takes.
int SavePictureFile(int32_t format, const qvSavePicture& picture);
// BuildARGBPixels (keepAlpha off) and SavePictureFile. ERR_MEM when the pixels cannot be had.
int SaveBitMapAsPicture(int32_t format, const qvBitMap* bitmap, int32_t width, int32_t height,
                        const char* file, const qvPlane* mask, int64_t colour, const qvPlane* alpha,
                        int32_t quality, int32_t colours, int32_t dither);
// The save options at the argument: a table's "quality", "colors" and "dither", or a number as
// the quality; absent: the defaults 90, 256, 0. Raises through the argument readers.
void ReadSaveOptions(qvScriptState* L, int index, int32_t* quality, int32_t* colours,
                     int32_t* dither);

// ---------------------------------------------------------------------------------------------
// Snapshots.

enum : int32_t { kSnapWindow = 0, kSnapDisplay = 1, kSnapDesktop = 2 };
// Writes a 24-bit BMP of the bitmap (no mask, no alpha). 0, ERR_WRITEFILE (name stored) or
// ERR_MEM.
int SaveBitMapAsBmp(const qvBitMap* bitmap, int32_t width, int32_t height, const char* fileName);
// A new bitmap of the snapshot type: 0 or an error code.
int GrabSnapshot(qvScriptState* L, int32_t type, qvBitMap** out, bool* owned);

// The library teardown of displays, BGPics and brushes in their order; the library opens.
int32_t OpenDisplaySubsystem();
void FreeDisplaySubsystem(qvScriptState* L);

}  // namespace qv
