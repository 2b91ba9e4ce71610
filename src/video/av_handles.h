// Owning handles for the FFmpeg objects the video pipeline keeps: each
// unique_ptr calls the library's own free function, so every early return
// in set-up or a failing stage releases what was made so far.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

struct AvCodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct AvFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AvPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AvBufferUnref {
    void operator()(AVBufferRef* buffer) const { av_buffer_unref(&buffer); }
};
struct SwsContextFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using AvBufferPtr = std::unique_ptr<AVBufferRef, AvBufferUnref>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;

// FFmpeg prints its own diagnostics (encoder statistics, decoder warnings on
// a damaged live stream) to stderr, for ever on a long run. Every failure
// that matters reaches the user through our own messages, so its log is off.
inline void av_library_log_off() {
    av_log_set_level(AV_LOG_QUIET);
}
