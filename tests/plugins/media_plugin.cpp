// A media plugin: pictures of the formats "QVIM" (raster) and "QVVC" (vector, drawn at any size),
// a picture saver of palette pictures ("QVIP"), sound streams and a sample saver of "QVSN" files.
//
// QVIM: "QVIM", width, height, alpha flag, then width x height ARGB words (all little-endian
// 32-bit). QVVC: "QVVC", width, height, colour: a one-pixel frame of the colour round a
// transparent inside, at whatever size it is drawn. QVSN: "QVSN", frequency, channels, bits,
// frames, flags (bit 0 big-endian, bit 1 signed), then the PCM.
//
// A file named "hostile-<mode>.<anything>" makes the plugin misbehave as the mode says, so that
// the host's guards can be seen to hold: pictures "nullpixels" (GetImage hands back no pixels),
// "shortrow" (rows shorter than the width), "grown" (GetImage claims more than LoadImage did) and
// "wrongsize" (TransformImage draws one pixel wider and taller than asked); sound streams
// "channels3", "bits12" and "frequency0" (facts the mixer cannot play).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_log.h"
#include "qv_plugin.h"

namespace {

// The hostile mode the file's name asks for, or "".
std::string HostileMode(const char* file) {
  const char* base = std::strrchr(file, '/');
  base = base != nullptr ? base + 1 : file;
  if (std::strncmp(base, "hostile-", 8) != 0) return "";
  std::string mode = base + 8;
  return mode.substr(0, mode.find('.'));
}

bool ReadWords(FILE* f, uint32_t* words, size_t n) { return std::fread(words, 4, n, f) == n; }
void WriteWords(FILE* f, const uint32_t* words, size_t n) { std::fwrite(words, 4, n, f); }

struct Picture {
  bool vector;
  uint32_t width, height, alpha, colour;
  std::vector<uint32_t> pixels;
  int32_t drawnWidth, drawnHeight;
  std::string mode;
};

void DrawFrame(Picture* p, int32_t width, int32_t height) {
  p->drawnWidth = width;
  p->drawnHeight = height;
  p->pixels.assign(size_t(width) * size_t(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (x == 0 || y == 0 || x == width - 1 || y == height - 1) {
        p->pixels[size_t(y) * size_t(width) + size_t(x)] = 0xFF000000u | p->colour;
      }
    }
  }
}

// Reads the header: the facts, or false for a file of neither format.
bool ReadHeader(const char* file, Picture* p, FILE** open) {
  FILE* f = std::fopen(file, "rb");
  if (f == nullptr) return false;
  char magic[4];
  uint32_t words[3];
  bool ok = std::fread(magic, 1, 4, f) == 4 && ReadWords(f, words, 3) && words[0] > 0 &&
            words[1] > 0 && words[0] <= 4096 && words[1] <= 4096;
  if (ok && std::memcmp(magic, "QVIM", 4) == 0) {
    *p = {false, words[0], words[1], words[2] != 0, 0, {}, 0, 0, HostileMode(file)};
  } else if (ok && std::memcmp(magic, "QVVC", 4) == 0) {
    *p = {true, words[0], words[1], 1, words[2], {}, 0, 0, HostileMode(file)};
  } else {
    ok = false;
  }
  if (!ok || open == nullptr) {
    std::fclose(f);
  } else {
    *open = f;
  }
  return ok;
}

void Facts(const Picture* p, qvImageFacts* facts) {
  const int32_t w = p->vector && p->drawnWidth ? p->drawnWidth : int32_t(p->width);
  const int32_t h = p->vector && p->drawnHeight ? p->drawnHeight : int32_t(p->height);
  *facts = {w, h, w, int32_t(p->alpha), 0, p->vector ? 1 : 0};
}

}  // namespace

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi*, const char*) {
  init->capabilities = QV_CAP_IMAGE | QV_CAP_SOUND | QV_CAP_IMAGESAVER | QV_CAP_SAMPLESAVER;
  init->version = 2;
  init->revision = 0;
  init->name = "Media";
  init->moduleName = "media";
  init->author = "Test Author";
  init->description = "Pictures, sounds and savers";
  PluginLog("media", "InitPlugin");
  return 1;
}
QV_PLUGIN_EXPORT void ClosePlugin() { PluginLog("media", "ClosePlugin"); }

QV_PLUGIN_EXPORT int32_t IsImage(const char* file, qvImageFacts* facts) {
  Picture p;
  if (!ReadHeader(file, &p, nullptr)) return 0;
  Facts(&p, facts);
  return 1;
}
QV_PLUGIN_EXPORT void* LoadImage(const char* file, qvImageFacts* facts) {
  auto* p = new Picture;
  FILE* f = nullptr;
  if (!ReadHeader(file, p, &f)) {
    delete p;
    return nullptr;
  }
  if (p->vector) {
    DrawFrame(p, int32_t(p->width), int32_t(p->height));
  } else {
    p->pixels.resize(size_t(p->width) * p->height);
    if (!ReadWords(f, p->pixels.data(), p->pixels.size())) {
      std::fclose(f);
      delete p;
      return nullptr;
    }
  }
  std::fclose(f);
  Facts(p, facts);
  PluginLog("media", p->vector ? "LoadImage vector" : "LoadImage raster");
  return p;
}
QV_PLUGIN_EXPORT uint32_t* GetImage(void* image, qvImageFacts* facts) {
  auto* p = static_cast<Picture*>(image);
  Facts(p, facts);
  if (p->mode == "nullpixels") return nullptr;
  if (p->mode == "shortrow") facts->pixelsPerRow = facts->width - 1;
  if (p->mode == "grown") {
    facts->width += 1;
    facts->height += 1;
    facts->pixelsPerRow = facts->width;
  }
  return p->pixels.data();
}
QV_PLUGIN_EXPORT void FreeImage(void* image) { delete static_cast<Picture*>(image); }
QV_PLUGIN_EXPORT int32_t TransformImage(void* image, const double transform[6], int32_t width,
                                        int32_t height) {
  auto* p = static_cast<Picture*>(image);
  if (!p->vector || width <= 0 || height <= 0 || width > 8192 || height > 8192) return 0;
  char line[96];
  std::snprintf(line, sizeof line, "TransformImage %g %g %g %g %dx%d", transform[0], transform[1],
                transform[2], transform[3], width, height);
  PluginLog("media", line);
  if (p->mode == "wrongsize") {
    DrawFrame(p, width + 1, height + 1);
  } else {
    DrawFrame(p, width, height);
  }
  return 1;
}

// ---- picture saver: palette pictures ----

QV_PLUGIN_EXPORT void RegisterImageSaver(qvSaverRecord* record) {
  record->format = 77;
  record->name = "qvpal";
  record->flags = 0;  // indices and a palette
}
QV_PLUGIN_EXPORT int32_t SaveImage(const qvImageSave* picture) {
  if (picture->palette == nullptr) return 0;
  FILE* f = std::fopen(picture->file, "wb");
  if (f == nullptr) return 0;
  std::fwrite("QVIP", 1, 4, f);
  const uint32_t head[5] = {uint32_t(picture->width), uint32_t(picture->height), picture->flags,
                            uint32_t(picture->paletteSize), uint32_t(picture->quality)};
  WriteWords(f, head, 5);
  WriteWords(f, picture->palette, size_t(picture->paletteSize));
  const auto* rows = static_cast<const uint8_t*>(picture->pixels);
  for (int32_t y = 0; y < picture->height; ++y) {
    std::fwrite(rows + size_t(y) * size_t(picture->bytesPerRow), 1, size_t(picture->width), f);
  }
  return std::fclose(f) == 0 ? 1 : 0;
}

// ---- sound streams and the sample saver ----

namespace {
struct Stream {
  FILE* file;
  qvStreamFacts facts;
  uint32_t frameSize;
  uint32_t position;
};
}  // namespace

QV_PLUGIN_EXPORT void* OpenStream(const char* file, qvStreamFacts* facts) {
  FILE* f = std::fopen(file, "rb");
  if (f == nullptr) return nullptr;
  char magic[4];
  uint32_t w[5];
  if (std::fread(magic, 1, 4, f) != 4 || std::memcmp(magic, "QVSN", 4) != 0 ||
      !ReadWords(f, w, 5) || (w[1] != 1 && w[1] != 2) || (w[2] != 8 && w[2] != 16)) {
    std::fclose(f);
    return nullptr;
  }
  *facts = {w[3], w[1], w[2], w[0], (w[4] & 3u) | QV_STREAM_SEEKABLE};
  const std::string mode = HostileMode(file);
  if (mode == "channels3") facts->channels = 3;
  if (mode == "bits12") facts->bits = 12;
  if (mode == "frequency0") facts->frequency = 0;
  PluginLog("media", "OpenStream");
  return new Stream{f, *facts, w[1] * w[2] / 8, 0};
}
QV_PLUGIN_EXPORT void CloseStream(void* stream) {
  auto* s = static_cast<Stream*>(stream);
  std::fclose(s->file);
  delete s;
}
QV_PLUGIN_EXPORT void SeekStream(void* stream, uint32_t frame) {
  auto* s = static_cast<Stream*>(stream);
  if (frame <= s->facts.frames) s->position = frame;
}
QV_PLUGIN_EXPORT void StreamSamples(void* stream, qvStreamRead* read) {
  auto* s = static_cast<Stream*>(stream);
  uint32_t left = s->facts.frames - s->position;
  uint32_t n = read->wanted < left ? read->wanted : left;
  std::fseek(s->file, long(24 + size_t(s->position) * s->frameSize), SEEK_SET);
  n = uint32_t(std::fread(read->buffer, s->frameSize, n, s->file));
  s->position += n;
  read->delivered = n;
  read->end = s->position >= s->facts.frames ? 1 : 0;
}
QV_PLUGIN_EXPORT const char* GetFormatName(void*) { return "QV Sound"; }

QV_PLUGIN_EXPORT void RegisterSampleSaver(qvSaverRecord* record) {
  record->format = 9;
  record->name = "qvsn";
}
QV_PLUGIN_EXPORT int32_t SaveSample(const char* file, const qvSampleSave* sample) {
  FILE* f = std::fopen(file, "wb");
  if (f == nullptr) return 0;
  std::fwrite("QVSN", 1, 4, f);
  const uint32_t head[5] = {sample->frequency, sample->channels, sample->bits, sample->frames,
                            sample->flags};
  WriteWords(f, head, 5);
  std::fwrite(sample->data, 1, sample->bytes, f);
  return std::fclose(f) == 0 ? 1 : 0;
}
