// Encoder stage: the first decoded frame fixes the encoder's size and rate
// and opens an H.264 encoder chosen by the workflow's encoder text:
//
//   "Auto"            hardware in a fixed order (h264_nvenc, h264_qsv,
//                     h264_vaapi, h264_v4l2m2m), else libx264
//   "Hardware H.264"  the hardware list only
//   "Software H.264"  libx264 only
//
// Whatever opens gets the same contract, because the pipeline hands every
// unit on with PTS = DTS and the ingest needs regular entry points: no
// B-frames, a key frame every 2 s of media time (forced on the frame that
// reaches it, with the encoder's own GOP of 2 s of frames behind that), the
// settings' average bitrate capped by a VBV of the same rate and one
// second, and for libx264 a real-time preset. Headers stay in band (no
// global header), so every key frame carries SPS and PPS.
//
// Each decoded frame is copied (or scaled, after a change of resolution)
// into the canvas, a frame the encoder's size that we own: the decoder keeps
// its frames as references, so they cannot be painted in place. The canvas
// is painted, converted to the encoder's layout when it wants another one
// (NV12 for the Intel and VA-API encoders, uploaded to device frames for
// VA-API) and sent. The send/receive API stands for the need-input and
// have-output events: a frame the encoder will not take yet waits, in 50 ms
// slices up to 10 s, while its finished output is collected.
#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
}

#include "media/h264_form.h"
#include "platform/text/error_text.h"
#include "platform/time/clock.h"
#include "video/video_pipeline_state.h"

namespace {

constexpr uint32_t DEFAULT_BITRATE = 6000000;
constexpr uint64_t FRAME_WAIT_LIMIT_MS = 10000;
constexpr auto WAIT_SLICE = std::chrono::milliseconds(50);
constexpr int64_t KEY_INTERVAL = 2 * TIME_UNITS_PER_SECOND;
constexpr const char* SOFTWARE_SETUP_FAILED = "software H.264 encoder initialization failed";

struct EncoderChoice {
    const char* name;
    AVPixelFormat input;    // the layout the encoder takes from memory
    AVHWDeviceType device;  // AV_HWDEVICE_TYPE_NONE: no device frames
    bool hardware;
};

constexpr std::array<EncoderChoice, 5> ENCODERS = {{
    {"h264_nvenc", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, true},
    {"h264_qsv", AV_PIX_FMT_NV12, AV_HWDEVICE_TYPE_NONE, true},
    {"h264_vaapi", AV_PIX_FMT_NV12, AV_HWDEVICE_TYPE_VAAPI, true},
    {"h264_v4l2m2m", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, true},
    {"libx264", AV_PIX_FMT_YUV420P, AV_HWDEVICE_TYPE_NONE, false},
}};

bool is_planar_420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

struct Dictionary {
    AVDictionary* entries = nullptr;
    ~Dictionary() { av_dict_free(&entries); }
    void set(const char* key, const char* value) { av_dict_set(&entries, key, value, 0); }
};

// Device frames for an encoder that takes only those; the device must open
// here or the encoder counts as not available.
int attach_device(H264Encoder& encoder, const EncoderChoice& choice) {
    AVBufferRef* device = nullptr;
    int result = av_hwdevice_ctx_create(&device, choice.device, nullptr, nullptr, 0);
    if (result < 0) return result;
    encoder.device.reset(device);
    AvBufferPtr frames(av_hwframe_ctx_alloc(device));
    if (!frames) return AVERROR(ENOMEM);
    auto* constraints = reinterpret_cast<AVHWFramesContext*>(frames->data);
    constraints->format = encoder.context->pix_fmt;
    constraints->sw_format = choice.input;
    constraints->width = encoder.context->width;
    constraints->height = encoder.context->height;
    constraints->initial_pool_size = 16;
    result = av_hwframe_ctx_init(frames.get());
    if (result < 0) return result;
    encoder.context->hw_frames_ctx = frames.release();
    return 0;
}

// Opens one encoder for the frame geometry; the library's result on failure.
int open_encoder(VideoPipeline& pipeline, const EncoderChoice& choice, const AVFrame& first) {
    H264Encoder& encoder = pipeline.encoder;
    encoder = H264Encoder{};
    const AVCodec* codec = avcodec_find_encoder_by_name(choice.name);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    encoder.context.reset(avcodec_alloc_context3(codec));
    if (!encoder.context) return AVERROR(ENOMEM);
    AVCodecContext& context = *encoder.context;
    const int64_t bitrate = pipeline.overlay.settings.bitrate ? pipeline.overlay.settings.bitrate : DEFAULT_BITRATE;
    context.width = int(pipeline.frame_width);
    context.height = int(pipeline.frame_height);
    context.time_base = AVRational{1, int(TIME_UNITS_PER_SECOND)};
    context.framerate = AVRational{int(pipeline.rate_num), int(pipeline.rate_den)};
    context.pix_fmt = choice.device == AV_HWDEVICE_TYPE_NONE ? choice.input : AV_PIX_FMT_VAAPI;
    context.color_range = first.format == AV_PIX_FMT_YUVJ420P ? AVCOL_RANGE_JPEG : first.color_range;
    context.sample_aspect_ratio = first.sample_aspect_ratio;
    context.bit_rate = bitrate;
    context.rc_max_rate = bitrate;
    context.rc_buffer_size = int(std::min<int64_t>(bitrate, INT32_MAX));
    context.max_b_frames = 0;
    context.gop_size = int(std::max<int64_t>(1, 2 * int64_t(pipeline.rate_num) / pipeline.rate_den));
    context.flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;
    if (choice.device != AV_HWDEVICE_TYPE_NONE) {
        const int attached = attach_device(encoder, choice);
        if (attached < 0) return attached;
    }
    Dictionary options;
    options.set("forced-idr", "1");  // nvenc, libx264
    options.set("forced_idr", "1");  // qsv
    if (!choice.hardware) {
        options.set("preset", "veryfast");
        options.set("tune", "zerolatency");
    } else {
        options.set("zerolatency", "1");
    }
    // Options an encoder does not know stay in the dictionary, unused.
    return avcodec_open2(encoder.context.get(), codec, &options.entries);
}

AvFramePtr make_frame(AVPixelFormat format, int width, int height, int& result) {
    AvFramePtr frame(av_frame_alloc());
    if (!frame) {
        result = AVERROR(ENOMEM);
        return nullptr;
    }
    frame->format = format;
    frame->width = width;
    frame->height = height;
    result = av_frame_get_buffer(frame.get(), 0);
    return result < 0 ? nullptr : std::move(frame);
}

// Canvas, layout conversion and packet for an opened encoder.
int prepare_frames(H264Encoder& encoder, AVPixelFormat input) {
    const int width = encoder.context->width;
    const int height = encoder.context->height;
    int result = 0;
    encoder.canvas = make_frame(AV_PIX_FMT_YUV420P, width, height, result);
    if (!encoder.canvas) return result;
    if (input != AV_PIX_FMT_YUV420P) {
        encoder.converted = make_frame(input, width, height, result);
        if (!encoder.converted) return result;
        encoder.convert.reset(sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, input, SWS_POINT,
                                             nullptr, nullptr, nullptr));
        if (!encoder.convert) return AVERROR(EINVAL);
    }
    if (encoder.device) {
        encoder.hardware_frame.reset(av_frame_alloc());
        if (!encoder.hardware_frame) return AVERROR(ENOMEM);
    }
    encoder.packet.reset(av_packet_alloc());
    return encoder.packet ? 0 : AVERROR(ENOMEM);
}

bool h264_encoder_setup(VideoPipeline& pipeline, const AVFrame& first, std::span<char> error) {
    const std::string& wanted = pipeline.overlay.settings.encoder;
    const bool hardware_only = wanted == "Hardware H.264";
    const bool software_only = wanted == "Software H.264";
    const EncoderChoice* opened = nullptr;
    int result = 0;
    for (const EncoderChoice& choice : ENCODERS) {
        if ((choice.hardware && software_only) || (!choice.hardware && hardware_only)) continue;
        result = open_encoder(pipeline, choice, first);
        if (result >= 0) {
            opened = &choice;
            break;
        }
    }
    if (!opened) {
        pipeline.encoder = H264Encoder{};
        if (hardware_only) {
            error_printf(error, "no hardware H.264 encoder is available");
        } else {  // libx264, the last one tried, did not open either
            video_error(error, SOFTWARE_SETUP_FAILED, result);
        }
        return false;
    }
    const char* setup_failed =
        opened->hardware ? "hardware H.264 encoder initialization failed" : SOFTWARE_SETUP_FAILED;
    result = prepare_frames(pipeline.encoder, opened->input);
    if (result < 0) {
        pipeline.encoder = H264Encoder{};
        video_error(error, setup_failed, result);
        return false;
    }
    if (!overlay_compositor_prepare(pipeline.overlay, pipeline.frame_width, pipeline.frame_height, error)) {
        pipeline.encoder = H264Encoder{};
        if (error_is_empty(error)) error_printf(error, "%s: the ticker band cannot be drawn", setup_failed);
        return false;
    }
    pipeline.encoder.description = std::string(opened->name) + (opened->hardware ? " (hardware)" : " (software)");
    pipeline.encoder_ready = 1;
    return true;
}

// The decoded frame, as the encoder's size in planar 4:2:0, into the canvas.
int fill_canvas(H264Encoder& encoder, const AVFrame& decoded) {
    AVFrame& canvas = *encoder.canvas;
    int result = av_frame_make_writable(&canvas);  // copies only if the encoder still holds it
    if (result < 0) return result;
    if (decoded.width == canvas.width && decoded.height == canvas.height && is_planar_420(decoded.format)) {
        av_image_copy(canvas.data, canvas.linesize, const_cast<const uint8_t**>(decoded.data), decoded.linesize,
                      AV_PIX_FMT_YUV420P, canvas.width, canvas.height);
        return 0;
    }
    const AVPixelFormat from =
        decoded.format == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUV420P : AVPixelFormat(decoded.format);
    encoder.fit.reset(sws_getCachedContext(encoder.fit.release(), decoded.width, decoded.height, from, canvas.width,
                                           canvas.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!encoder.fit) return AVERROR(EINVAL);
    result =
        sws_scale(encoder.fit.get(), decoded.data, decoded.linesize, 0, decoded.height, canvas.data, canvas.linesize);
    return result == canvas.height ? 0 : AVERROR(EINVAL);
}

// The frame to send: the canvas, or its conversion / upload.
int frame_to_send(H264Encoder& encoder, AVFrame*& out) {
    out = encoder.canvas.get();
    if (encoder.converted) {
        int result = av_frame_make_writable(encoder.converted.get());
        if (result < 0) return result;
        result = sws_scale(encoder.convert.get(), out->data, out->linesize, 0, out->height, encoder.converted->data,
                           encoder.converted->linesize);
        if (result != out->height) return AVERROR(EINVAL);
        out = encoder.converted.get();
    }
    if (encoder.hardware_frame) {
        AVFrame* upload = encoder.hardware_frame.get();
        av_frame_unref(upload);
        int result = av_hwframe_get_buffer(encoder.context->hw_frames_ctx, upload, 0);
        if (result >= 0) result = av_hwframe_transfer_data(upload, out, 0);
        if (result < 0) return result;
        out = upload;
    }
    return 0;
}

bool deliver(VideoPipeline& pipeline, const AVPacket& packet, std::span<char> error) {
    H264Encoder& encoder = pipeline.encoder;
    const AVCodecContext& context = *encoder.context;
    encoder.rewritten.clear();
    if (!h264_append_annexb(h264_form_of({context.extradata, size_t(context.extradata_size)}),
                            {packet.data, size_t(packet.size)}, encoder.rewritten)) {
        error_printf(error, "encoded video is not valid H.264");
        return false;
    }
    const std::span<const uint8_t> data = encoder.rewritten;
    const int64_t t = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    const int64_t ts = t == AV_NOPTS_VALUE ? 0 : t * 9 / 1000;
    if (!pipeline.sink(pipeline.sink_context, ES_VIDEO, data, ts, ts)) {
        error_printf(error, "encoded video delivery failed");
        return false;
    }
    return true;
}

// Hands on every unit the encoder has finished; `collected` counts them.
bool collect_output(VideoPipeline& pipeline, int& collected, std::span<char> error) {
    AVPacket* packet = pipeline.encoder.packet.get();
    for (;;) {
        const int received = avcodec_receive_packet(pipeline.encoder.context.get(), packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received < 0) {
            video_error(error, "H.264 encoder output failed", received);
            return false;
        }
        const bool delivered = deliver(pipeline, *packet, error);
        av_packet_unref(packet);
        if (!delivered) return false;
        ++collected;
    }
}

// A key frame when 2 s of media time have passed since the last one, and
// where time steps back (a loop restart), so every entry point is close by.
bool key_frame_due(H264Encoder& encoder, int64_t t) {
    const bool stepped_back = t < encoder.last_frame_time;
    encoder.last_frame_time = t;
    if (encoder.last_key_time >= 0 && !stepped_back && t - encoder.last_key_time < KEY_INTERVAL) return false;
    encoder.last_key_time = t;
    return true;
}

bool send_frame(VideoPipeline& pipeline, AVFrame* frame, std::span<char> error) {
    const uint64_t deadline = tick_ms() + FRAME_WAIT_LIMIT_MS;
    for (;;) {
        const int sent = avcodec_send_frame(pipeline.encoder.context.get(), frame);
        if (sent == 0) return true;
        if (sent != AVERROR(EAGAIN)) {
            video_error(error, "H.264 encoder rejected the frame", sent);
            return false;
        }
        int collected = 0;
        if (!collect_output(pipeline, collected, error)) return false;
        if (tick_ms() > deadline) {
            error_printf(error, "H.264 encoder took no frame for %llu s",
                         static_cast<unsigned long long>(FRAME_WAIT_LIMIT_MS / 1000));
            return false;
        }
        if (collected == 0) std::this_thread::sleep_for(WAIT_SLICE);
    }
}

}  // namespace

bool h264_encode_frame(VideoPipeline& pipeline, const AVFrame& decoded, std::span<char> error) {
    if (!pipeline.encoder_ready && !h264_encoder_setup(pipeline, decoded, error)) return false;
    H264Encoder& encoder = pipeline.encoder;
    const uint32_t width = uint32_t(encoder.context->width);
    if (!overlay_compositor_update(pipeline.overlay, width, uint32_t(encoder.context->height), error)) return false;
    int64_t t = decoded.best_effort_timestamp != AV_NOPTS_VALUE ? decoded.best_effort_timestamp : decoded.pts;
    if (t == AV_NOPTS_VALUE || t < 0) t = 0;

    int result = fill_canvas(encoder, decoded);
    if (result < 0) {
        video_error(error, "decoded frame cannot be copied to the encoder's canvas", result);
        return false;
    }
    AVFrame& canvas = *encoder.canvas;
    const Yuv420View view = {canvas.data[0],
                             canvas.data[1],
                             canvas.data[2],
                             uint32_t(canvas.linesize[0]),
                             uint32_t(canvas.linesize[1]),
                             1,
                             width,
                             uint32_t(canvas.height)};
    overlay_compositor_paint(pipeline.overlay, view, t);

    AVFrame* frame = nullptr;
    result = frame_to_send(encoder, frame);
    if (result < 0) {
        video_error(error, "H.264 encoder rejected the frame", result);
        return false;
    }
    frame->pts = t;
    frame->pict_type = key_frame_due(encoder, t) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const bool sent = send_frame(pipeline, frame, error);
    if (encoder.hardware_frame) av_frame_unref(encoder.hardware_frame.get());
    int collected = 0;
    return sent && collect_output(pipeline, collected, error);
}

bool h264_encoder_finish(VideoPipeline& pipeline, std::span<char> error) {
    if (!pipeline.encoder_ready) return true;
    const int sent = avcodec_send_frame(pipeline.encoder.context.get(), nullptr);
    if (sent < 0 && sent != AVERROR_EOF) {
        video_error(error, "H.264 encoder rejected the frame", sent);
        return false;
    }
    int collected = 0;
    return collect_output(pipeline, collected, error);
}
