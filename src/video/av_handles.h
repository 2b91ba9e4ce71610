// Owning handles for the FFmpeg objects the video pipeline keeps: each
// unique_ptr calls the library's own free function, so every early return
// in set-up or a failing stage releases what was made so far.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
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

// Library results shown in messages as 32-bit values ("%08lx").
[[nodiscard]] inline unsigned long av_code(int result) {
    return static_cast<uint32_t>(result);
}
