// FFmpeg's libraries, loaded when a file first needs them rather than by every process at start-up:
// libavutil, libavcodec and libavformat are opened by the run-time names of the headers we build
// with, and the functions the decoder and encoder call are looked up into one table. Nothing here
// or in its callers calls FFmpeg directly; the headers only give the types.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
}

#include <string>

namespace platform::detail {

// Every FFmpeg function we call, with the library that holds it.
#define TAMBERLO_FFMPEG_FUNCTIONS(X)                                                                       \
    X(util, av_channel_layout_copy)                                                                         \
    X(util, av_channel_layout_default)                                                                      \
    X(util, av_frame_alloc)                                                                                 \
    X(util, av_frame_free)                                                                                  \
    X(util, av_frame_get_buffer)                                                                            \
    X(util, av_frame_get_side_data)                                                                         \
    X(util, av_frame_unref)                                                                                 \
    X(util, av_get_packed_sample_fmt)                                                                       \
    X(util, av_log_set_level)                                                                               \
    X(util, av_rescale_q)                                                                                   \
    X(util, av_sample_fmt_is_planar)                                                                        \
    X(util, av_strerror)                                                                                    \
    X(codec, av_packet_alloc)                                                                               \
    X(codec, av_packet_free)                                                                                \
    X(codec, av_packet_get_side_data)                                                                       \
    X(codec, av_packet_rescale_ts)                                                                          \
    X(codec, av_packet_unref)                                                                               \
    X(codec, avcodec_alloc_context3)                                                                        \
    X(codec, avcodec_find_decoder)                                                                          \
    X(codec, avcodec_find_encoder)                                                                          \
    X(codec, avcodec_flush_buffers)                                                                         \
    X(codec, avcodec_free_context)                                                                          \
    X(codec, avcodec_get_name)                                                                              \
    X(codec, avcodec_open2)                                                                                 \
    X(codec, avcodec_parameters_from_context)                                                               \
    X(codec, avcodec_parameters_to_context)                                                                 \
    X(codec, avcodec_receive_frame)                                                                         \
    X(codec, avcodec_receive_packet)                                                                        \
    X(codec, avcodec_send_frame)                                                                            \
    X(codec, avcodec_send_packet)                                                                           \
    X(format, av_interleaved_write_frame)                                                                   \
    X(format, av_match_ext)                                                                                 \
    X(format, av_read_frame)                                                                                \
    X(format, av_seek_frame)                                                                                \
    X(format, av_write_trailer)                                                                             \
    X(format, avformat_alloc_output_context2)                                                               \
    X(format, avformat_close_input)                                                                         \
    X(format, avformat_find_stream_info)                                                                    \
    X(format, avformat_free_context)                                                                        \
    X(format, avformat_new_stream)                                                                          \
    X(format, avformat_open_input)                                                                          \
    X(format, avformat_write_header)                                                                        \
    X(format, avio_closep)                                                                                  \
    X(format, avio_open)

struct FFmpegLibrary {
#define TAMBERLO_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
    TAMBERLO_FFMPEG_FUNCTIONS(TAMBERLO_FFMPEG_POINTER)
#undef TAMBERLO_FFMPEG_POINTER
};

// Loads the libraries on the first call (once per process, from any thread; FFmpeg's own console
// log is silenced then). nullptr when a library or one of its functions cannot be loaded: `failure`
// then gets the reason, which names the library, and the log has it once.
const FFmpegLibrary* loadFFmpeg(std::string* failure = nullptr);

// The loaded table, for code that holds FFmpeg objects and so runs only after loadFFmpeg()
// succeeded. Throws NSErrorException when the libraries cannot be loaded.
const FFmpegLibrary& ffmpeg();

}  // namespace platform::detail
