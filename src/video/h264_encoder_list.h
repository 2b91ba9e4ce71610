// The H.264 encoders the pipeline may open, in the order "Auto" tries them:
// the platform's hardware encoders first, libx264 last. Each system has its
// own list (h264_encoder_list_posix.cpp, h264_encoder_list_win32.cpp).
#pragma once

#include <span>

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/pixfmt.h>
}

struct EncoderChoice {
    const char* name;
    AVPixelFormat input;    // the layout the encoder takes from memory
    AVHWDeviceType device;  // AV_HWDEVICE_TYPE_NONE: no device frames
    bool hardware;
};

[[nodiscard]] std::span<const EncoderChoice> h264_encoder_list();
