#include "media/videos.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/events.h"
#include "core/vfile.h"
#include "display/displays.h"
#include "display/picture_files.h"
#include "image/image.h"
#include "media/audio_channels.h"
#include "media/sound_objects.h"
#include "platform/sync.h"

namespace qv {
namespace {

struct VideoState {
  qvObjectHeader* videos = nullptr;
  qvLock* lock = nullptr;
  int32_t driver = kVideoDriverAny;
};
VideoState gv;

void FreeVideoRecord(qvScriptState* L, qvVideo* video) {
  video->player.reset();  // stops the tasks first
  if (L != nullptr) FreeObjectData(L, &video->header);
  delete video;
}

void Unlink(qvVideo* video) {
  EnterLock(gv.lock);
  for (qvObjectHeader** p = &gv.videos; *p != nullptr; p = &(*p)->next) {
    if (*p == &video->header) {
      *p = video->header.next;
      break;
    }
  }
  LeaveLock(gv.lock);
}

int32_t OpenInternal(const char* file, std::unique_ptr<qvVideoPlayer>* out) {
  std::unique_ptr<qvVideoSource> source;
  int32_t err = OpenVideoSource(file, &source);
  if (err != 0) return err;
  *out = qvVideoPlayer::Create(std::move(source), nullptr, nullptr);
  return *out != nullptr ? 0 : ERR_MEM;
}

// The platform's engine plays over the platform's media decoder, which has no video source yet:
// it refuses every file plainly rather than pretending to open it.
int32_t OpenPlatform(const char* file) {
  SetErrorString(file);
  return ERR_LOADVIDEO;
}

// What the engine's refresh task tells a video.
class VideoObjectSink final : public qvVideoFrameSink {
 public:
  explicit VideoObjectSink(qvVideo* video) : video_(video) {}
  void ShowFrame(const uint32_t* pixels, int32_t width, int32_t height, int64_t,
                 bool queued) override {
    // Only the script thread's frames (a seek while paused or ended) are drawn here: the window
    // is the script thread's to draw into.
    if (queued || video_->display == nullptr) return;
    qvBitMap* bitmap = nullptr;
    if (AllocBitMapFromARGB(pixels, -1, width, height, width, &bitmap, nullptr) != 0) return;
    RefreshDisplayRect(bitmap, 0, 0, video_->display, video_->x, video_->y, width, height, 0);
    FreeBitMap(bitmap);
  }
  void VideoEnded() override {
    // Read before the state changes: the script may close the video once it sees the end.
    const qvObjectId id{video_->header.id, video_->header.handle};
    SetVideoStateByStream(video_->player.get(), kVideoEnded);
    if (IsSoundEventEnabled(kSoundEventVideoEnd)) PostSoundEvent(kSoundEventVideoEnd, id, 0, 1, 0);
  }

 private:
  qvVideo* video_;
};

void PutLe(std::vector<uint8_t>* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

int32_t OpenVideoObjects() {
  gv = VideoState{};
  int32_t err = RegisterObjectList(&gv.videos);
  if (err != 0) return err;
  gv.lock = CreateLock();
  return gv.lock != nullptr ? 0 : ERR_SEMAPHORE;
}

void FreeAllVideos(qvScriptState* L) {
  while (gv.videos != nullptr) {
    auto* video = reinterpret_cast<qvVideo*>(gv.videos);
    Unlink(video);
    FreeVideoRecord(L, video);
  }
  DeleteLock(gv.lock);
  gv.lock = nullptr;
}

void SetVideoDriver(int32_t driver) { gv.driver = driver; }
int32_t GetVideoDriver() { return gv.driver; }

int32_t FindVideoOrError(qvObjectId id, qvVideo** out) {
  return FindObjectAs(kObjectVideo, id, ERR_FINDVIDEO, out);
}

int32_t OpenVideoObject(qvScriptState* L, qvOptionalId id, const char* file, qvVideo** out) {
  *out = nullptr;
  if (!id.automatic) {
    qvVideo* old;
    if (FindVideoOrError(qvObjectId{id.number, nullptr}, &old) == 0) {
      CloseVideoObject(L, qvObjectId{id.number, nullptr});
    }
  }
  std::unique_ptr<qvVideoPlayer> player;
  int32_t err = ERR_LOADVIDEO;
  if (gv.driver != kVideoDriverOs) {
    err = OpenInternal(file, &player);
    if (err != 0 && (gv.driver == kVideoDriverInternal || err == ERR_READFILE || err == ERR_MEM)) {
      return err;
    }
  }
  if (player == nullptr) return OpenPlatform(file);
  auto* video = new (std::nothrow) qvVideo;
  if (video == nullptr) return ERR_MEM;
  const qvVideoFacts& f = player->facts();
  video->width = f.width;
  video->height = f.height;
  video->frameCount = player->source()->FrameCount();
  video->durationMs = f.durationMs;
  video->seekable = f.seekable;
  video->player = std::move(player);
  EnterLock(gv.lock);
  AddObject(&gv.videos, &video->header, kObjectVideo, id.automatic ? 0 : id.number, id.automatic);
  LeaveLock(gv.lock);
  *out = video;
  return 0;
}

int32_t CloseVideoObject(qvScriptState* L, qvObjectId id) {
  qvVideo* video;
  int32_t err = FindVideoOrError(id, &video);
  if (err != 0) return err;
  StopVideoObject(video);
  Unlink(video);
  FreeVideoRecord(L, video);
  return 0;
}

bool ProbeVideoFile(const char* file) {
  std::unique_ptr<qvVideoSource> source;
  return OpenVideoSource(file, &source) == 0;
}

int32_t SeekVideoObject(qvVideo* video, int64_t ms) {
  if (!video->seekable) return ERR_SEEKFORMAT;
  // Milliseconds, as every engine seeks and the position reads: the range is the duration's.
  if (ms < 0 || ms > video->durationMs) return ERR_SEEKRANGE;
  return video->player->Seek(ms);
}

int32_t PlayVideoObject(qvVideo* video, qvDisplay* display, int32_t x, int32_t y) {
  const int32_t state = video->state;
  if (state == kVideoPlaying) return ERR_VIDPLAYING;
  if (state == kVideoPaused) return ERR_VIDPAUSED;
  if (state == kVideoEnded) StopVideoObject(video);
  if (video->sink == nullptr) {
    video->sink.reset(new (std::nothrow) VideoObjectSink(video));
    if (video->sink == nullptr) return ERR_MEM;
    video->player->SetSink(video->sink.get());
  }
  const bool audio = !IsSoundUnavailable() && EnsureAudioDevice();
  video->display = display;
  video->x = x;
  video->y = y;
  video->state = kVideoPlaying;
  video->player->SetVolume(video->volume);
  const int32_t err = video->player->Start(audio);
  if (err != 0) {
    StopVideoObject(video);
  }
  return err;
}

int32_t PauseVideoObject(qvVideo* video) {
  if (video->state != kVideoPlaying) return ERR_VIDNOTPLAYING;
  video->player->Pause();
  video->state = kVideoPaused;
  return 0;
}

int32_t ResumeVideoObject(qvVideo* video) {
  if (video->state != kVideoPaused) return ERR_VIDNOTPAUSED;
  video->player->Resume();
  video->state = kVideoPlaying;
  return 0;
}

void StopVideoObject(qvVideo* video) {
  video->player->Stop();
  video->state = kVideoStopped;
  video->display = nullptr;
}

void SetVideoObjectVolume(qvVideo* video, int32_t volume) {
  video->volume = volume < 0 ? 0 : volume > 64 ? 64 : volume;
  video->player->SetVolume(video->volume);
}

int64_t GetVideoPositionMs(qvVideo* video) { return video->player->PositionMs(); }

void SetVideoStateByStream(const qvVideoPlayer* player, int32_t state) {
  // Under the list lock: the script thread may be closing a video at the same time.
  EnterLock(gv.lock);
  for (qvObjectHeader* h = gv.videos; h != nullptr; h = h->next) {
    auto* video = reinterpret_cast<qvVideo*>(h);
    if (video->player.get() == player) {
      video->state = state;
      break;
    }
  }
  LeaveLock(gv.lock);
}

int32_t DumpVideoFrames(qvVideo* video, const char* destination, int32_t format,
                        const char* extension, int32_t (*checkBreak)(void*), void* context) {
  qvVideoSource* source = video->player->source();
  const qvVideoFacts& f = source->facts();
  const bool sound = f.channels > 0 && f.frequency > 0 && destination != nullptr;
  std::vector<uint8_t> wave;
  if (sound) {
    // The sizes are patched once the data is known.
    wave.insert(wave.end(), {'R', 'I', 'F', 'F'});
    PutLe(&wave, 0, 4);
    wave.insert(wave.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(&wave, 16, 4);
    PutLe(&wave, 1, 2);
    PutLe(&wave, uint32_t(f.channels), 2);
    PutLe(&wave, uint32_t(f.frequency), 4);
    PutLe(&wave, uint32_t(f.frequency) * uint32_t(f.channels) * 2, 4);
    PutLe(&wave, uint32_t(f.channels) * 2, 2);
    PutLe(&wave, 16, 2);
    wave.insert(wave.end(), {'d', 'a', 't', 'a'});
    PutLe(&wave, 0, 4);
  }
  std::vector<uint32_t> pixels;
  try {
    pixels.resize(size_t(f.width) * size_t(f.height));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  std::vector<int16_t> pcm(kVideoStagingBytes / 2);
  int32_t err = 0;
  int frame = 0;
  for (;;) {
    if (checkBreak != nullptr && (err = checkBreak(context)) != 0) break;
    qvVideoPacket packet;
    const int32_t got = source->NextPacket(&packet);
    if (got == kSourceEnd) break;
    if (got != 0) {
      err = got;
      break;
    }
    if (packet.kind == kVideoPacketVideo) {
      double stamp;
      if (source->DecodeVideo(packet, pixels.data(), &stamp) == 0 && destination != nullptr) {
        // The savers take ARGB words: the frames are opaque.
        for (uint32_t& p : pixels) p |= 0xFF000000u;
        std::string name = std::string(destination) + std::to_string(frame) + "." + extension;
        qvSavePicture picture;
        picture.file = name.c_str();
        picture.pixels = pixels.data();
        picture.width = f.width;
        picture.height = f.height;
        picture.quality = 90;
        err = SavePictureFile(format, picture);
      }
      ++frame;
    } else if (sound) {
      uint32_t bytes = 0;
      if (source->DecodeAudio(packet, pcm.data(), kVideoStagingBytes, &bytes) == 0) {
        for (uint32_t i = 0; i < bytes / 2; ++i) PutLe(&wave, uint16_t(pcm[i]), 2);
      }
    }
    source->FreePacket(&packet);
    if (err != 0) break;
  }
  if (sound && err == 0) {
    const uint32_t data = uint32_t(wave.size() - 44);
    for (int i = 0; i < 4; ++i) {
      wave[4 + i] = uint8_t((data + 36) >> (8 * i));
      wave[40 + i] = uint8_t(data >> (8 * i));
    }
    const std::string name = std::string(destination) + ".wav";
    err = WriteWholeFile(name.c_str(), wave.data(), wave.size());
  }
  return err;
}

}  // namespace qv
