// Motion-JPEG AVI writing. Layout of a file:
//   RIFF AVI  [hdrl: avih, audio strl (strh, strf, indx), video strl, odml, INFO]
//             [movi: per index pair "ix00" "ix01", then per frame "00wb" "01dc"] [idx1]
//   RIFF AVIX [movi: ...]  (as many as the size needs)
// Every number is little-endian. The header lists and the index chunks keep a fixed size, so they
// are reserved where they stand and written again with the final figures.
#include "media/avi_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/jpeg_io.h"
#include "platform/files.h"

namespace qv {

namespace {

constexpr int32_t kMaxFps = 1000000;
constexpr int32_t kSuperEntries = 1022;
constexpr int32_t kStandardEntries = 2044;
constexpr uint32_t kIndexChunkData = 16376;  // an "indx" or "ix##" chunk without its header
constexpr uint32_t kIndexChunkBytes = kIndexChunkData + 8;
constexpr uint32_t kHdrlFixed = 33120;
constexpr uint32_t kKeyFrame = 0x10;
constexpr char kSoftware[] = "Quillvane by Brellcombe";
// One line naming the player; 144 characters and the zero.
constexpr char kComment[] =
    "Written by the Quillvane player 5.2 for Linux: Motion-JPEG video and a 16-bit stereo PCM "
    "track, with OpenDML indexes for files over 1 GB in size";
static_assert(sizeof kComment == 145);

// Little-endian bytes gathered before one write.
struct Bytes {
  std::vector<uint8_t> b;
  void Four(const char* cc) { b.insert(b.end(), cc, cc + 4); }
  void U8(uint32_t v) { b.push_back(uint8_t(v)); }
  void U16(uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
  }
  void Zeros(size_t n) { b.insert(b.end(), n, 0); }
};

struct SuperEntry {
  int64_t offset;
  uint32_t size;
  uint32_t duration;
};

struct StandardIndex {
  int64_t position = -1;          // of the reserved chunk; -1 before the first
  int64_t base = 0;               // the RIFF start its offsets count from
  std::vector<uint32_t> entries;  // offset, size, offset, size...
};

// The size of an INFO chunk's data with its zero, padded to even length.
uint32_t PaddedText(size_t length) { return uint32_t((length + 1 + 1) & ~size_t{1}); }

}  // namespace

struct qvAviWriter {
  qvFile* out = nullptr;
  qvFile* legacyIndex = nullptr;
  char tempName[kMaxPathLength + 1] = {};
  std::string name, title;
  qvAviLimits limits;
  int32_t totalFrames = 0;
  int32_t riffFrames = 0;
  int32_t width = 0, height = 0, fps = 0, quality = 0;
  int32_t microsPerFrame = 0;
  int32_t sampleRate = 0, samplesPerFrame = 0;
  int64_t audioSamples = 0;
  std::vector<uint8_t> silence;
  int64_t movieBytes = 0;
  uint32_t largestVideo = 0;
  std::vector<uint8_t> last;  // the last compressed frame
  std::vector<SuperEntry> super[2];
  StandardIndex standard[2];
  int64_t riffStart = 0, limit = 0, movi = 0;
  bool legacy = true;
  int32_t legacyFrames = 0;
  int32_t riffPairs = 0;
  int64_t riffAudioBytes = 0, riffVideoBytes = 0;
  bool failed = false;  // a write fell short: everything after it is refused
};

namespace {

int64_t Tell(qvAviWriter* w) { return SeekFileQ(w->out, 0, kSeekCurrent); }

bool Put(qvAviWriter* w, qvFile* file, const void* data, size_t size) {
  if (w->failed) return false;
  if (size > 0 && WriteFileQ(file, data, size) != size) w->failed = true;
  return !w->failed;
}
bool Put(qvAviWriter* w, const Bytes& bytes) {
  return Put(w, w->out, bytes.b.data(), bytes.b.size());
}

int WriteFailed(qvAviWriter* w) {
  w->failed = true;
  SetErrorString(w->name.c_str());
  return ERR_WRITEFILE;
}

void InfoChunk(Bytes* b, const char* id, const std::string& text) {
  b->Four(id);
  b->U32(uint32_t(text.size() + 1));
  b->b.insert(b->b.end(), text.begin(), text.end());
  b->Zeros(PaddedText(text.size()) - text.size());
}

void SuperIndex(Bytes* b, const std::vector<SuperEntry>& entries, const char* chunkId) {
  b->Four("indx");
  b->U32(kIndexChunkData);
  b->U16(4);
  b->U8(0);
  b->U8(0);  // an index of indexes
  b->U32(uint32_t(entries.size()));
  b->Four(chunkId);
  b->Zeros(12);
  for (const SuperEntry& e : entries) {
    b->U64(uint64_t(e.offset));
    b->U32(e.size);
    b->U32(e.duration);
  }
  b->Zeros(size_t(kSuperEntries - int32_t(entries.size())) * 16);
}

bool WriteHeaders(qvAviWriter* w) {
  const uint32_t payload = PaddedText(w->title.size()) + PaddedText(sizeof kSoftware - 1) +
                           PaddedText(sizeof kComment - 1);
  // A file without frames records no rate rather than dividing by its count.
  const int64_t maxBytesPerSecond = w->totalFrames == 0 ? 0
                                                        : (w->movieBytes / w->totalFrames) *
                                                              1000000 / int64_t{w->microsPerFrame};
  Bytes b;
  b.Four("LIST");
  b.U32(kHdrlFixed + payload);
  b.Four("hdrl");
  b.Four("avih");
  b.U32(56);
  b.U32(uint32_t(w->microsPerFrame));
  b.U32(uint32_t(std::min<int64_t>(maxBytesPerSecond, 0xFFFFFFFF)));
  b.U32(0);
  b.U32(kKeyFrame);  // has an index
  b.U32(uint32_t(w->totalFrames));
  b.U32(0);
  b.U32(2);
  b.U32(0);
  b.U32(uint32_t(w->width));
  b.U32(uint32_t(w->height));
  b.Zeros(16);

  b.Four("LIST");
  b.U32(16476);
  b.Four("strl");
  b.Four("strh");
  b.U32(56);
  b.Four("auds");
  b.Zeros(4);
  b.U32(0);
  b.U16(0);
  b.U16(0);
  b.U32(0);
  b.U32(4);
  b.U32(uint32_t(4 * w->sampleRate));
  b.U32(0);
  b.U32(uint32_t(w->audioSamples));
  b.U32(uint32_t(4 * w->samplesPerFrame));
  b.U32(0xFFFFFFFF);
  b.U32(4);
  b.Zeros(8);
  b.Four("strf");
  b.U32(16);
  b.U16(1);  // PCM
  b.U16(2);
  b.U32(uint32_t(w->sampleRate));
  b.U32(uint32_t(4 * w->sampleRate));
  b.U16(4);
  b.U16(16);
  SuperIndex(&b, w->super[0], "00wb");

  b.Four("LIST");
  b.U32(16500);
  b.Four("strl");
  b.Four("strh");
  b.U32(56);
  b.Four("vids");
  b.Four("MJPG");
  b.U32(0);
  b.U16(0);
  b.U16(0);
  b.U32(0);
  b.U32(uint32_t(w->microsPerFrame));
  b.U32(1000000);
  b.U32(0);
  b.U32(uint32_t(w->totalFrames));
  b.U32(w->largestVideo);
  b.U32(0);
  b.U32(0);
  b.U16(0);
  b.U16(0);
  b.U16(uint32_t(w->width));
  b.U16(uint32_t(w->height));
  b.Four("strf");
  b.U32(40);
  b.U32(40);
  b.U32(uint32_t(w->width));
  b.U32(uint32_t(w->height));
  b.U16(1);
  b.U16(24);
  b.Four("MJPG");
  b.U32(uint32_t(int64_t{w->width} * w->height * 3));
  b.Zeros(16);
  SuperIndex(&b, w->super[1], "01dc");

  b.Four("LIST");
  b.U32(16);
  b.Four("odml");
  b.Four("dmlh");
  b.U32(4);
  b.U32(uint32_t(w->totalFrames));

  b.Four("LIST");
  b.U32(28 + payload);
  b.Four("INFO");
  InfoChunk(&b, "INAM", w->title);
  InfoChunk(&b, "ISFT", kSoftware);
  InfoChunk(&b, "ICMT", kComment);
  return Put(w, b);
}

// Writes the standard index of the stream at its reserved place and gives its super-index entry
// the frames it covers.
bool FlushStandardIndex(qvAviWriter* w, int stream) {
  StandardIndex& s = w->standard[stream];
  if (s.position < 0) return true;
  const uint32_t used = uint32_t(s.entries.size() / 2);
  Bytes b;
  b.Four(stream == 0 ? "ix00" : "ix01");
  b.U32(kIndexChunkData);
  b.U16(2);
  b.U8(0);
  b.U8(1);  // an index of chunks
  b.U32(used);
  b.Four(stream == 0 ? "00wb" : "01dc");
  b.U64(uint64_t(s.base));
  b.U32(0);
  for (uint32_t v : s.entries) b.U32(v);
  b.Zeros(size_t(kStandardEntries) * 8 - s.entries.size() * 4);
  const int64_t here = Tell(w);
  SeekFileQ(w->out, s.position, kSeekStart);
  const bool ok = Put(w, b);
  SeekFileQ(w->out, here, kSeekStart);
  w->super[stream].back().duration = stream == 0 ? used * uint32_t(w->samplesPerFrame) : used;
  return ok;
}

// Writes out the indexes being filled and reserves a new pair at the current position.
int ReserveStandardIndexes(qvAviWriter* w) {
  if (w->super[0].size() >= size_t{kSuperEntries}) return ERR_SAVEANIM;
  for (int stream = 0; stream < 2; ++stream) {
    if (!FlushStandardIndex(w, stream)) return WriteFailed(w);
  }
  for (int stream = 0; stream < 2; ++stream) {
    StandardIndex& s = w->standard[stream];
    s.position = Tell(w);
    s.base = w->riffStart;
    s.entries.clear();
    w->super[stream].push_back({s.position, kIndexChunkBytes, 0});
    if (!FlushStandardIndex(w, stream)) return WriteFailed(w);
    SeekFileQ(w->out, s.position + kIndexChunkBytes, kSeekStart);
  }
  ++w->riffPairs;
  return 0;
}

// Appends the gathered "idx1" chunk behind the first RIFF's "movi" list.
bool EndLegacyIndex(qvAviWriter* w) {
  w->legacy = false;
  SeekFileQ(w->legacyIndex, 4, kSeekStart);
  bool ok = WriteU32LE(w->legacyIndex, uint32_t(w->legacyFrames) * 32) >= 0;
  ok = CloseFileQ(w->legacyIndex) != 0 && ok;
  w->legacyIndex = OpenFileQ(w->tempName, kFileRead);
  if (!ok || w->legacyIndex == nullptr) return false;
  std::vector<uint8_t> piece(16384);
  size_t n;
  while ((n = ReadFileQ(w->legacyIndex, piece.data(), piece.size())) > 0) {
    if (!Put(w, w->out, piece.data(), n)) return false;
  }
  return true;
}

bool PatchSizes(qvAviWriter* w) {
  const int64_t here = Tell(w);
  SeekFileQ(w->out, w->riffStart + 4, kSeekStart);
  bool ok = WriteU32LE(w->out, uint32_t(here - w->riffStart - 8)) >= 0;
  SeekFileQ(w->out, w->movi + 4, kSeekStart);
  const int64_t moviSize = 16 * int64_t{w->riffFrames} + 32768 * int64_t{w->riffPairs} +
                           w->riffAudioBytes + w->riffVideoBytes + 4;
  ok = WriteU32LE(w->out, uint32_t(moviSize)) >= 0 && ok;
  SeekFileQ(w->out, here, kSeekStart);
  w->riffFrames = 0;
  w->riffPairs = 0;
  w->riffAudioBytes = 0;
  w->riffVideoBytes = 0;
  if (!ok) w->failed = true;
  return ok;
}

int StartRiff(qvAviWriter* w) {
  if (w->legacy && !EndLegacyIndex(w)) return WriteFailed(w);
  if (!PatchSizes(w)) return WriteFailed(w);
  w->riffStart = Tell(w);
  w->movi = w->riffStart + 12;
  w->limit = w->limits.further;
  Bytes b;
  b.Four("RIFF");
  b.U32(0);
  b.Four("AVIX");
  b.Four("LIST");
  b.U32(0);
  b.Four("movi");
  return Put(w, b) ? 0 : WriteFailed(w);
}

// The picture as JPEG data at the writer's size, with the APP0 identifier of Motion-JPEG frames.
int Compress(qvAviWriter* w, const uint32_t* pixels, int64_t wordsPerRow, int32_t width,
             int32_t height) {
  std::vector<uint32_t> scaled;
  if (width != w->width || height != w->height) {
    try {
      scaled.resize(size_t(w->width) * size_t(w->height));
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    for (int32_t y = 0; y < w->height; ++y) {
      const uint32_t* in = pixels + (int64_t{y} * height / w->height) * wordsPerRow;
      uint32_t* line = scaled.data() + size_t(y) * size_t(w->width);
      for (int32_t x = 0; x < w->width; ++x) line[x] = in[int64_t{x} * width / w->width];
    }
    pixels = scaled.data();
    wordsPerRow = w->width;
  }
  qvJpegRequest request;
  request.pixels = pixels;
  request.bytesPerRow = wordsPerRow * 4;
  request.width = w->width;
  request.height = w->height;
  request.quality = w->quality;
  std::vector<uint8_t> data;
  const int code = SaveJpeg(request, &data);
  if (code != 0) return code;
  if (data.size() >= 10 && data[2] == 0xFF && data[3] == 0xE0) std::memcpy(&data[6], "AVI1", 4);
  w->last.swap(data);
  return 0;
}

int Open(qvAviWriter* w, const char* name) {
  int64_t rate = 44100;
  const int64_t perSecond = 1000000 / w->microsPerFrame;
  while (rate > 0 && rate % perSecond != 0) --rate;
  w->sampleRate = int32_t(rate);
  w->samplesPerFrame = int32_t(rate / perSecond);
  try {
    w->silence.assign(size_t(w->samplesPerFrame) * 4, 0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  SetErrorString(name);
  w->out = OpenFileQ(name, kFileWrite);
  if (w->out == nullptr) return ERR_WRITEFILE;
  if (CreateTempName(w->tempName, sizeof w->tempName) != 0) return ERR_WRITEFILE;
  w->legacyIndex = OpenFileQ(w->tempName, kFileWrite);
  if (w->legacyIndex == nullptr) {
    SetErrorString(w->tempName);
    return ERR_WRITEFILE;
  }
  w->limit = w->limits.first;
  Bytes b;
  b.Four("RIFF");
  b.U32(0);
  b.Four("AVI ");
  if (!Put(w, b) || !WriteHeaders(w)) return WriteFailed(w);
  w->movi = Tell(w);
  b.b.clear();
  b.Four("LIST");
  b.U32(0);
  b.Four("movi");
  if (!Put(w, b)) return WriteFailed(w);
  b.b.clear();
  b.Four("idx1");
  b.U32(0);
  if (!Put(w, w->legacyIndex, b.b.data(), b.b.size())) return WriteFailed(w);
  return 0;
}

}  // namespace

int OpenAVIWriter(const char* name, int32_t fps, int32_t width, int32_t height, int32_t quality,
                  const char* title, qvAviWriter** out, const qvAviLimits& limits) {
  *out = nullptr;
  // Above a million frames a second the microseconds per frame would be 0.
  if (fps < 1 || fps > kMaxFps || width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) {
    return ERR_OUTOFRANGE;
  }
  auto* w = new (std::nothrow) qvAviWriter;
  if (w == nullptr) return ERR_MEM;
  try {
    w->name = name;
    w->title = title != nullptr ? title : "";
  } catch (const std::bad_alloc&) {
    delete w;
    return ERR_MEM;
  }
  w->limits = limits;
  w->fps = fps;
  w->width = width;
  w->height = height;
  w->quality = std::clamp(quality, 1, 100);
  w->microsPerFrame = 1000000 / fps;
  const int code = Open(w, name);
  if (code != 0) {
    FreeAVIWriter(w);
    return code;
  }
  *out = w;
  return 0;
}

int WriteAVIFrame(qvAviWriter* w, const uint32_t* pixels, int64_t wordsPerRow, int32_t width,
                  int32_t height) {
  if (w->failed) return WriteFailed(w);
  if (pixels != nullptr && (width < 1 || height < 1 || wordsPerRow < width)) return ERR_OUTOFRANGE;
  // Compressed first: a picture that fails leaves the file as it was.
  if (pixels != nullptr) {
    const int code = Compress(w, pixels, wordsPerRow, width, height);
    if (code != 0) return code;
  } else if (w->last.empty()) {
    std::vector<uint32_t> black;
    try {
      black.assign(size_t(w->width) * size_t(w->height), 0);
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    const int code = Compress(w, black.data(), w->width, w->width, w->height);
    if (code != 0) return code;
  }
  if (Tell(w) - w->riffStart > w->limit) {
    const int code = StartRiff(w);
    if (code != 0) return code;
  }
  if (w->riffFrames == 0 || w->standard[0].entries.size() / 2 >= size_t{kStandardEntries}) {
    const int code = ReserveStandardIndexes(w);
    if (code != 0) return code;
  }
  const uint32_t audioSize = uint32_t(w->samplesPerFrame) * 4;
  const int64_t audioAt = Tell(w);
  Bytes b;
  b.Four("00wb");
  b.U32(audioSize);
  if (!Put(w, b) || !Put(w, w->out, w->silence.data(), audioSize)) return WriteFailed(w);
  const uint32_t videoSize = uint32_t(w->last.size());
  const int64_t videoAt = Tell(w);
  b.b.clear();
  b.Four("01dc");
  b.U32(videoSize);
  if (!Put(w, b) || !Put(w, w->out, w->last.data(), videoSize)) return WriteFailed(w);
  if ((videoSize & 1) && !Put(w, w->out, "", 1)) return WriteFailed(w);
  w->standard[0].entries.push_back(uint32_t(audioAt + 8 - w->standard[0].base));
  w->standard[0].entries.push_back(audioSize);
  w->standard[1].entries.push_back(uint32_t(videoAt + 8 - w->standard[1].base));
  w->standard[1].entries.push_back(videoSize);
  w->largestVideo = std::max(w->largestVideo, videoSize);
  if (w->legacy) {
    b.b.clear();
    b.Four("00wb");
    b.U32(kKeyFrame);
    b.U32(uint32_t(audioAt));
    b.U32(audioSize);
    b.Four("01dc");
    b.U32(kKeyFrame);
    b.U32(uint32_t(videoAt));
    b.U32(videoSize);
    if (!Put(w, w->legacyIndex, b.b.data(), b.b.size())) return WriteFailed(w);
    ++w->legacyFrames;
  }
  ++w->totalFrames;
  ++w->riffFrames;
  w->riffAudioBytes += audioSize;
  w->riffVideoBytes += videoSize + (videoSize & 1);
  w->movieBytes += int64_t{audioSize} + videoSize;
  w->audioSamples += w->samplesPerFrame;
  return 0;
}

int FinishAVIFile(qvAviWriter* w) {
  bool ok = !w->failed;
  for (int stream = 0; stream < 2 && ok; ++stream) ok = FlushStandardIndex(w, stream);
  if (ok && w->legacy) ok = EndLegacyIndex(w);
  if (ok) ok = PatchSizes(w);
  if (ok) {
    SeekFileQ(w->out, 12, kSeekStart);
    ok = WriteHeaders(w);
  }
  ok = CloseFileQ(w->out) != 0 && ok;
  w->out = nullptr;
  if (!ok) SetErrorString(w->name.c_str());
  FreeAVIWriter(w);
  return ok ? 0 : ERR_WRITEFILE;
}

void FreeAVIWriter(qvAviWriter* w) {
  if (w == nullptr) return;
  if (w->out != nullptr) CloseFileQ(w->out);
  if (w->legacyIndex != nullptr) CloseFileQ(w->legacyIndex);
  if (w->tempName[0] != '\0') DeleteFileOrDir(w->tempName);
  delete w;
}

int32_t AVIWriterSampleRate(const qvAviWriter* w) { return w->sampleRate; }
int32_t AVIWriterSamplesPerFrame(const qvAviWriter* w) { return w->samplesPerFrame; }

}  // namespace qv
