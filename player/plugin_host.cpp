// The plugin host's service table: the player's services in the fixed slot order of
// include/qv_plugin.h. The runtime's and FreeType's slots hold those libraries' own functions,
// the machine's slots the VM interface itself; the Api* services adapt the player's records to
// the plain ones of the interface.
#include "player/plugin_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "base/support.h"
#include "core/args.h"
#include "core/dates.h"
#include "core/error_table.h"
#include "core/events.h"
#include "core/player_state.h"
#include "core/plugins.h"
#include "core/registry.h"
#include "core/requesters.h"
#include "core/vfile.h"
#include "display/display.h"
#include "image/picture.h"
#include "media/audio_channels.h"
#include "media/pcm_sample.h"
#include "media/sound_objects.h"
#include "platform/platform.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr size_t kRequesterBufferSize = 1024;  // what the requester services may write
constexpr uint32_t kAllocClear = 0x10000;

// ---- runtime and strings ----

char* Strdup(const char* text) { return text != nullptr ? strdup(text) : nullptr; }
int UnsupportedVsscanf(const char*, const char*, va_list) {
  std::fputs("Plugin called vsscanf, which the player does not offer.\n", stderr);
  return 0;
}
int ApiStrCaseCmp(const char* a, const char* b) { return StrCaseCmp(a, b); }
int ApiStrNCaseCmp(const char* a, const char* b, size_t n) { return StrNCaseCmp(a, b, n); }
int ApiToLowerChar(int c) { return ToLowerChar(static_cast<unsigned char>(c)); }
int ApiToUpperChar(int c) { return ToUpperChar(static_cast<unsigned char>(c)); }
int UnsupportedGettimeofday(void*, void*) {
  std::fputs("Plugin called gettimeofday, which the player does not offer.\n", stderr);
  return 0;
}
time_t ApiTime(time_t* out) { return std::time(out); }
char* UpperCaseString(char* text) {
  for (char* c = text; c != nullptr && *c != '\0'; ++c) {
    *c = static_cast<char>(ToUpperChar(static_cast<unsigned char>(*c)));
  }
  return text;
}

// ---- attributes, errors, time, memory ----

int32_t ApiGetPlayerAttrs(qvPluginTag* tags) {
  int32_t answered = 0;
  const qvAppletSettings* settings = GetAppletSettings(nullptr);
  for (qvPluginTag* t = tags; t != nullptr && t->tag != 0; ++t) {
    if (t->tag == 25) {
      t->value = 0;
      ++answered;
    } else if (t->tag >= 26 && t->tag <= 30 && t->value != 0) {
      const char* text = settings != nullptr ? settings->headerTexts[t->tag - 26] : "";
      *reinterpret_cast<const char**>(t->value) = text;
      ++answered;
    }
  }
  return answered;
}
void ApiFormatErrorText(int32_t code, char* out, size_t size) { FormatErrorText(code, out, size); }
void FormatDateText(char* out) {
  qvLocalTime now{};
  GetLocalTime(&now);
  FormatLongDate(now, out);
}
void* ApiAllocVec(size_t size, uint32_t flags) {
  return (flags & kAllocClear) ? std::calloc(1, size) : std::malloc(size);
}
void FreeBlock(void* block) { std::free(block); }
int32_t ApiRegisterEventType(const char* name, void (*push)(qvPluginState*, void*)) {
  return RegisterEventType(name, reinterpret_cast<qvPushEventFields>(push));
}

// The services a later interface revision fills: a clear "not implemented" for now.
int32_t NotAvailable() { return ERR_UNIMPLCMD; }

// ---- requesters ----

void CopyAnswer(char* buffer, const std::string& text) {
  std::snprintf(buffer, kRequesterBufferSize, "%s", text.c_str());
}
int32_t ApiSystemRequest(const char* title, const char* text, const char* buttons) {
  int32_t answer = 0;
  if (MessageRequest(title, text, buttons, 0, 1, 0, &answer) != 0) return 0;
  return answer;
}
int32_t ApiFileRequest(const char* title, char* buffer) {
  std::vector<std::string> paths;
  FileRequest(title, "#?", kFileOpen, "", "", &paths);
  if (paths.empty() || buffer == nullptr) return 0;
  CopyAnswer(buffer, paths.front());
  return 1;
}
int32_t ApiPathRequest(const char* title, char* buffer) {
  std::string path;
  PathRequest(title, "", &path);
  if (path.empty() || buffer == nullptr) return 0;
  CopyAnswer(buffer, path);
  return 1;
}

// ---- files ----

int64_t ApiSeekFile(qvFile* file, int64_t offset, int mode) {
  return SeekFileQ(file, offset, mode);
}
int NextDirEntryQ(qvDirHandle* dir, const char** name) {
  return ReadDirQ(dir, name, nullptr, nullptr) ? 1 : 0;
}
void FillFileInfo(const qvDirEntry& entry, qvPluginFileInfo* info) {
  info->isDirectory = entry.kind == FileKind::kDirectory ? 1 : 0;
  info->size = entry.size;
  info->modified = entry.times[QV_TIME_WRITE].seconds;
}
int32_t ApiExamineFile(const char* name, qvPluginFileInfo* info) {
  qvDirHandle* dir = OpenDirQ(name, kFileRead);
  if (dir == nullptr) return 0;
  qvDirEntry entry{};
  int code = ExamineFileQ(dir, &entry);
  CloseDirQ(dir);
  if (code != 0) return 0;
  info->name = nullptr;
  FillFileInfo(entry, info);
  return 1;
}
int ExamineDir(qvDirHandle* dir) { return ExamineDirQ(dir); }
int32_t ApiNextDirEntry(qvDirHandle* dir, void*, qvPluginFileInfo* info) {
  const char* name = nullptr;
  FileKind kind = FileKind::kFile;
  qvDirEntry entry{};
  if (!ReadDirQ(dir, &name, &kind, &entry)) return 0;
  entry.kind = kind;
  info->name = name;
  FillFileInfo(entry, info);
  return 1;
}
int32_t GetCurrentDirName(char* buffer, size_t size) { return GetCurrentDir(buffer, size) ? 1 : 0; }

// ---- pictures and brushes ----

int32_t ApiGetPictureInfo(const char* file, int32_t* width, int32_t* height, int32_t* alpha) {
  qvPictureFacts facts;
  if (LoadPicture(file, nullptr, nullptr, &facts) != 0) return 0;
  if (width != nullptr) *width = facts.width;
  if (height != nullptr) *height = facts.height;
  if (alpha != nullptr) *alpha = facts.alpha;
  return 1;
}
// A loaded picture is one block: its pixels follow this header, so ApiFreeVec frees it whole.
struct PictureBlock {
  int32_t width, height;
  uint32_t* pixels;
};
void* ApiLoadPictureARGB(const char* file, void*, int32_t* width, int32_t* height, int32_t* alpha) {
  qvPictureFacts facts;
  uint32_t* pixels = nullptr;
  if (LoadPicture(file, nullptr, &pixels, &facts) != 0) return nullptr;
  const size_t count = static_cast<size_t>(facts.width) * static_cast<size_t>(facts.height);
  auto* block = static_cast<PictureBlock*>(std::malloc(sizeof(PictureBlock) + count * 4));
  if (block != nullptr) {
    block->width = facts.width;
    block->height = facts.height;
    block->pixels = reinterpret_cast<uint32_t*>(block + 1);
    for (size_t i = 0; i < count; ++i) {
      const uint32_t p = pixels[i];
      const uint8_t bytes[4] = {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                                static_cast<uint8_t>(p),
                                facts.alpha ? static_cast<uint8_t>(p >> 24) : uint8_t{255}};
      std::memcpy(block->pixels + i, bytes, 4);
    }
    if (width != nullptr) *width = facts.width;
    if (height != nullptr) *height = facts.height;
    if (alpha != nullptr) *alpha = facts.alpha;
  }
  std::free(pixels);
  std::free(facts.palette);
  return block;
}
uint32_t* ApiGetPicturePixels(void* picture) {
  return picture != nullptr ? static_cast<PictureBlock*>(picture)->pixels : nullptr;
}

qvBrush* PluginBrush(qvPluginObjectId id) {
  qvBrush* brush = nullptr;
  if (FindBrush(GetProcessVm(), {id.number, id.handle}, &brush, kFindNoCopy) != 0) return nullptr;
  return brush;
}
int32_t ApiLockBrush(qvPluginObjectId id, void*, qvBrushLock* lock) {
  qvBrush* brush = PluginBrush(id);
  if (brush == nullptr || brush->bitmap == nullptr || lock == nullptr) return 0;
  qvBitMapLock view{};
  if (!LockBitMap(brush->bitmap, &view)) return 0;
  UnLockBitMap(&view);
  const qvBitMap* b = brush->bitmap;
  *lock = {b->pixels,
           b->bytesPerRow,
           brush->alpha != nullptr ? brush->alpha->data : nullptr,
           brush->alpha != nullptr ? brush->alpha->bytesPerRow : 0,
           brush->mask != nullptr ? brush->mask->data : nullptr,
           brush->mask != nullptr ? brush->mask->bytesPerRow : 0,
           b->format,
           b->bytesPerPixel,
           b->width,
           b->height};
  return 1;
}
// The image engine's bitmaps need no lock held: the pixels stay where they are while the
// script waits for the plugin.
void ApiUnLockBrush(qvPluginObjectId) {}
void UnLockPluginBitMap(void*) {}
uint32_t* ApiGetBrushARGB(qvPluginObjectId id, qvPluginTag* tags) {
  qvBrush* brush = PluginBrush(id);
  if (brush == nullptr || brush->bitmap == nullptr) return nullptr;
  uint32_t* pixels = BuildARGBPixels(brush->bitmap, brush->width, brush->height, brush->mask,
                                     brush->alpha, 0, true);
  for (qvPluginTag* t = tags; pixels != nullptr && t != nullptr && t->tag != 0; ++t) {
    auto* out = reinterpret_cast<int32_t*>(t->value);
    if (out == nullptr) continue;
    if (t->tag == 1) *out = brush->width;
    if (t->tag == 2) *out = brush->height;
    if (t->tag == 3) *out = brush->mask == nullptr && brush->alpha == nullptr ? 1 : 0;
  }
  return pixels;
}

// ---- display satellites ----

qvSatellite* Node(qvPluginSatellite* satellite) {
  return reinterpret_cast<qvSatellite*>(satellite);
}
qvPluginSatellite* ApiAttachSatellite(qvPluginObjectId display, qvSatelliteFunc func, void* data,
                                      qvPluginTag* tags) {
  int32_t width = 0, height = 0;
  qvSatellite* node = AttachSatellite({display.number, display.handle}, func, data, &width,
                                      &height);
  for (qvPluginTag* t = tags; node != nullptr && t != nullptr && t->tag != 0; ++t) {
    auto* out = reinterpret_cast<int32_t*>(t->value);
    if (out == nullptr) continue;
    if (t->tag == 1) *out = width;
    if (t->tag == 2) *out = height;
  }
  return reinterpret_cast<qvPluginSatellite*>(node);
}
void ApiDetachSatellite(qvPluginSatellite* satellite) { DetachSatellite(Node(satellite)); }
int32_t ApiRedrawSatellite(qvPluginSatellite* satellite) {
  return RedrawSatellite(GetProcessVm(), Node(satellite));
}
int32_t ApiResizeSatellite(qvPluginSatellite* satellite, int32_t width, int32_t height) {
  return ResizeSatellite(GetProcessVm(), Node(satellite), width, height);
}
int32_t ApiSatelliteInput(qvPluginSatellite* satellite, int32_t kind,
                          const qvSatelliteEvent* event) {
  qvSatelliteInput input;
  if (event != nullptr) {
    input.x = event->x;
    input.y = event->y;
    input.pressed = event->pressed;
    input.code = event->code;
    input.qualifiers = event->qualifiers;
  }
  return SatelliteInput(Node(satellite), kind, input);
}

// ---- samples ----

struct SampleHandle {
  qvObjectId id;
  qvPcmSample* pcm;
  void* data;
  uint32_t frames;
  bool copy;
};
void* ApiGetSampleData(qvPluginObjectId id, int32_t direct, void*, qvSampleData* out) {
  qvSample* sample = FindSample({id.number, id.handle});
  if (sample == nullptr || out == nullptr || IsSampleOnChannel(sample->pcm)) return nullptr;
  qvPcmSample* pcm = sample->pcm;
  const size_t bytes = size_t{pcm->frames} * static_cast<size_t>(pcm->frameSize);
  auto* handle = new (std::nothrow)
      SampleHandle{{id.number, id.handle}, pcm, pcm->data, pcm->frames, direct == 0};
  if (handle == nullptr) return nullptr;
  if (handle->copy) {
    handle->data = std::malloc(bytes != 0 ? bytes : 1);
    if (handle->data == nullptr) {
      delete handle;
      return nullptr;
    }
    std::memcpy(handle->data, pcm->data, bytes);
  }
  *out = {handle->data,
          static_cast<uint32_t>(bytes),
          pcm->frames,
          static_cast<uint32_t>(pcm->channels),
          static_cast<uint32_t>(pcm->bits),
          static_cast<uint32_t>(pcm->frequency),
          pcm->flags};
  return handle;
}
void ApiFreeSampleData(void* opaque) {
  auto* handle = static_cast<SampleHandle*>(opaque);
  if (handle == nullptr) return;
  // A copy goes back to the sample as its new data, when the sample is still there.
  qvSample* sample = FindSample(handle->id);
  if (handle->copy) {
    if (sample != nullptr && sample->pcm == handle->pcm) {
      ReplaceSampleData(handle->pcm, static_cast<uint8_t*>(handle->data), handle->frames,
                        handle->pcm->frequency);
    } else {
      std::free(handle->data);
    }
  }
  delete handle;
}

// ---- the machine ----

int32_t ApiRaiseError(qvPluginState* L, int32_t code) {
  return VmHostRaise(reinterpret_cast<qvScriptState*>(L), code);
}
void ApiGetObjectId(qvPluginState* L, int index, qvPluginObjectId* out) {
  qvObjectId id = CheckObjectId(reinterpret_cast<qvScriptState*>(L), index);
  out->number = id.number;
  out->handle = id.handle;
}
const char* CheckString(qvScriptState* L, int index, size_t* len) {
  return VmCheckString(L, index, len);
}
const char* OptString(qvScriptState* L, int index, const char* def, size_t* len) {
  return VmOptString(L, index, def, len);
}

template <typename F>
void* Slot(F f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace

void FillPluginServices(void* t[QV_SLOT_COUNT]) {
  // Runtime library and strings.
  void* const runtime[] = {Slot(&malloc),
                           Slot(&calloc),
                           Slot(&realloc),
                           Slot(&free),
                           Slot(&Strdup),
                           Slot(&fopen),
                           Slot(&fclose),
                           Slot(&fseek),
                           Slot(&ftell),
                           Slot(&fread),
                           Slot(&fwrite),
                           Slot(&fgetc),
                           Slot(&fputc),
                           Slot(&ferror),
                           Slot(&feof),
                           Slot(&vfprintf),
                           Slot(&vsnprintf),
                           Slot(&vprintf),
                           Slot(&qsort),
                           Slot(&UnsupportedVsscanf),
                           Slot(&strtod),
                           Slot(&strtol),
                           Slot(&strtoul),
                           Slot(&ApiStrCaseCmp),
                           Slot(&ApiStrNCaseCmp),
                           Slot(&ApiToLowerChar),
                           Slot(&ApiToUpperChar),
                           Slot(&LowerCaseString),
                           Slot(&UpperCaseString),
                           Slot(&UnsupportedGettimeofday),
                           Slot(&ApiTime),
                           Slot(&RoundToInt)};
  static_assert(std::size(runtime) == QV_SLOT_APIGETPLAYERATTRS);
  std::memcpy(t, runtime, sizeof runtime);
  void* const attributes[] = {
      Slot(&ApiGetPlayerAttrs), Slot(&RegisterErrorName),  Slot(&SetErrorString),
      Slot(&SetErrorNumber),    Slot(&ApiFormatErrorText), Slot(&GetSysTime),
      Slot(&SubTimeVal),        Slot(&AddTimeVal),         Slot(&CmpTimeVal),
      Slot(&DelayMs),           Slot(&FormatDateText),     Slot(&ApiAllocVec),
      Slot(&FreeBlock),         Slot(&AddUserResource),    Slot(&ApiRegisterEventType),
      Slot(&PostCustomEvent),   Slot(&ApiSatelliteInput),  Slot(&ApiSystemRequest),
      Slot(&ApiFileRequest),    Slot(&ApiPathRequest)};
  static_assert(std::size(attributes) == QV_SLOT_OPENFILEQ - QV_SLOT_APIGETPLAYERATTRS);
  std::memcpy(t + QV_SLOT_APIGETPLAYERATTRS, attributes, sizeof attributes);
  void* const files[] = {
      Slot(&OpenFileQ),         Slot(&CloseFileQ),        Slot(&ApiSeekFile),
      Slot(&ReadFileQ),         Slot(&WriteFileQ),        Slot(&ReadByteQ),
      Slot(&WriteByteQ),        Slot(&EofFileQ),          Slot(&DeleteFileOrDir),
      Slot(&OpenDirQ),          Slot(&CloseDirQ),         Slot(&NextDirEntryQ),
      Slot(&ApiExamineFile),    Slot(&ExamineDir),        Slot(&UnLockPluginBitMap),
      Slot(&ApiNextDirEntry),   Slot(&MakeDirectoryCore), Slot(&RenameFile),
      Slot(&GetCurrentDirName), Slot(&CreateTempName),    Slot(&JoinPath),
      Slot(&GetFilePart),       Slot(&GetDisplayName)};
  static_assert(std::size(files) == QV_SLOT_APIGETPICTUREINFO - QV_SLOT_OPENFILEQ);
  std::memcpy(t + QV_SLOT_OPENFILEQ, files, sizeof files);
  void* const pictures[] = {
      Slot(&ApiGetPictureInfo),  Slot(&ApiLoadPictureARGB), Slot(&ApiGetPicturePixels),
      Slot(&FreeBlock),          Slot(&ApiLockBrush),       Slot(&ApiUnLockBrush),
      Slot(&ApiGetBrushARGB),    Slot(&FreeBlock),          Slot(&ApiAttachSatellite),
      Slot(&ApiDetachSatellite), Slot(&ApiRedrawSatellite), Slot(&ApiResizeSatellite),
      Slot(&ApiGetSampleData),   Slot(&ApiFreeSampleData),  Slot(&NotAvailable)};
  static_assert(std::size(pictures) == QV_SLOT_FT_INIT_FREETYPE - QV_SLOT_APIGETPICTUREINFO);
  std::memcpy(t + QV_SLOT_APIGETPICTUREINFO, pictures, sizeof pictures);
  GetFreeTypeFunctions(t + QV_SLOT_FT_INIT_FREETYPE);
  void* const machine[] = {Slot(&VmGetTop),
                           Slot(&VmSetTop),
                           Slot(&VmPushValue),
                           Slot(&VmRemove),
                           Slot(&VmInsert),
                           Slot(&VmReplace),
                           Slot(&VmIsCFunction),
                           Slot(&VmIsNumber),
                           Slot(&VmIsString),
                           Slot(&VmIsUserdata),
                           Slot(&VmType),
                           Slot(&VmEqual),
                           Slot(&VmRawEqual),
                           Slot(&VmLessThan),
                           Slot(&VmToNumber),
                           Slot(&VmToString),
                           Slot(&VmStrLen),
                           Slot(&VmToCFunction),
                           Slot(&VmToUserdata),
                           Slot(&VmToPointer),
                           Slot(&VmPushNil),
                           Slot(&VmPushNumber),
                           Slot(&VmPushLString),
                           Slot(&VmPushString),
                           Slot(&VmPushLightUserdata),
                           Slot(&VmPushCClosure),
                           Slot(&VmGetTable),
                           Slot(&VmRawGet),
                           Slot(&VmRawGetI),
                           Slot(&VmNewTable),
                           Slot(&VmGetFEnv),
                           Slot(&VmSetTable),
                           Slot(&VmRawSet),
                           Slot(&VmRawSetI),
                           Slot(&VmSetFEnv),
                           Slot(&VmPCall),
                           Slot(&VmNext),
                           Slot(&VmConcat),
                           Slot(&VmPushUpvalues),
                           Slot(&VmGetUpvalue),
                           Slot(&VmSetUpvalue),
                           Slot(&VmNewUserdata),
                           Slot(&VmSetMetaTable),
                           Slot(&VmGetMetaTable),
                           Slot(&ApiRaiseError),
                           Slot(&CheckString),
                           Slot(&OptString),
                           Slot(&VmCheckNumber),
                           Slot(&VmOptNumber),
                           Slot(&VmCheckInt),
                           Slot(&VmOptInt),
                           Slot(&VmCheckTable),
                           Slot(&VmCheckFunction),
                           Slot(&VmCheckType),
                           Slot(&VmRef),
                           Slot(&VmUnref),
                           Slot(&ApiGetObjectId),
                           Slot(&VmNewMetaTable),
                           Slot(&VmGetNamedMetaTable),
                           Slot(&VmCheckUdata),
                           Slot(&VmBufferInit),
                           Slot(&VmBufferFlush),
                           Slot(&VmBufferAddLString),
                           Slot(&VmBufferAddString),
                           Slot(&VmBufferAddValue),
                           Slot(&VmBufferPushResult),
                           Slot(&VmFindString),
                           Slot(&VmCheckStack)};
  static_assert(std::size(machine) == QV_SLOT_FONT_VERASANS - QV_SLOT_VMGETTOP);
  std::memcpy(t + QV_SLOT_VMGETTOP, machine, sizeof machine);
  for (int i = 0; i < kEmbeddedFontCount; ++i) {
    size_t size = 0;
    t[QV_SLOT_FONT_VERASANS + i] = const_cast<void*>(GetEmbeddedFont(i, &size));
    t[QV_SLOT_FONTSIZE_VERASANS + i] = reinterpret_cast<void*>(size);
  }
}

int32_t StartPluginManager(qvScriptState* L, const qvPlayerState* state) {
  // The table is filled when the first plugin is loaded: a start without plugins reads no fonts.
  SetPluginServiceFiller(FillPluginServices);
  return StartPlugins(L, GetProgramDir(), state->skipPlugins);
}

}  // namespace qv
