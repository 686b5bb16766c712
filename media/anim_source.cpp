// Anim sources: the type told by the file's first bytes, the reader of each type.
#include "media/anim_source.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/gif_io.h"
#include "media/avi_reader.h"
#include "media/iff_anim.h"

namespace qv {

namespace {

// ---- GIF ----

int OpenGifSource(const char* name, void** state, int32_t* width, int32_t* height,
                  int32_t* frames) {
  qvGifInfo info;
  qvGifDecoder* gif = nullptr;
  int code = LoadGif(name, false, &info, &gif);
  if (code != 0) return code;
  *state = gif;
  *width = info.width;
  *height = info.height;
  *frames = info.frames;
  return 0;
}

uint32_t* GifSourceFrame(void* state, int32_t n) {
  return LoadGifFrame(static_cast<qvGifDecoder*>(state), n);
}

int32_t GifSourceDelay(const void* state, int32_t n) {
  return GetGifFrameDelay(static_cast<const qvGifDecoder*>(state), n);
}

void FreeHeapFrame(void*, uint32_t* frame) { std::free(frame); }

void CloseGifSource(void* state) { FreeGif(static_cast<qvGifDecoder*>(state)); }

const qvAnimSourceReader kGifReader = {OpenGifSource, GifSourceFrame, GifSourceDelay, FreeHeapFrame,
                                       CloseGifSource};

// ---- IFF ANIM ----

int OpenIffSource(const char* name, void** state, int32_t* width, int32_t* height,
                  int32_t* frames) {
  qvIffAnim* anim = nullptr;
  const int code = LoadIffAnim(name, &anim, width, height, frames);
  *state = anim;
  return code;
}

uint32_t* IffSourceFrame(void* state, int32_t n) {
  return LoadIffAnimFrame(static_cast<qvIffAnim*>(state), n);
}

int32_t IffSourceDelay(const void* state, int32_t n) {
  return GetIffAnimFrameDelay(static_cast<const qvIffAnim*>(state), n);
}

void CloseIffSource(void* state) { FreeIffAnim(static_cast<qvIffAnim*>(state)); }

const qvAnimSourceReader kIffReader = {OpenIffSource, IffSourceFrame, IffSourceDelay, FreeHeapFrame,
                                       CloseIffSource};

// ---- AVI ----

int OpenAviSource(const char* name, void** state, int32_t* width, int32_t* height,
                  int32_t* frames) {
  qvAviReader* avi = nullptr;
  const int code = OpenAviFile(name, &avi, width, height, frames);
  *state = avi;
  return code;
}

uint32_t* AviSourceFrame(void* state, int32_t n) {
  return ReadAviFrame(static_cast<qvAviReader*>(state), n);
}

int32_t AviSourceDelay(const void*, int32_t) { return 0; }  // AVI frames carry no delays

void CloseAviSource(void* state) { CloseAviFile(static_cast<qvAviReader*>(state)); }

const qvAnimSourceReader kAviReader = {OpenAviSource, AviSourceFrame, AviSourceDelay, FreeHeapFrame,
                                       CloseAviSource};

// The reader of each type (kAnimFile* order); null for a type without one. Anim plugins have no
// reader yet: the plugin interface declares their entries but gives them no calling convention.
const qvAnimSourceReader* const kReaders[] = {nullptr,     &kIffReader, &kGifReader,
                                              &kAviReader, nullptr,     nullptr};

const qvAnimSourceReader* ReaderOf(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(std::size(kReaders))) return nullptr;
  return kReaders[type];
}

constexpr size_t kHeadBytes = 64;

}  // namespace

int32_t IdentifyAnim(const char* name) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return kAnimFileNone;
  uint8_t head[kHeadBytes] = {};
  ReadFileQ(file, head, sizeof head);
  CloseFileQ(file);
  if (std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "ANIM", 4) == 0) {
    return kAnimFileIff;
  }
  if (std::memcmp(head, "GIF87", 5) == 0 || std::memcmp(head, "GIF89", 5) == 0) {
    return kAnimFileGif;
  }
  if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0) {
    return kAnimFileAvi;
  }
  return kAnimFileNone;
}

int OpenAnimSource(const char* name, qvAnimSource** out) {
  *out = nullptr;
  SetErrorString(name);
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  CloseFileQ(file);
  const int32_t type = IdentifyAnim(name);
  const qvAnimSourceReader* reader = ReaderOf(type);
  if (reader == nullptr) return ERR_OPENANIM2;
  auto* source = static_cast<qvAnimSource*>(std::calloc(1, sizeof(qvAnimSource)));
  if (source == nullptr) return ERR_MEM;
  source->type = type;
  source->reader = reader;
  int code = reader->open(name, &source->state, &source->width, &source->height, &source->frames);
  if (code != 0 || source->frames < 1) {
    if (code == 0) reader->close(source->state);
    std::free(source);
    // The file's name stays the error's text, whatever the reader stored.
    SetErrorString(name);
    return code == ERR_MEM ? ERR_MEM : ERR_OPENANIM2;
  }
  *out = source;
  return 0;
}

uint32_t* LoadAnimSourceFrame(qvAnimSource* source, int32_t n) {
  if (source == nullptr || n < 0 || n >= source->frames) return nullptr;
  return source->reader->frame(source->state, n);
}

int32_t GetAnimSourceFrameDelay(const qvAnimSource* source, int32_t n) {
  if (source == nullptr || n < 0 || n >= source->frames) return 0;
  return source->reader->delay(source->state, n);
}

void FreeAnimSourceFrame(qvAnimSource* source, uint32_t* frame) {
  if (source == nullptr || frame == nullptr) return;
  source->reader->freeFrame(source->state, frame);
}

void CloseAnimSource(qvAnimSource* source) {
  if (source == nullptr) return;
  source->reader->close(source->state);
  std::free(source);
}

bool IsAnimFile(const char* name) {
  qvAnimSource* source = nullptr;
  if (OpenAnimSource(name, &source) != 0) return false;
  const bool many = source->frames > 1;
  CloseAnimSource(source);
  return many;
}

}  // namespace qv
