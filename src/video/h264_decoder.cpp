// Decoder stage: libavcodec's H.264 decoder fed one Annex B access unit at a
// time, in decode order, with the unit's times in 100 ns units.
//
// Each unit's own timestamp is its DTS when present, else its PTS; it also
// tracks the input frame duration (the step between two increasing
// timestamps; a step backwards, as at a loop restart, leaves the duration as
// it was). The decoder is handed the PTS as well, so frames leave in
// presentation order with presentation times even when the source has
// B-frames. A unit the decoder finds malformed is skipped, as a player
// would; a decoder that stops working fails the feed, and so does one that
// has made no picture out of 10 s of media time: a source whose video never
// decodes must not pass for streaming with its audio alone.
#include <array>
#include <climits>

#include "platform/text/error_text.h"
#include "video/video_pipeline_state.h"

namespace {

constexpr int64_t DEFAULT_FRAME_DURATION = 333333;  // 1/30 s
constexpr int64_t UNDECODED_LIMIT = 10 * TIME_UNITS_PER_SECOND;

int64_t to_time_units(int64_t ticks_90khz) {
    return ticks_90khz < 0 ? 0 : ticks_90khz * 1000 / 9;
}

// Width, height, stride and rate of the stream as the decoder now reports
// them; a later change of resolution lands here again and leaves the
// encoder as it is.
void note_geometry(VideoPipeline& pipeline, const AVFrame& frame, const AVCodecContext& context) {
    pipeline.frame_width = uint32_t(frame.width);
    pipeline.frame_height = uint32_t(frame.height);
    pipeline.stride = uint32_t(frame.linesize[0] > 0 ? frame.linesize[0] : frame.width);
    if (pipeline.stride < pipeline.frame_width) pipeline.stride = pipeline.frame_width;
    const bool known = context.framerate.num > 0 && context.framerate.den > 0;
    pipeline.rate_num = known ? uint32_t(context.framerate.num) : 30;
    pipeline.rate_den = known ? uint32_t(context.framerate.den) : 1;
}

// Counts a unit fed at `sample_time` toward the wait for a picture; a step
// back in time (a loop restart) starts the wait again.
void note_unit(VideoPipeline& pipeline, int64_t sample_time) {
    if (pipeline.undecoded_since < 0 || sample_time < pipeline.undecoded_since) {
        pipeline.undecoded_since = sample_time;
        pipeline.undecoded_units = 0;
    }
    ++pipeline.undecoded_units;
}

// False, with the reason, once 10 s of media time have gone by without a picture.
bool picture_decoded_lately(const VideoPipeline& pipeline, int64_t sample_time, std::span<char> error) {
    if (pipeline.undecoded_since < 0 || sample_time - pipeline.undecoded_since < UNDECODED_LIMIT) return true;
    std::array<char, 128> complaint{};
    if (pipeline.last_decode_error == 0 ||
        av_strerror(pipeline.last_decode_error, complaint.data(), complaint.size()) < 0) {
        error_printf(complaint, "none");
    }
    error_printf(error, "H.264 decoder failed: no picture decoded for 10 s (%u units skipped, last decoder error: %s)",
                 pipeline.undecoded_units, complaint.data());
    return false;
}

}  // namespace

bool h264_decoder_open(VideoPipeline& pipeline, std::span<char> error) {
    H264Decoder& decoder = pipeline.decoder;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
        video_error(error, "H.264 decoder initialization failed", AVERROR_DECODER_NOT_FOUND);
        return false;
    }
    decoder.context.reset(avcodec_alloc_context3(codec));
    decoder.packet.reset(av_packet_alloc());
    decoder.frame.reset(av_frame_alloc());
    if (!decoder.context || !decoder.packet || !decoder.frame) {
        video_error(error, "H.264 decoder initialization failed", AVERROR(ENOMEM));
        return false;
    }
    decoder.context->pkt_timebase = AVRational{1, int(TIME_UNITS_PER_SECOND)};
    // Slice threads add no frame delay, which a live stream prefers.
    decoder.context->thread_type = FF_THREAD_SLICE;
    const int opened = avcodec_open2(decoder.context.get(), codec, nullptr);
    if (opened < 0) {
        video_error(error, "H.264 decoder initialization failed", opened);
        return false;
    }
    return true;
}

bool h264_decoder_feed(VideoPipeline& pipeline, std::span<const uint8_t> unit, int64_t pts, int64_t dts,
                       std::span<char> error) {
    const int64_t timestamp = dts >= 0 ? dts : pts;
    if (pipeline.last_input_timestamp >= 0 && timestamp > pipeline.last_input_timestamp) {
        pipeline.input_frame_duration = (timestamp - pipeline.last_input_timestamp) * 1000 / 9;
    }
    pipeline.last_input_timestamp = timestamp;
    const int64_t sample_time = to_time_units(timestamp);
    note_unit(pipeline, sample_time);
    const int64_t duration = pipeline.input_frame_duration > 0 ? pipeline.input_frame_duration : DEFAULT_FRAME_DURATION;
    if (unit.size() > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
        error_printf(error, "H.264 decoder rejected input: an access unit of %zu bytes is too large", unit.size());
        return false;
    }

    AVPacket* packet = pipeline.decoder.packet.get();
    const int made = av_new_packet(packet, int(unit.size()));
    if (made < 0) {
        video_error(error, "H.264 decoder rejected input", made);
        return false;
    }
    std::copy(unit.begin(), unit.end(), packet->data);
    packet->dts = sample_time;
    packet->pts = pts >= 0 ? to_time_units(pts) : sample_time;
    packet->duration = duration;

    AVCodecContext* context = pipeline.decoder.context.get();
    int sent = avcodec_send_packet(context, packet);
    if (sent == AVERROR(EAGAIN)) {
        if (!h264_decoder_drain(pipeline, false, error)) {
            av_packet_unref(packet);
            return false;
        }
        sent = avcodec_send_packet(context, packet);
    }
    av_packet_unref(packet);
    if (sent < 0 && sent != AVERROR_INVALIDDATA) {
        video_error(error, "H.264 decoder rejected input", sent);
        return false;
    }
    if (sent < 0) pipeline.last_decode_error = sent;
    return h264_decoder_drain(pipeline, false, error) && picture_decoded_lately(pipeline, sample_time, error);
}

bool h264_decoder_drain(VideoPipeline& pipeline, bool at_end, std::span<char> error) {
    AVCodecContext* context = pipeline.decoder.context.get();
    AVFrame* frame = pipeline.decoder.frame.get();
    if (at_end) (void)avcodec_send_packet(context, nullptr);  // already ending is fine
    for (;;) {
        const int received = avcodec_receive_frame(context, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received == AVERROR_INVALIDDATA) {  // a damaged picture: the next may be whole
            pipeline.last_decode_error = received;
            continue;
        }
        if (received < 0) {
            video_error(error, "H.264 decoder failed", received);
            return false;
        }
        if (uint32_t(frame->width) != pipeline.frame_width || uint32_t(frame->height) != pipeline.frame_height ||
            pipeline.stride == 0) {
            note_geometry(pipeline, *frame, *context);
        }
        pipeline.undecoded_since = -1;
        pipeline.last_decode_error = 0;
        const bool encoded = h264_encode_frame(pipeline, *frame, error);
        av_frame_unref(frame);
        if (!encoded) return false;
    }
}
