// Linux's encoders: NVIDIA's, Intel's Quick Sync, VA-API (Intel and AMD),
// V4L2 memory-to-memory (single-board computers), then libx264.
#include <array>

#include "video/h264_encoder_list.h"

namespace {

constexpr std::array<EncoderChoice, 5> ENCODERS = {{
    {"h264_nvenc", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, true},
    {"h264_qsv", AV_PIX_FMT_NV12, AV_HWDEVICE_TYPE_NONE, true},
    {"h264_vaapi", AV_PIX_FMT_NV12, AV_HWDEVICE_TYPE_VAAPI, true},
    {"h264_v4l2m2m", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, true},
    {"libx264", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, false},
}};

}  // namespace

std::span<const EncoderChoice> h264_encoder_list() {
    return ENCODERS;
}
