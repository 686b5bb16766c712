// Compressed sound files through FFmpeg: libavformat reads the container over the caller's file
// callbacks, libavcodec decodes, libswresample converts to 16-bit interleaved at the native rate.
// A streaming decoder runs the same decoding on its own thread into a ring.
#include "platform/audio_decoder.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "platform/media/ffmpeg_library.h"

namespace qv {

namespace {

constexpr int kIoBufferSize = 32768;
constexpr int kRingSeconds = 3;
constexpr int kRingThresholdSeconds = 2;

// The libraries' functions: loaded by the first OpenAudioDecoder, which fails without them, so
// every other use finds them there.
const qvFfmpeg& Av() { return *LoadFfmpeg(); }

// The containers of sound that a file may be read as. Playlists, concatenation scripts, image
// sequences and the like are not among them: they open further files by name, which a sound file
// handed to the player must never make it do. A container whose name has several parts (as
// "mov,mp4,m4a,3gp,3g2,mj2") is allowed by any of them.
constexpr char kAudioFormats[] =
    "aac,ac3,adx,aiff,amr,amrnb,amrwb,ape,asf,ast,au,bfstm,brstm,caf,dsf,dts,dtshd,eac3,flac,gsm,"
    "iff,ircam,libopenmpt,loas,matroska,mlp,mov,mp3,mpc,mpc8,nistsphere,oma,ogg,shn,tak,truehd,tta,"
    "voc,w64,wav,wsaud,wv,xa,xwma";

// Refuses every file a container would open beside the one it reads.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

}  // namespace

struct qvAudioDecoder {
  qvDecoderIo io{};
  AVIOContext* avio = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* swr = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int streamIndex = -1;
  int rate = 0;
  int channels = 0;
  bool eof = false;      // no more packets
  bool drained = false;  // the decoder gave its last frame
  // Decoded frames not yet delivered (interleaved), from pendingAt on.
  std::vector<int16_t> pending;
  size_t pendingAt = 0;
  int64_t dropFrames = 0;  // after a seek: frames to drop before the target
  int64_t nextFrame = -1;  // the sample position of the next decoded frame, when known
  // Streaming: the ring and its thread.
  bool streaming = false;
  std::mutex lock;
  std::condition_variable cv;
  std::thread thread;
  bool threadRunning = false;
  bool quit = false;
  bool abortWait = false;
  std::vector<int16_t> ring;
  size_t ringRead = 0, ringFill = 0;  // in values
  bool ringEnd = false;
};

namespace {

int ReadPacket(void* opaque, uint8_t* buf, int size) {
  auto* d = static_cast<qvAudioDecoder*>(opaque);
  int32_t n = d->io.read(d->io.handle, buf, size);
  if (n < 0) return AVERROR(EIO);
  if (n == 0) return AVERROR_EOF;
  return n;
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* d = static_cast<qvAudioDecoder*>(opaque);
  if (whence & AVSEEK_SIZE) return d->io.size >= 0 ? d->io.size : -1;
  whence &= ~AVSEEK_FORCE;
  int w = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : 2;
  return d->io.seek(d->io.handle, offset, w);
}

int MakeResampler(qvAudioDecoder* d) {
  Av().swr_free(&d->swr);
  AVChannelLayout out{};
  Av().av_channel_layout_default(&out, d->channels);
  // A copy first frees what its destination holds: the destination starts as an empty layout,
  // not as whatever the stack held (a seek, which opens the streams again, crashed on that).
  AVChannelLayout in{};
  if (Av().av_channel_layout_copy(&in, &d->codec->ch_layout) < 0 ||
      in.order == AV_CHANNEL_ORDER_UNSPEC) {
    Av().av_channel_layout_uninit(&in);
    Av().av_channel_layout_default(&in, d->codec->ch_layout.nb_channels);
  }
  int r = Av().swr_alloc_set_opts2(&d->swr, &out, AV_SAMPLE_FMT_S16, d->rate, &in,
                                   d->codec->sample_fmt, d->codec->sample_rate, 0, nullptr);
  Av().av_channel_layout_uninit(&in);
  Av().av_channel_layout_uninit(&out);
  if (r < 0 || Av().swr_init(d->swr) < 0) return -1;
  return 0;
}

// Appends a decoded frame's samples to `pending`, dropping what a seek asked to skip.
bool Convert(qvAudioDecoder* d, AVFrame* f) {
  if (d->nextFrame < 0 && f->pts != AV_NOPTS_VALUE) {
    AVRational tb = d->format->streams[d->streamIndex]->time_base;
    d->nextFrame = Av().av_rescale_q(f->pts, tb, AVRational{1, d->rate});
  }
  int outMax = Av().swr_get_out_samples(d->swr, f->nb_samples);
  if (outMax < 0) return false;
  size_t at = d->pending.size();
  d->pending.resize(at + static_cast<size_t>(outMax) * d->channels);
  auto* out = reinterpret_cast<uint8_t*>(d->pending.data() + at);
  int got = Av().swr_convert(d->swr, &out, outMax, const_cast<const uint8_t**>(f->extended_data),
                             f->nb_samples);
  if (got < 0) {
    d->pending.resize(at);
    return false;
  }
  d->pending.resize(at + static_cast<size_t>(got) * d->channels);
  if (d->dropFrames > 0) {
    int64_t drop = std::min<int64_t>(d->dropFrames, got);
    d->pending.erase(d->pending.begin() + static_cast<ptrdiff_t>(at),
                     d->pending.begin() + static_cast<ptrdiff_t>(at + drop * d->channels));
    d->dropFrames -= drop;
  }
  return true;
}

// Decodes until some frames are pending or the stream is over; false when nothing more comes.
bool DecodeMore(qvAudioDecoder* d) {
  while (!d->drained) {
    int r = Av().avcodec_receive_frame(d->codec, d->frame);
    if (r == 0) {
      bool ok = Convert(d, d->frame);
      Av().av_frame_unref(d->frame);
      if (!ok) {
        d->drained = true;  // a failing decoder ends the stream
        return false;
      }
      if (d->pending.size() > d->pendingAt) return true;
      continue;
    }
    if (r == AVERROR_EOF) {
      // What the resampler still holds.
      int outMax = Av().swr_get_out_samples(d->swr, 0);
      if (outMax > 0) {
        size_t at = d->pending.size();
        d->pending.resize(at + static_cast<size_t>(outMax) * d->channels);
        auto* out = reinterpret_cast<uint8_t*>(d->pending.data() + at);
        int got = Av().swr_convert(d->swr, &out, outMax, nullptr, 0);
        d->pending.resize(at + static_cast<size_t>(std::max(got, 0)) * d->channels);
      }
      d->drained = true;
      return d->pending.size() > d->pendingAt;
    }
    if (r != AVERROR(EAGAIN)) {
      d->drained = true;
      return false;
    }
    if (d->eof) {
      Av().avcodec_send_packet(d->codec, nullptr);
      continue;
    }
    r = Av().av_read_frame(d->format, d->packet);
    if (r < 0) {
      d->eof = true;
      Av().avcodec_send_packet(d->codec, nullptr);
      continue;
    }
    if (d->packet->stream_index == d->streamIndex) {
      r = Av().avcodec_send_packet(d->codec, d->packet);
      if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA) {
        Av().av_packet_unref(d->packet);
        d->drained = true;
        return false;
      }
    }
    Av().av_packet_unref(d->packet);
  }
  return d->pending.size() > d->pendingAt;
}

// Reads on the caller's thread: frames delivered, *end when the stream is over.
int32_t DecodeDirect(qvAudioDecoder* d, int16_t* out, int32_t frames, bool* end) {
  int32_t done = 0;
  while (done < frames) {
    size_t avail = (d->pending.size() - d->pendingAt) / static_cast<size_t>(d->channels);
    if (avail == 0) {
      d->pending.clear();
      d->pendingAt = 0;
      if (!DecodeMore(d)) {
        if (end) *end = true;
        break;
      }
      continue;
    }
    size_t take = std::min<size_t>(avail, static_cast<size_t>(frames - done));
    std::memcpy(out + static_cast<size_t>(done) * d->channels, d->pending.data() + d->pendingAt,
                take * d->channels * sizeof(int16_t));
    d->pendingAt += take * d->channels;
    done += static_cast<int32_t>(take);
  }
  return done;
}

void DecodeThread(qvAudioDecoder* d) {
  std::vector<int16_t> piece(static_cast<size_t>(4096) * d->channels);
  size_t threshold = static_cast<size_t>(kRingThresholdSeconds) * d->rate * d->channels;
  while (true) {
    {
      std::unique_lock<std::mutex> g(d->lock);
      // Room first: unplayed audio is never overwritten.
      d->cv.wait(g, [&] { return d->quit || d->ringFill < threshold; });
      if (d->quit) return;
    }
    bool end = false;
    int32_t got = DecodeDirect(d, piece.data(), 4096, &end);
    std::lock_guard<std::mutex> g(d->lock);
    size_t values = static_cast<size_t>(got) * d->channels;
    size_t size = d->ring.size();
    for (size_t i = 0; i < values; i++) {
      d->ring[(d->ringRead + d->ringFill + i) % size] = piece[i];
    }
    d->ringFill += values;
    if (end) d->ringEnd = true;
    d->cv.notify_all();
    if (end) return;
  }
}

void StopThread(qvAudioDecoder* d) {
  if (!d->threadRunning) return;
  {
    std::lock_guard<std::mutex> g(d->lock);
    d->quit = true;
    d->cv.notify_all();
  }
  d->thread.join();
  d->threadRunning = false;
  d->quit = false;
  d->ringRead = d->ringFill = 0;
  d->ringEnd = false;
}

int32_t ReadRing(qvAudioDecoder* d, int16_t* out, int32_t frames, bool* end) {
  if (!d->threadRunning) {
    try {
      d->ring.assign(static_cast<size_t>(kRingSeconds) * d->rate * d->channels, 0);
      d->thread = std::thread(DecodeThread, d);
    } catch (...) {
      if (end) *end = true;
      return 0;
    }
    d->threadRunning = true;
  }
  size_t want = static_cast<size_t>(frames) * d->channels;
  size_t done = 0;
  std::unique_lock<std::mutex> g(d->lock);
  while (done < want) {
    if (d->ringFill == 0) {
      if (d->ringEnd) {
        d->ringEnd = false;  // the end is reported once
        if (end) *end = true;
        break;
      }
      if (d->abortWait) break;
      d->cv.wait(g, [&] { return d->ringFill > 0 || d->ringEnd || d->abortWait; });
      continue;
    }
    size_t take = std::min(d->ringFill, want - done);
    size_t size = d->ring.size();
    for (size_t i = 0; i < take; i++) out[done + i] = d->ring[(d->ringRead + i) % size];
    d->ringRead = (d->ringRead + take) % size;
    d->ringFill -= take;
    done += take;
    d->cv.notify_all();
  }
  return static_cast<int32_t>(done / static_cast<size_t>(d->channels));
}

}  // namespace

namespace {

// Frees the container, codec and converter (not the io record).
void CloseStreams(qvAudioDecoder* d) {
  Av().av_frame_free(&d->frame);
  Av().av_packet_free(&d->packet);
  Av().swr_free(&d->swr);
  Av().avcodec_free_context(&d->codec);
  if (d->format) Av().avformat_close_input(&d->format);
  if (d->avio) {
    Av().av_freep(&d->avio->buffer);
    Av().avio_context_free(&d->avio);
  }
  d->eof = d->drained = false;
  d->pending.clear();
  d->pendingAt = 0;
  d->dropFrames = 0;
  d->nextFrame = -1;
}

// Opens the file from its first byte: 0, or the error with *stage.
int32_t OpenStreams(qvAudioDecoder* d, int32_t* stage) {
  *stage = 0;
  if (d->io.seek(d->io.handle, 0, 0) < 0) return ERR_OPENSOUND;
  auto* buffer = static_cast<uint8_t*>(Av().av_malloc(kIoBufferSize));
  if (buffer == nullptr) return ERR_MEM;
  d->avio = Av().avio_alloc_context(buffer, kIoBufferSize, 0, d, ReadPacket, nullptr, SeekPacket);
  if (d->avio == nullptr) {
    Av().av_free(buffer);
    *stage = kStageIo;
    return ERR_DIRECTSHOW;
  }
  d->format = Av().avformat_alloc_context();
  if (d->format == nullptr) {
    *stage = kStageIo;
    return ERR_DIRECTSHOW;
  }
  d->format->pb = d->avio;
  d->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  d->format->io_open = RefuseNestedOpen;
  // Freed with the context, as every string option is.
  d->format->format_whitelist = Av().av_strdup(kAudioFormats);
  if (d->format->format_whitelist == nullptr) return ERR_MEM;
  if (Av().avformat_open_input(&d->format, nullptr, nullptr, nullptr) < 0) {
    d->format = nullptr;  // freed by the failed open
    *stage = kStageProbe;
    return ERR_OPENSOUND;
  }
  *stage = kStageStreamInfo;
  if (Av().avformat_find_stream_info(d->format, nullptr) < 0) return ERR_DIRECTSHOW;
  const AVCodec* decoder = nullptr;
  d->streamIndex = Av().av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (d->streamIndex < 0 || decoder == nullptr) return ERR_OPENSOUND;
  AVStream* stream = d->format->streams[d->streamIndex];
  *stage = kStageCodec;
  d->codec = Av().avcodec_alloc_context3(decoder);
  if (d->codec == nullptr || Av().avcodec_parameters_to_context(d->codec, stream->codecpar) < 0 ||
      Av().avcodec_open2(d->codec, decoder, nullptr) < 0) {
    return ERR_DIRECTSHOW;
  }
  d->rate = d->codec->sample_rate;
  d->channels = std::min(d->codec->ch_layout.nb_channels, 2);
  if (d->rate <= 0 || d->channels <= 0) return ERR_DIRECTSHOW;
  *stage = kStageResampler;
  if (MakeResampler(d) != 0) return ERR_DIRECTSHOW;
  *stage = 0;
  d->packet = Av().av_packet_alloc();
  d->frame = Av().av_frame_alloc();
  if (d->packet == nullptr || d->frame == nullptr) return ERR_MEM;
  return 0;
}

}  // namespace

int32_t OpenAudioDecoder(const qvDecoderIo& io, bool streaming, qvAudioDecoder** out,
                         qvDecoderFormat* format) {
  *out = nullptr;
  if (LoadFfmpeg() == nullptr) {
    SetErrorNumber(kStageIo);
    return ERR_DIRECTSHOW;
  }
  // The player reports its own errors; FFmpeg's notes on odd files would only clutter stderr.
  static const bool quiet = [] {
    Av().av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  auto* d = new (std::nothrow) qvAudioDecoder;
  if (d == nullptr) return ERR_MEM;
  d->io = io;
  d->streaming = streaming;
  int32_t stage = 0;
  int32_t code = OpenStreams(d, &stage);
  if (code != 0) {
    CloseAudioDecoder(d);
    if (code == ERR_DIRECTSHOW) SetErrorNumber(stage);
    return code;
  }
  AVStream* stream = d->format->streams[d->streamIndex];
  format->rate = d->rate;
  format->channels = d->channels;
  format->frames = -1;
  if (stream->duration > 0) {
    format->frames = Av().av_rescale_q(stream->duration, stream->time_base, AVRational{1, d->rate});
  } else if (d->format->duration > 0) {
    format->frames = Av().av_rescale(d->format->duration, d->rate, AV_TIME_BASE);
  }
  int64_t bitRate = d->format->bit_rate > 0 ? d->format->bit_rate : stream->codecpar->bit_rate;
  format->bitRate = static_cast<int32_t>(std::clamp<int64_t>(bitRate / 1000, 0, INT32_MAX));
  *out = d;
  return 0;
}

int32_t ReadAudioDecoder(qvAudioDecoder* d, int16_t* out, int32_t frames, bool* end) {
  if (end) *end = false;
  if (d == nullptr || frames <= 0) return 0;
  if (d->streaming) return ReadRing(d, out, frames, end);
  return DecodeDirect(d, out, frames, end);
}

int32_t SeekAudioDecoder(qvAudioDecoder* d, int64_t target) {
  if (d == nullptr || target < 0) return ERR_SEEK;
  StopThread(d);
  d->abortWait = false;
  AVStream* stream = d->format->streams[d->streamIndex];
  // A little before the target, then decoded frames are dropped up to it.
  int64_t before = std::max<int64_t>(target - d->rate / 2, 0);
  if (before == 0) {
    // Near the start: the file opened afresh decodes exactly as the first time (a container seek
    // to the start may not skip an encoder's priming or trim the end the same way).
    CloseStreams(d);
    int32_t stage;
    if (OpenStreams(d, &stage) != 0) return ERR_SEEK;
    d->dropFrames = target;
    return 0;
  }
  int64_t ts = Av().av_rescale_q(before, AVRational{1, d->rate}, stream->time_base);
  if (Av().av_seek_frame(d->format, d->streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) {
    if (Av().av_seek_frame(d->format, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE) < 0)
      return ERR_SEEK;
  }
  Av().avcodec_flush_buffers(d->codec);
  MakeResampler(d);
  d->eof = false;
  d->drained = false;
  d->pending.clear();
  d->pendingAt = 0;
  d->nextFrame = -1;
  // The first decoded frame tells where decoding stands; drop up to the target from there.
  if (!DecodeMore(d)) {
    d->dropFrames = 0;
    return 0;
  }
  // Timestamps count from the stream's start time (after an encoder's priming samples).
  int64_t at = d->nextFrame >= 0 ? d->nextFrame : 0;
  if (stream->start_time != AV_NOPTS_VALUE) {
    at -= Av().av_rescale_q(stream->start_time, stream->time_base, AVRational{1, d->rate});
  }
  int64_t drop = std::max<int64_t>(target - at, 0);
  size_t have = d->pending.size() / static_cast<size_t>(d->channels);
  if (static_cast<size_t>(drop) <= have) {
    d->pendingAt = static_cast<size_t>(drop) * d->channels;
  } else {
    d->pending.clear();
    d->dropFrames = drop - static_cast<int64_t>(have);
  }
  return 0;
}

void StopAudioDecoderWait(qvAudioDecoder* d) {
  if (d == nullptr) return;
  std::lock_guard<std::mutex> g(d->lock);
  d->abortWait = true;
  d->cv.notify_all();
}

void CloseAudioDecoder(qvAudioDecoder* d) {
  if (d == nullptr) return;
  StopThread(d);
  CloseStreams(d);
  delete d;
}

}  // namespace qv
