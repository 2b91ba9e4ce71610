// Windows' encoders: NVIDIA's (its driver loaded at run time), then the
// hardware encoder transforms Media Foundation lists (Intel, AMD and NVIDIA
// alike), then libx264. Hardware transforms take NV12.
#include <array>

#include "video/h264_encoder_list.h"

namespace {

constexpr std::array<EncoderChoice, 3> ENCODERS = {{
    {"h264_nvenc", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, true},
    {"h264_mf", AV_PIX_FMT_NV12, AV_HWDEVICE_TYPE_NONE, true},
    {"libx264", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, false},
}};

}  // namespace

std::span<const EncoderChoice> h264_encoder_list() {
    return ENCODERS;
}
