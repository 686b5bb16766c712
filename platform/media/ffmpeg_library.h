// FFmpeg's libraries, loaded on the first use instead of at start-up: linked directly they pull
// in well over a hundred shared libraries whose loading and symbol binding cost every applet tens
// of milliseconds before its first line, sound or not. Only the decoder calls through this table.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace qv {

// Every FFmpeg function the decoder calls: X(function).
#define QV_FFMPEG_FUNCTIONS(X)     \
  X(av_channel_layout_copy)        \
  X(av_channel_layout_default)     \
  X(av_channel_layout_uninit)      \
  X(av_find_best_stream)           \
  X(av_frame_alloc)                \
  X(av_frame_free)                 \
  X(av_frame_unref)                \
  X(av_free)                       \
  X(av_freep)                      \
  X(av_log_set_level)              \
  X(av_malloc)                     \
  X(av_packet_alloc)               \
  X(av_packet_free)                \
  X(av_packet_unref)               \
  X(av_read_frame)                 \
  X(av_rescale)                    \
  X(av_rescale_q)                  \
  X(av_seek_frame)                 \
  X(av_strdup)                     \
  X(avcodec_alloc_context3)        \
  X(avcodec_flush_buffers)         \
  X(avcodec_free_context)          \
  X(avcodec_open2)                 \
  X(avcodec_parameters_to_context) \
  X(avcodec_receive_frame)         \
  X(avcodec_send_packet)           \
  X(avformat_alloc_context)        \
  X(avformat_close_input)          \
  X(avformat_find_stream_info)     \
  X(avformat_open_input)           \
  X(avio_alloc_context)            \
  X(avio_context_free)             \
  X(swr_alloc_set_opts2)           \
  X(swr_convert)                   \
  X(swr_free)                      \
  X(swr_get_out_samples)           \
  X(swr_init)

struct qvFfmpeg {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument names a member
#define QV_FFMPEG_MEMBER(name) decltype(&::name) name;
  QV_FFMPEG_FUNCTIONS(QV_FFMPEG_MEMBER)
#undef QV_FFMPEG_MEMBER
};

// The functions, the libraries loaded on the first call (any thread; later calls return the same
// table at once); null when a library or a function is missing, then on every call.
const qvFfmpeg* LoadFfmpeg();

}  // namespace qv
