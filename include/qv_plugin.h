/* The plugin interface of the Quillvane player: everything a plugin needs to be built without the
 * player's sources, in C99 or C++.
 *
 * A plugin is an ELF shared object named "<module>.qvp" lying in the player's own directory. The
 * player opens it with dlopen(RTLD_NOW | RTLD_LOCAL), so a plugin must resolve every symbol it
 * uses at load time and cannot see another plugin's symbols. It looks up the entry points below
 * by name (declare them with QV_PLUGIN_EXPORT) and hands the plugin one static host interface:
 * version 5 revision 2 and a table of 190 services in a fixed slot order (QV_SLOT_*).
 *
 * Loading, in order: InitPlugin fills the init record (the player presets requiredVersion 5 and
 * requiredRevision 2); its module name must equal the file name without ".qvp" (letter case
 * aside); a plugin that needs a newer host than 5.2 is refused; then every entry of every
 * capability bit it sets must be exported. Any failure after InitPlugin answered non-zero calls
 * ClosePlugin before the library is closed. A plugin stays loaded until the player ends: library
 * plugins get FreeLibrary while the script machine is still open, then every plugin ClosePlugin.
 *
 * Threads: InitPlugin and ClosePlugin run on the player's main thread; commands, loaders, savers
 * and streams on the script thread (a sound stream's reads on the music thread, one stream by
 * one thread at a time). Services run on the caller's thread.
 *
 * Raising services: the VM checks (VmCheck*, VmOpt*, VmCheckUdata), ApiRaiseError and VmCall-like
 * services do not return when they fail. They unwind the plugin's frames up to the player's call
 * of the command handler, as a C++ exception does: a C++ plugin's destructors run; a C plugin
 * must be built with unwind tables (-funwind-tables or -fexceptions; GCC makes them by default on
 * x86-64) and must not hold memory or locks across such a call. A command handler may instead
 * return an error code (1000 and up) itself, which the player raises for it.
 */
#ifndef QV_PLUGIN_H
#define QV_PLUGIN_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
#define QV_PLUGIN_EXTERN_C extern "C"
extern "C" {
#else
#define QV_PLUGIN_EXTERN_C
#endif

#define QV_PLUGIN_EXPORT QV_PLUGIN_EXTERN_C __attribute__((visibility("default")))

/* The host interface this header describes. */
#define QV_PLUGIN_VERSION 5
#define QV_PLUGIN_REVISION 2

/* Capability bits of qvPluginInit.capabilities, each with the entries a plugin that sets it must
 * export:
 * QV_CAP_SCRIPT: GetScript, FreeScript.
 * QV_CAP_LIBRARY: GetBaseTable, GetCommands, GetConstants, InitLibrary, FreeLibrary.
 * QV_CAP_IMAGE: IsImage, LoadImage, GetImage, FreeImage, TransformImage.
 * QV_CAP_ANIM: OpenAnim, LoadFrame, FreeFrame, GetFrameDelay, CloseAnim.
 * QV_CAP_SOUND: OpenStream, CloseStream, SeekStream, StreamSamples, GetFormatName.
 * QV_CAP_VECTOR: GetPathExtents, DrawPath, TranslatePath, GetCurrentPoint, CreateVectorFont,
 *   FreeVectorFont, OpenFont, CloseFont.
 * QV_CAP_VIDEO: OpenVideo, CloseVideo, NextPacket, FreePacket, DecodeVideoFrame,
 *   DecodeAudioFrame, SeekVideo, FlushAudio, FlushVideo, GetVideoFrames, GetVideoFormat.
 * QV_CAP_IMAGESAVER: RegisterImageSaver, SaveImage.
 * QV_CAP_ANIMSAVER: RegisterAnimSaver, BeginAnimStream, WriteAnimFrame, FinishAnimStream.
 * QV_CAP_SAMPLESAVER: RegisterSampleSaver, SaveSample. */
#define QV_CAP_SCRIPT 0x1u
#define QV_CAP_LIBRARY 0x2u
#define QV_CAP_IMAGE 0x4u
#define QV_CAP_ANIM 0x8u
#define QV_CAP_SOUND 0x10u
#define QV_CAP_VECTOR 0x20u
#define QV_CAP_VIDEO 0x40u
#define QV_CAP_IMAGESAVER 0x80u
#define QV_CAP_ANIMSAVER 0x100u
#define QV_CAP_SAMPLESAVER 0x200u

/* The script machine's state as a plugin sees it: only ever passed back to the VM services. */
typedef struct qvPluginState qvPluginState;

/* Filled by InitPlugin. The texts must live until ClosePlugin. */
typedef struct qvPluginInit {
  uint32_t capabilities, version, revision, requiredVersion, requiredRevision;
  const char *name, *moduleName, *author, *description, *copyright, *url, *date, *settings,
      *helpFile;
} qvPluginInit;

/* The host interface. groups[0] points at slot 0 of the one service table, and every slot lies
 * behind it in slot order, so groups[0][QV_SLOT_X] is service X; groups[1..9] point at the first
 * slots of the later groups (32, 52, 75, 87, 49, 89, 90, 116, 184). tail holds {1, 1}. */
typedef struct qvPluginApi {
  uint32_t version, revision;
  void* const* groups[10];
  uint32_t tail[2];
} qvPluginApi;

/* A library plugin's command: returns the number of results it pushed (0-999) or an error code
 * (1000 and up), which the player raises. A null name ends the table. */
typedef struct qvPluginCommand {
  const char* name;
  int32_t (*handler)(qvPluginState* L);
} qvPluginCommand;

/* A constant: a text when string is not null, else the number. A null name ends the table. */
typedef struct qvPluginConstant {
  const char* name;
  const char* string;
  double number;
} qvPluginConstant;

/* Picture facts, one record for IsImage, LoadImage and GetImage: width and height; pixels per
 * row of the pixel data GetImage gives (at least width); alpha non-zero when the alpha bytes carry
 * meaning; forceAlpha non-zero to have the alpha channel split off whether the script asked for
 * it or not; kind 1 for a vector picture, which the player asks to TransformImage when it is
 * drawn at another size or angle instead of scaling its pixels (any other value: raster). */
typedef struct qvImageFacts {
  int32_t width, height, pixelsPerRow, alpha, forceAlpha, kind;
} qvImageFacts;

/* ---- entry points, looked up by name ---- */
/* InitPlugin: non-zero for success. path is the plugin's full path. */
int32_t InitPlugin(qvPluginInit* init, const qvPluginApi* api, const char* path);
void ClosePlugin(void);
/* Library: the base table's name or null (commands then become global functions). */
const char* GetBaseTable(void);
const qvPluginCommand* GetCommands(void);
const qvPluginConstant* GetConstants(void);
/* InitLibrary: 0 or an error code, which ends the player's start-up. */
int32_t InitLibrary(qvPluginState* L);
void FreeLibrary(qvPluginState* L);
/* Image loader: IsImage non-zero when the plugin takes the file (facts filled; width, height,
 * pixelsPerRow and alpha are read). LoadImage gives an image handle or null. GetImage gives
 * height x pixelsPerRow ARGB words (0xAARRGGBB), owned by the image, valid until the next
 * TransformImage or FreeImage of the image. TransformImage redraws the picture at width x height
 * through the matrix {a, b, c, d} (transform[0..3]) and offsets transform[4..5]; non-zero for
 * success, after which GetImage gives the new pixels. */
int32_t IsImage(const char* file, qvImageFacts* facts);
void* LoadImage(const char* file, qvImageFacts* facts);
uint32_t* GetImage(void* image, qvImageFacts* facts);
void FreeImage(void* image);
int32_t TransformImage(void* image, const double transform[6], int32_t width, int32_t height);

/* ---- savers ---- */
/* The record a saver fills once at registration: format is the number scripts pass (the player
 * registers the constant "imgfmt_<name>", "anmfmt_<name>" or "smpfmt_<name>" with it, read as an
 * unsigned 32-bit number); reserved is not read; flags (image savers) tell what the saver takes.
 * Built-in image formats are 0-4 and the built-in sample format 0: pick another number. */
typedef struct qvSaverRecord {
  uint32_t reserved, format;
  const char* name;
  uint32_t flags;
} qvSaverRecord;
void RegisterImageSaver(qvSaverRecord* record);
void RegisterAnimSaver(qvSaverRecord* record);
void RegisterSampleSaver(qvSaverRecord* record);

/* A picture to save. With a 32-bit saver (QV_SAVE_ARGB in the saver record's flags) pixels are
 * ARGB words and palette is null; otherwise pixels are bytesPerRow bytes a row of palette indices
 * and palette holds paletteSize 0x00RRGGBB colours. Flags: QV_SAVE_HASALPHA, the alpha bytes carry
 * meaning (32-bit only, when the saver's flags also hold QV_SAVE_CANALPHA);
 * QV_SAVE_TRANSPARENTLAST, the last palette entry stands for transparency. */
#define QV_SAVE_ARGB 0x1u
#define QV_SAVE_CANALPHA 0x2u
#define QV_SAVE_HASALPHA 0x1u
#define QV_SAVE_TRANSPARENTLAST 0x2u
typedef struct qvImageSave {
  const void* pixels;
  const uint32_t* palette;
  int32_t width, height, bytesPerRow, paletteSize, quality;
  uint32_t flags;
  const char* file;
} qvImageSave;
/* Non-zero for success. */
int32_t SaveImage(const qvImageSave* picture);

/* A sample to save: PCM as the sample holds it, interleaved. flags bit 0: 16-bit data stored
 * big-endian; bit 1: signed data. */
typedef struct qvSampleSave {
  const void* data;
  uint32_t bytes, frames, channels, bits, frequency, flags;
} qvSampleSave;
int32_t SaveSample(const char* file, const qvSampleSave* sample);

/* ---- sound streams ---- */
/* Filled by OpenStream (zeroed before): frames, channels (1 or 2), bits (8 or 16), frequency,
 * flags: QV_STREAM_BIGENDIAN, QV_STREAM_SIGNED, QV_STREAM_SEEKABLE. */
#define QV_STREAM_BIGENDIAN 0x1u
#define QV_STREAM_SIGNED 0x2u
#define QV_STREAM_SEEKABLE 0x4u
typedef struct qvStreamFacts {
  uint32_t frames, channels, bits, frequency, flags;
} qvStreamFacts;
/* A read: the plugin writes at most `wanted` interleaved frames to buffer, sets delivered and,
 * when the stream has ended, end. */
typedef struct qvStreamRead {
  void* buffer;
  uint32_t wanted, delivered, end;
} qvStreamRead;
void* OpenStream(const char* file, qvStreamFacts* facts);
void CloseStream(void* stream);
void SeekStream(void* stream, uint32_t frame);
void StreamSamples(void* stream, qvStreamRead* read);
const char* GetFormatName(void* stream);

/* ---- vector graphics ---- */
/* A path is a stream of segments, each a 32-bit opcode and its operands, little-endian and packed
 * without alignment (int32 4 bytes, double 8 bytes); the 32-bit word 0 ends the stream. Operands:
 * QV_SEG_MOVETO, QV_SEG_LINETO: int32 relative, double x, y.
 * QV_SEG_CURVETO: int32 relative, double x1, y1, x2, y2, x3, y3 (two control points, the end).
 * QV_SEG_STARTSUBPATH, QV_SEG_CLOSEPATH: none.
 * QV_SEG_ARC: double centre x, y, radius x, y, start and end angle (degrees), int32 direction.
 * QV_SEG_BOX: double x, y, width, height, int32 corner levels a, b, c, d (percent 0..100).
 * QV_SEG_TEXT: int32 vector font handle, int32 size, the UTF-8 text with its zero, padded to
 *   (n rounded down to 4) + 4 bytes for n bytes with the zero.
 * A relative point counts from the current point. Every request carries the stream's byte length
 * (end mark included): a plugin reads nothing beyond it, and an unknown opcode, a short operand,
 * a text without its zero or a missing end mark ends its walk there. */
#define QV_SEG_END 0
#define QV_SEG_MOVETO 1
#define QV_SEG_LINETO 2
#define QV_SEG_CURVETO 3
#define QV_SEG_STARTSUBPATH 5
#define QV_SEG_CLOSEPATH 6
#define QV_SEG_ARC 7
#define QV_SEG_BOX 8
#define QV_SEG_TEXT 9

/* The path style: join 0 mitre, 1 round, 2 bevel; cap 0 butt, 1 round, 2 square; dashes null or
 * dashCount lengths starting dashOffset into the pattern; fill rule 0 winding, 1 even-odd. */
typedef struct qvPathStyle {
  int32_t join, cap;
  double dashOffset;
  int32_t dashCount;
  const double* dashes;
  int32_t fillRule;
} qvPathStyle;

/* GetPathExtents: the box of the path filled (fill non-zero) or stroked lineWidth wide with the
 * style, moved by translateX, translateY, into x, y, width, height (zero when there is nothing).
 * Non-zero when answered. */
typedef struct qvPathExtentsRequest {
  qvPathStyle style;
  int32_t antialias;
  const uint8_t* stream;
  size_t streamBytes;
  int32_t fill;
  double lineWidth;
  double translateX, translateY;
  double x, y, width, height; /* out */
} qvPathExtentsRequest;

/* GetCurrentPoint: where the pen stands after the stream, into x, y (0, 0 without one). */
typedef struct qvCurrentPointRequest {
  qvPathStyle style;
  const uint8_t* stream;
  size_t streamBytes;
  double x, y; /* out */
} qvCurrentPointRequest;

/* TranslatePath: every absolute coordinate of the stream moved by dx, dy in place (relative
 * points and sizes stay). Non-zero when done. */
typedef struct qvTranslatePathRequest {
  uint8_t* stream;
  size_t streamBytes;
  double dx, dy;
} qvTranslatePathRequest;

/* DrawPath: the path's 8-bit coverage written into alpha (width x height bytes, bytesPerRow a
 * row), filled (fill non-zero) or stroked lineWidth wide, each point p drawn at
 * matrix * p + (translateX, translateY) with matrix {a, b, c, d}: x' = a x + c y, y' = b x + d y.
 * colour is the caller's (0xAARRGGBB); the coverage does not depend on it. Returns 0 when nothing
 * was drawn, non-zero otherwise; drawn tells the same. */
typedef struct qvDrawPathRequest {
  qvPathStyle style;
  int32_t antialias;
  const uint8_t* stream;
  size_t streamBytes;
  int32_t fill;
  double lineWidth;
  uint32_t colour;
  uint8_t* alpha;
  int32_t bytesPerRow;
  double translateX, translateY;
  double matrix[4];
  int32_t width, height;
  int32_t drawn; /* out */
} qvDrawPathRequest;

/* CreateVectorFont: a handle (non-zero) for outlines of the face in the file (or in data, size
 * bytes, when file is null), face index faceIndex; 0 when the face cannot be used. */
typedef struct qvVectorFontFace {
  const char* file;
  const void* data;
  size_t size;
  int32_t faceIndex;
} qvVectorFontFace;

int32_t GetPathExtents(qvPathExtentsRequest* request);
int32_t DrawPath(qvDrawPathRequest* request);
int32_t TranslatePath(qvTranslatePathRequest* request);
int32_t GetCurrentPoint(qvCurrentPointRequest* request);
int32_t CreateVectorFont(const qvVectorFontFace* face);
void FreeVectorFont(int32_t font);
/* Required with QV_CAP_VECTOR but never called: answer 0. */
int32_t OpenFont(void);
int32_t CloseFont(void);

/* The anim, video, script and anim saver entries' records belong to the interface revisions of
 * the player parts that call them; until then the player only checks that a plugin setting those
 * bits exports them (see the capability bits) and never calls them. */

/* ---- the service table ---- */
enum {
  /* group 1: runtime library and strings (the C library's own functions) */
  QV_SLOT_MALLOC = 0,
  QV_SLOT_CALLOC,
  QV_SLOT_REALLOC,
  QV_SLOT_FREE,
  QV_SLOT_STRDUP,
  QV_SLOT_FOPEN,
  QV_SLOT_FCLOSE,
  QV_SLOT_FSEEK,
  QV_SLOT_FTELL,
  QV_SLOT_FREAD,
  QV_SLOT_FWRITE,
  QV_SLOT_FGETC,
  QV_SLOT_FPUTC,
  QV_SLOT_FERROR,
  QV_SLOT_FEOF,
  QV_SLOT_VFPRINTF,
  QV_SLOT_VSNPRINTF,
  QV_SLOT_VPRINTF,
  QV_SLOT_QSORT,
  QV_SLOT_UNSUPPORTEDVSSCANF,
  QV_SLOT_STRTOD,
  QV_SLOT_STRTOL,
  QV_SLOT_STRTOUL,
  QV_SLOT_APISTRCASECMP = 23,
  QV_SLOT_APISTRNCASECMP,
  QV_SLOT_APITOLOWERCHAR,
  QV_SLOT_APITOUPPERCHAR,
  QV_SLOT_LOWERCASESTRING,
  QV_SLOT_UPPERCASESTRING,
  QV_SLOT_UNSUPPORTEDGETTIMEOFDAY,
  QV_SLOT_APITIME,
  QV_SLOT_ROUNDTOINT,
  /* group 2: player attributes, errors, time, memory, events */
  QV_SLOT_APIGETPLAYERATTRS = 32,
  QV_SLOT_REGISTERERRORNAME,
  QV_SLOT_SETERRORSTRING,
  QV_SLOT_SETERRORNUMBER,
  QV_SLOT_FORMATERRORTEXT,
  QV_SLOT_GETSYSTIME,
  QV_SLOT_SUBTIMEVAL,
  QV_SLOT_ADDTIMEVAL,
  QV_SLOT_CMPTIMEVAL,
  QV_SLOT_DELAYMS,
  QV_SLOT_FORMATDATETEXT,
  QV_SLOT_APIALLOCVEC,
  QV_SLOT_FREEFONTBUFFER,
  QV_SLOT_ADDUSERRESOURCE,
  QV_SLOT_REGISTEREVENTTYPE,
  QV_SLOT_POSTCUSTOMEVENT,
  QV_SLOT_SATELLITEINPUT,
  /* group 6: requesters */
  QV_SLOT_APISYSTEMREQUEST = 49,
  QV_SLOT_APIFILEREQUEST,
  QV_SLOT_APIPATHREQUEST,
  /* group 3: files, directories, paths */
  QV_SLOT_OPENFILEQ = 52,
  QV_SLOT_CLOSEFILEQ,
  QV_SLOT_APISEEKFILE,
  QV_SLOT_READFILEQ,
  QV_SLOT_WRITEFILEQ,
  QV_SLOT_READBYTEQ,
  QV_SLOT_WRITEBYTEQ,
  QV_SLOT_EOFFILEQ,
  QV_SLOT_DELETEFILEORDIR,
  QV_SLOT_OPENDIRQ,
  QV_SLOT_CLOSEDIRQ,
  QV_SLOT_NEXTDIRENTRYQ,
  QV_SLOT_APIEXAMINEFILE,
  QV_SLOT_EXAMINEDIRQ,
  QV_SLOT_UNLOCKBITMAP,
  QV_SLOT_APINEXTDIRENTRY,
  QV_SLOT_MAKEDIRECTORYCORE,
  QV_SLOT_RENAMEFILE,
  QV_SLOT_GETCURRENTDIRNAME,
  QV_SLOT_CREATETEMPNAME,
  QV_SLOT_JOINPATH,
  QV_SLOT_GETFILEPART,
  QV_SLOT_GETDISPLAYNAME,
  /* group 4: pictures, brushes, display satellites */
  QV_SLOT_APIGETPICTUREINFO = 75,
  QV_SLOT_APILOADPICTUREARGB,
  QV_SLOT_APIGETPICTUREPIXELS,
  QV_SLOT_APIFREEVEC,
  QV_SLOT_APILOCKBRUSH,
  QV_SLOT_APIUNLOCKBRUSH,
  QV_SLOT_APIGETBRUSHARGB,
  QV_SLOT_FREEFONTBUFFER2,
  QV_SLOT_ATTACHSATELLITE,
  QV_SLOT_DETACHSATELLITE,
  QV_SLOT_REDRAWSATELLITE,
  QV_SLOT_RESIZESATELLITE,
  /* group 5: samples */
  QV_SLOT_APIGETSAMPLEDATA = 87,
  QV_SLOT_APIFREESAMPLEDATA,
  /* group 7: font files */
  QV_SLOT_FINDFONTFILEENTRY = 89,
  /* group 8: FreeType's own functions */
  QV_SLOT_FT_INIT_FREETYPE = 90,
  QV_SLOT_FT_DONE_FREETYPE,
  QV_SLOT_FT_NEW_FACE,
  QV_SLOT_FT_NEW_MEMORY_FACE,
  QV_SLOT_FT_LOAD_GLYPH,
  QV_SLOT_FT_RENDER_GLYPH,
  QV_SLOT_FT_GET_GLYPH,
  QV_SLOT_FT_DONE_GLYPH,
  QV_SLOT_FT_OUTLINE_TRANSFORM,
  QV_SLOT_FT_OUTLINE_TRANSLATE,
  QV_SLOT_FT_OUTLINE_GET_BITMAP,
  QV_SLOT_FT_OUTLINE_GET_CBOX,
  QV_SLOT_FT_OUTLINE_DECOMPOSE,
  QV_SLOT_FT_DONE_FACE,
  QV_SLOT_FT_GET_CHAR_INDEX,
  QV_SLOT_FT_GET_FIRST_CHAR,
  QV_SLOT_FT_GET_NEXT_CHAR,
  QV_SLOT_FT_GLYPH_TRANSFORM,
  QV_SLOT_FT_SET_CHARMAP,
  QV_SLOT_FT_SET_PIXEL_SIZES,
  QV_SLOT_FT_SET_CHAR_SIZE,
  QV_SLOT_FT_MULFIX,
  QV_SLOT_FT_VECTOR_TRANSFORM,
  QV_SLOT_FT_GET_KERNING,
  QV_SLOT_FT_GET_SFNT_TABLE,
  QV_SLOT_FT_LOAD_SFNT_TABLE,
  /* group 9: the script machine */
  QV_SLOT_VMGETTOP = 116,
  QV_SLOT_VMSETTOP,
  QV_SLOT_VMPUSHVALUE,
  QV_SLOT_VMREMOVE,
  QV_SLOT_VMINSERT,
  QV_SLOT_VMREPLACE,
  QV_SLOT_VMISCFUNCTION,
  QV_SLOT_VMISNUMBER,
  QV_SLOT_VMISSTRING,
  QV_SLOT_VMISUSERDATA,
  QV_SLOT_VMTYPE,
  QV_SLOT_VMEQUAL,
  QV_SLOT_VMRAWEQUAL,
  QV_SLOT_VMLESSTHAN,
  QV_SLOT_VMTONUMBER,
  QV_SLOT_VMTOSTRING,
  QV_SLOT_VMSTRLEN,
  QV_SLOT_VMTOCFUNCTION,
  QV_SLOT_VMTOUSERDATA,
  QV_SLOT_VMTOPOINTER,
  QV_SLOT_VMPUSHNIL,
  QV_SLOT_VMPUSHNUMBER,
  QV_SLOT_VMPUSHLSTRING,
  QV_SLOT_VMPUSHSTRING,
  QV_SLOT_VMPUSHLIGHTUSERDATA,
  QV_SLOT_VMPUSHCCLOSURE,
  QV_SLOT_VMGETTABLE,
  QV_SLOT_VMRAWGET,
  QV_SLOT_VMRAWGETI,
  QV_SLOT_VMNEWTABLE,
  QV_SLOT_VMGETFENV,
  QV_SLOT_VMSETTABLE,
  QV_SLOT_VMRAWSET,
  QV_SLOT_VMRAWSETI,
  QV_SLOT_VMSETFENV,
  QV_SLOT_VMPCALL,
  QV_SLOT_VMNEXT,
  QV_SLOT_VMCONCAT,
  QV_SLOT_VMPUSHUPVALUES,
  QV_SLOT_VMGETUPVALUE,
  QV_SLOT_VMSETUPVALUE,
  QV_SLOT_VMNEWUSERDATA,
  QV_SLOT_VMSETMETATABLE,
  QV_SLOT_VMGETMETATABLE,
  QV_SLOT_APIRAISEERROR = 160,
  QV_SLOT_VMCHECKSTRING,
  QV_SLOT_VMOPTSTRING,
  QV_SLOT_VMCHECKNUMBER,
  QV_SLOT_VMOPTNUMBER,
  QV_SLOT_VMCHECKINT,
  QV_SLOT_VMOPTINT,
  QV_SLOT_VMCHECKTABLE,
  QV_SLOT_VMCHECKFUNCTION,
  QV_SLOT_VMCHECKTYPE,
  QV_SLOT_VMREF,
  QV_SLOT_VMUNREF,
  QV_SLOT_APIGETOBJECTID,
  QV_SLOT_VMNEWMETATABLE = 173,
  QV_SLOT_VMGETNAMEDMETATABLE,
  QV_SLOT_VMCHECKUDATA,
  QV_SLOT_VMBUFFERINIT,
  QV_SLOT_VMBUFFERFLUSH,
  QV_SLOT_VMBUFFERADDLSTRING,
  QV_SLOT_VMBUFFERADDSTRING,
  QV_SLOT_VMBUFFERADDVALUE,
  QV_SLOT_VMBUFFERPUSHRESULT,
  QV_SLOT_VMFINDSTRING,
  QV_SLOT_VMCHECKSTACK,
  /* group 10: the embedded TrueType fonts (data addresses, then their sizes in bytes as
   * pointer-sized numbers; null and 0 when the fonts are not installed) */
  QV_SLOT_FONT_VERASANS = 184,
  QV_SLOT_FONT_VERASANSMONO,
  QV_SLOT_FONT_VERASERIF,
  QV_SLOT_FONTSIZE_VERASANS,
  QV_SLOT_FONTSIZE_VERASANSMONO,
  QV_SLOT_FONTSIZE_VERASERIF,
  QV_SLOT_COUNT = 190
};

/* A service of the table as a function of its type: QV_SERVICE(api, VMPUSHNUMBER,
 * qvFn_VmPushNumber)(L, 1.0). */
#define QV_SERVICE(api, SLOT, type) ((type)(api)->groups[0][QV_SLOT_##SLOT])

/* ---- records the services use ---- */
typedef struct qvPluginObjectId {
  int32_t number;
  void* handle;
} qvPluginObjectId;
typedef struct qvTimeVal {
  uint32_t seconds, micros;
} qvTimeVal;
/* Tag lists end with tag 0. */
typedef struct qvPluginTag {
  uint32_t tag;
  intptr_t value;
} qvPluginTag;
/* ApiExamineFile and ApiNextDirEntry: name (null from ApiExamineFile; valid until the next
 * entry), directory flag, size in bytes, last write in seconds since 1970 (UTC). */
typedef struct qvPluginFileInfo {
  const char* name;
  int32_t isDirectory;
  int64_t size, modified;
} qvPluginFileInfo;
/* ApiLockBrush's ten words: the locked pixels and their bytes per row, the alpha channel's data
 * and bytes per row (null, 0 without one), the mask's likewise (one bit a pixel, the top bit
 * first), the image engine's pixel format number, bytes per pixel, width and height. */
typedef struct qvBrushLock {
  void* pixels;
  intptr_t bytesPerRow;
  uint8_t* alpha;
  intptr_t alphaBytesPerRow;
  uint8_t* mask;
  intptr_t maskBytesPerRow;
  intptr_t pixelFormat, bytesPerPixel, width, height;
} qvBrushLock;
/* ApiGetSampleData: the PCM (a copy, or with direct the sample's own bytes), byte and frame
 * counts, channels, bits, frequency and flags (as qvSampleSave). */
typedef struct qvSampleData {
  void* data;
  uint32_t bytes, frames, channels, bits, frequency, flags;
} qvSampleData;
/* The script machine's string buffer, kept on the plugin's stack. */
typedef struct qvStringBuffer {
  char* p;
  int pieces;
  qvPluginState* L;
  char buffer[1024];
} qvStringBuffer;
/* A display satellite: another view of a display that a plugin keeps (a window of its own, say).
 * The handle is the host's, valid until DetachSatellite or the player's end. */
typedef struct qvPluginSatellite qvPluginSatellite;
/* Told the display's picture size after ResizeSatellite changed the size of its window. */
typedef void (*qvSatelliteFunc)(void* data, int32_t width, int32_t height);
/* SatelliteInput's kinds: the pointer moved; the left, right or middle button went down or up;
 * the wheel turned; a key went down or up. */
#define QV_SATELLITE_POINTER 0
#define QV_SATELLITE_LEFTBUTTON 1
#define QV_SATELLITE_RIGHTBUTTON 2
#define QV_SATELLITE_MIDBUTTON 3
#define QV_SATELLITE_WHEEL 4
#define QV_SATELLITE_KEY 5
/* x, y: the pointer in the display's picture (pointer and buttons); pressed: non-zero for a
 * button or key that went down, for a wheel turned down; code and qualifiers: the key's, as the
 * key table has them. */
typedef struct qvSatelliteEvent {
  int32_t x, y, pressed, code;
  uint32_t qualifiers;
} qvSatelliteEvent;
typedef int32_t (*qvCFunction)(qvPluginState* L);
typedef struct qvFile qvFile;
typedef struct qvDirHandle qvDirHandle;

/* ---- a function type per service ---- */
typedef void* (*qvFn_malloc)(size_t);
typedef void* (*qvFn_calloc)(size_t, size_t);
typedef void* (*qvFn_realloc)(void*, size_t);
typedef void (*qvFn_free)(void*);
typedef char* (*qvFn_strdup)(const char*);
typedef FILE* (*qvFn_fopen)(const char*, const char*);
typedef int (*qvFn_fclose)(FILE*);
typedef int (*qvFn_fseek)(FILE*, long, int);
typedef long (*qvFn_ftell)(FILE*);
typedef size_t (*qvFn_fread)(void*, size_t, size_t, FILE*);
typedef size_t (*qvFn_fwrite)(const void*, size_t, size_t, FILE*);
typedef int (*qvFn_fgetc)(FILE*);
typedef int (*qvFn_fputc)(int, FILE*);
typedef int (*qvFn_ferror)(FILE*);
typedef int (*qvFn_feof)(FILE*);
typedef int (*qvFn_vfprintf)(FILE*, const char*, va_list);
typedef int (*qvFn_vsnprintf)(char*, size_t, const char*, va_list);
typedef int (*qvFn_vprintf)(const char*, va_list);
typedef void (*qvFn_qsort)(void*, size_t, size_t, int (*)(const void*, const void*));
/* Prints a notice on standard error and answers 0 (nothing read). */
typedef int (*qvFn_UnsupportedVsscanf)(const char*, const char*, va_list);
typedef double (*qvFn_strtod)(const char*, char**);
typedef long (*qvFn_strtol)(const char*, char**, int);
typedef unsigned long (*qvFn_strtoul)(const char*, char**, int);
/* Case folding of ISO-8859-1 text. */
typedef int (*qvFn_ApiStrCaseCmp)(const char*, const char*);
typedef int (*qvFn_ApiStrNCaseCmp)(const char*, const char*, size_t);
typedef int (*qvFn_ApiToLowerChar)(int);
typedef int (*qvFn_ApiToUpperChar)(int);
typedef char* (*qvFn_LowerCaseString)(char*);
typedef char* (*qvFn_UpperCaseString)(char*);
/* Prints a notice on standard error and answers 0. */
typedef int (*qvFn_UnsupportedGettimeofday)(void*, void*);
typedef time_t (*qvFn_ApiTime)(time_t*);
typedef int32_t (*qvFn_RoundToInt)(double);
/* Tags 26-30: value points at a const char * that gets one of the applet's five header texts in
 * the applet container's order (name, version, copyright, author, description; "" when the applet
 * has none); tag 25's value is set to 0. Answers how many tags it answered. */
typedef int32_t (*qvFn_ApiGetPlayerAttrs)(qvPluginTag* tags);
/* Declares an error with that message: its code (1509 and up), or 1000 without memory. */
typedef int32_t (*qvFn_RegisterErrorName)(const char* text);
typedef void (*qvFn_SetErrorString)(const char*);
typedef void (*qvFn_SetErrorNumber)(int32_t);
/* The message of an error code with the stored arguments, cut to size bytes. */
typedef void (*qvFn_FormatErrorText)(int32_t code, char* out, size_t size);
typedef void (*qvFn_GetSysTime)(qvTimeVal*);
typedef void (*qvFn_SubTimeVal)(qvTimeVal* dest, const qvTimeVal* src);
typedef void (*qvFn_AddTimeVal)(qvTimeVal* dest, const qvTimeVal* src);
typedef int (*qvFn_CmpTimeVal)(const qvTimeVal*, const qvTimeVal*);
typedef void (*qvFn_DelayMs)(int);
/* The local time as "dd-Mon-yyyy hh:mm:ss" into out (at least 32 bytes). */
typedef void (*qvFn_FormatDateText)(char* out);
/* size bytes (zeroed when flags has 0x10000), freed by ApiFreeVec. */
typedef void* (*qvFn_ApiAllocVec)(size_t size, uint32_t flags);
typedef void (*qvFn_FreeFontBuffer)(void*);
/* Records an item only for a null name (then 1); a named one records nothing and gives 0. */
typedef int (*qvFn_AddUserResource)(const char* name, intptr_t value, void* data);
/* A new event type under the name ("on<name>" handlers of InstallEventHandler): its number (22
 * and up), 0 without memory. pushFields adds the event's own fields to the message table. */
typedef int32_t (*qvFn_RegisterEventType)(const char* name,
                                          void (*pushFields)(qvPluginState* L, void* data));
typedef void (*qvFn_PostCustomEvent)(int32_t type, void* data);
/* The display that holds the satellite gets the input as from its own window: its input state
 * follows and the script receives the event. 0, 1344 when no display holds the satellite, 1055
 * for another kind. Any thread. */
typedef int32_t (*qvFn_SatelliteInput)(qvPluginSatellite* satellite, int32_t kind,
                                       const qvSatelliteEvent* event);
/* The service not yet available (slot 89) answers 1001 ("not implemented") and does nothing. */
typedef int32_t (*qvFn_NotAvailable)(void);
/* Requesters. ApiSystemRequest: the buttons "Yes|No" answer 1, 2, ..., the last one 0.
 * ApiFileRequest and ApiPathRequest write at most 1024 bytes (terminator included) into buffer:
 * 1, or 0 when cancelled. */
typedef int32_t (*qvFn_ApiSystemRequest)(const char* title, const char* text, const char* buttons);
typedef int32_t (*qvFn_ApiFileRequest)(const char* title, char* buffer);
typedef int32_t (*qvFn_ApiPathRequest)(const char* title, char* buffer);
/* Files through the player's file layer (linked files and ":::chunk" names work). Modes of
 * OpenFileQ: 0 read, 1 write, 2 read and write. */
typedef qvFile* (*qvFn_OpenFileQ)(const char* name, int mode);
typedef int (*qvFn_CloseFileQ)(qvFile*);
/* mode 0 from the start, 1 from the current position, 2 from the end; the position before. */
typedef int64_t (*qvFn_ApiSeekFile)(qvFile*, int64_t offset, int mode);
typedef size_t (*qvFn_ReadFileQ)(qvFile*, void*, size_t);
typedef size_t (*qvFn_WriteFileQ)(qvFile*, const void*, size_t);
typedef int (*qvFn_ReadByteQ)(qvFile*);
typedef int (*qvFn_WriteByteQ)(qvFile*, int);
typedef int (*qvFn_EofFileQ)(const qvFile*);
typedef bool (*qvFn_DeleteFileOrDir)(const char*);
/* A handle on a file or directory (mode 0), null when it cannot be had. */
typedef qvDirHandle* (*qvFn_OpenDirQ)(const char* name, int mode);
typedef void (*qvFn_CloseDirQ)(qvDirHandle*);
/* The next entry's name into *name: 1, or 0 at the end (after ExamineDirQ). */
typedef int (*qvFn_NextDirEntryQ)(qvDirHandle*, const char** name);
typedef int32_t (*qvFn_ApiExamineFile)(const char* name, qvPluginFileInfo* info);
/* Starts a scan of the directory: 0 or an error code. */
typedef int (*qvFn_ExamineDirQ)(qvDirHandle*);
/* Unlocks what ApiLockBrush locked (the qvBrushLock's pixels). */
typedef void (*qvFn_UnLockBitMap)(void* pixels);
typedef int32_t (*qvFn_ApiNextDirEntry)(qvDirHandle*, void* ignored, qvPluginFileInfo* info);
typedef int (*qvFn_MakeDirectoryCore)(const char*);
typedef bool (*qvFn_RenameFile)(const char*, const char*);
/* The current directory into buffer: non-zero, or 0 when it did not fit. */
typedef int32_t (*qvFn_GetCurrentDirName)(char* buffer, size_t size);
typedef int (*qvFn_CreateTempName)(char* buffer, size_t size);
typedef bool (*qvFn_JoinPath)(char* dir, size_t size, const char* name);
typedef const char* (*qvFn_GetFilePart)(const char*);
typedef const char* (*qvFn_GetDisplayName)(const char*);
/* Pictures through the built-in readers. ApiGetPictureInfo: non-zero when the file is a picture
 * it reads, with its size and alpha flag. ApiLoadPictureARGB gives a picture handle (null on
 * failure) whose pixels (ApiGetPicturePixels) are width x height words with the bytes R, G, B, A
 * in memory (alpha 255 when the picture has none); ApiFreeVec frees it. */
typedef int32_t (*qvFn_ApiGetPictureInfo)(const char* file, int32_t* width, int32_t* height,
                                          int32_t* alpha);
typedef void* (*qvFn_ApiLoadPictureARGB)(const char* file, void* ignored, int32_t* width,
                                         int32_t* height, int32_t* alpha);
typedef uint32_t* (*qvFn_ApiGetPicturePixels)(void* picture);
typedef void (*qvFn_ApiFreeVec)(void*);
/* Script thread only. ApiLockBrush: non-zero with the record filled, 0 when the brush is missing
 * or cannot be locked; unlock with ApiUnLockBrush before the script goes on. */
typedef int32_t (*qvFn_ApiLockBrush)(qvPluginObjectId id, void* ignored, qvBrushLock* lock);
typedef void (*qvFn_ApiUnLockBrush)(qvPluginObjectId id);
/* A new width x height array of 0xAARRGGBB words with the brush's mask or alpha applied (free it
 * with ApiFreeVec), or null. Tags (value points at an int32_t): 1 width, 2 height, 3 answers 1
 * when the brush has neither a mask nor an alpha channel, else 0. */
typedef uint32_t* (*qvFn_ApiGetBrushARGB)(qvPluginObjectId id, qvPluginTag* tags);
/* Satellites, script thread only. AttachSatellite: a new satellite of the display, or null when
 * the display is missing or its picture has a transparent colour, a mask or an alpha channel;
 * tags (value points at an int32_t): 1 the picture's width, 2 its height. DetachSatellite frees
 * it (a handle that no display holds is left alone). RedrawSatellite redraws the display's
 * window: 0 or 1344. ResizeSatellite gives the display a picture of width x height, its window
 * kept where it is; each satellite's function is told the new size and the script receives the
 * display's size event: 0, 1344 when no display holds the satellite, or the resize's error. A
 * display with satellites cannot be freed (1504). */
typedef qvPluginSatellite* (*qvFn_AttachSatellite)(qvPluginObjectId display, qvSatelliteFunc func,
                                                   void* data, qvPluginTag* tags);
typedef void (*qvFn_DetachSatellite)(qvPluginSatellite* satellite);
typedef int32_t (*qvFn_RedrawSatellite)(qvPluginSatellite* satellite);
typedef int32_t (*qvFn_ResizeSatellite)(qvPluginSatellite* satellite, int32_t width,
                                        int32_t height);
/* Script thread only. A handle (null for a missing sample or one that is playing) with the
 * record filled; ApiFreeSampleData gives a copy back to the sample as its new data and frees the
 * handle. */
typedef void* (*qvFn_ApiGetSampleData)(qvPluginObjectId id, int32_t direct, void* ignored,
                                       qvSampleData* data);
typedef void (*qvFn_ApiFreeSampleData)(void* handle);
/* The script machine: see the player's VM interface; index arguments count from 1 at the bottom
 * of the handler's stack, negative ones from the top. */
typedef int (*qvFn_VmGetTop)(qvPluginState*);
typedef void (*qvFn_VmSetTop)(qvPluginState*, int);
typedef void (*qvFn_VmPushValue)(qvPluginState*, int);
typedef void (*qvFn_VmRemove)(qvPluginState*, int);
typedef void (*qvFn_VmInsert)(qvPluginState*, int);
typedef void (*qvFn_VmReplace)(qvPluginState*, int);
typedef int (*qvFn_VmIsCFunction)(qvPluginState*, int);
typedef int (*qvFn_VmIsNumber)(qvPluginState*, int);
typedef int (*qvFn_VmIsString)(qvPluginState*, int);
typedef int (*qvFn_VmIsUserdata)(qvPluginState*, int);
typedef int32_t (*qvFn_VmType)(qvPluginState*, int);
typedef int (*qvFn_VmEqual)(qvPluginState*, int, int);
typedef int (*qvFn_VmRawEqual)(qvPluginState*, int, int);
typedef int (*qvFn_VmLessThan)(qvPluginState*, int, int, int byteOrder);
typedef double (*qvFn_VmToNumber)(qvPluginState*, int);
typedef const char* (*qvFn_VmToString)(qvPluginState*, int);
typedef size_t (*qvFn_VmStrLen)(qvPluginState*, int);
typedef qvCFunction (*qvFn_VmToCFunction)(qvPluginState*, int);
typedef void* (*qvFn_VmToUserdata)(qvPluginState*, int);
typedef const void* (*qvFn_VmToPointer)(qvPluginState*, int);
typedef void (*qvFn_VmPushNil)(qvPluginState*);
typedef void (*qvFn_VmPushNumber)(qvPluginState*, double);
typedef void (*qvFn_VmPushLString)(qvPluginState*, const char*, size_t);
typedef void (*qvFn_VmPushString)(qvPluginState*, const char*);
typedef void (*qvFn_VmPushLightUserdata)(qvPluginState*, void*);
typedef void (*qvFn_VmPushCClosure)(qvPluginState*, qvCFunction, int);
typedef void (*qvFn_VmGetTable)(qvPluginState*, int);
typedef void (*qvFn_VmRawGet)(qvPluginState*, int);
typedef void (*qvFn_VmRawGetI)(qvPluginState*, int, int);
typedef void (*qvFn_VmNewTable)(qvPluginState*);
typedef void (*qvFn_VmGetFEnv)(qvPluginState*, int);
typedef void (*qvFn_VmSetTable)(qvPluginState*, int);
typedef void (*qvFn_VmRawSet)(qvPluginState*, int);
typedef void (*qvFn_VmRawSetI)(qvPluginState*, int, int);
typedef int (*qvFn_VmSetFEnv)(qvPluginState*, int);
typedef int32_t (*qvFn_VmPCall)(qvPluginState*, int nargs, int nresults, int errorFunction);
typedef int (*qvFn_VmNext)(qvPluginState*, int);
typedef void (*qvFn_VmConcat)(qvPluginState*, int);
typedef int (*qvFn_VmPushUpvalues)(qvPluginState*);
typedef const char* (*qvFn_VmGetUpvalue)(qvPluginState*, int, int);
typedef const char* (*qvFn_VmSetUpvalue)(qvPluginState*, int, int);
typedef void* (*qvFn_VmNewUserdata)(qvPluginState*, size_t);
typedef int (*qvFn_VmSetMetaTable)(qvPluginState*, int);
typedef int (*qvFn_VmGetMetaTable)(qvPluginState*, int);
/* Raises the error code (never returns). */
typedef int32_t (*qvFn_ApiRaiseError)(qvPluginState*, int32_t code);
typedef const char* (*qvFn_VmCheckString)(qvPluginState*, int, size_t* len);
typedef const char* (*qvFn_VmOptString)(qvPluginState*, int, const char* def, size_t* len);
typedef double (*qvFn_VmCheckNumber)(qvPluginState*, int);
typedef double (*qvFn_VmOptNumber)(qvPluginState*, int, double);
typedef int32_t (*qvFn_VmCheckInt)(qvPluginState*, int);
typedef int32_t (*qvFn_VmOptInt)(qvPluginState*, int, int32_t);
typedef void (*qvFn_VmCheckTable)(qvPluginState*, int);
typedef void (*qvFn_VmCheckFunction)(qvPluginState*, int);
typedef int32_t (*qvFn_VmCheckType)(qvPluginState*, int, int32_t);
typedef int32_t (*qvFn_VmRef)(qvPluginState*, int tableIndex);
typedef void (*qvFn_VmUnref)(qvPluginState*, int tableIndex, int32_t ref);
/* The object id at the index (a number, or an automatic handle): raises when it is neither. */
typedef void (*qvFn_ApiGetObjectId)(qvPluginState*, int index, qvPluginObjectId* id);
typedef int (*qvFn_VmNewMetaTable)(qvPluginState*, const char*);
typedef void (*qvFn_VmGetNamedMetaTable)(qvPluginState*, const char*);
typedef void* (*qvFn_VmCheckUdata)(qvPluginState*, int, const char*);
typedef void (*qvFn_VmBufferInit)(qvPluginState*, qvStringBuffer*);
typedef char* (*qvFn_VmBufferFlush)(qvStringBuffer*);
typedef void (*qvFn_VmBufferAddLString)(qvStringBuffer*, const char*, size_t);
typedef void (*qvFn_VmBufferAddString)(qvStringBuffer*, const char*);
typedef void (*qvFn_VmBufferAddValue)(qvStringBuffer*);
typedef void (*qvFn_VmBufferPushResult)(qvStringBuffer*);
typedef int (*qvFn_VmFindString)(const char*, const char* const*);
typedef int (*qvFn_VmCheckStack)(qvPluginState*, int);
/* The FreeType slots hold FreeType's own functions (FT_Init_FreeType ...): cast them to the
 * types of <freetype/freetype.h>. Without the FreeType library installed they answer error 1. */

/* Script value types (qvFn_VmType). */
#define QV_TNIL 0
#define QV_TBOOLEAN 1
#define QV_TLIGHTUSERDATA 2
#define QV_TNUMBER 3
#define QV_TSTRING 4
#define QV_TTABLE 5
#define QV_TFUNCTION 6
#define QV_TUSERDATA 7
#define QV_REGISTRYINDEX (-10000)
#define QV_GLOBALSINDEX (-10001)

#ifdef __cplusplus
}
#endif

#endif /* QV_PLUGIN_H */
