// MP4 samples to elementary-stream units, with the checks on the way.
#include "engines/mp4_units.h"

#include "mp4/mp4_sample_convert.h"
#include "platform/text/error_text.h"

namespace {

EngineResult fail(std::span<char> error, const char* text) {
    error_printf(error, "%s", text);
    return EngineResult::failed;
}

// The sample as the unit the sink takes; false with the path's message.
bool convert(Mp4UnitSource& source, const Mp4Sample& sample, std::span<char> error) {
    if (sample.kind == ES_VIDEO) {
        source.unit.clear();
        if (!source.first_video_sent) source.unit = source.prefix;
        if (h264_append_annexb(source.video_form, sample.data, source.unit)) return true;
        error_printf(error, "%s", "Invalid H.264 sample in MP4");
        return false;
    }
    if (mp4_audio_to_adts(sample.data, source.sample_rate, source.channels, source.unit)) return true;
    error_printf(error, "%s", "Unsupported AAC format in MP4");
    return false;
}

}  // namespace

bool mp4_source_open(Mp4UnitSource& source, const std::string& path, std::span<char> error) {
    source.reader.reset(mp4_reader_open(path));
    if (!source.reader) {
        error_printf(error, "%s", "MP4 file cannot be opened");
        return false;
    }
    const Mp4Track& video = mp4_reader_video(source.reader.get());
    if (video.codec != Mp4Codec::h264) {
        error_printf(error, "%s", "MP4 video must use H.264");
        return false;
    }
    source.video_form = h264_form_of(video.config);
    source.prefix = avcc_to_annexb_prefix(video.config);
    source.first_video_sent = false;
    const Mp4Track& audio = mp4_reader_audio(source.reader.get());
    if (audio.codec != Mp4Codec::none && audio.codec != Mp4Codec::aac) {
        error_printf(error, "%s", "MP4 audio must use AAC");
        return false;
    }
    source.sample_rate = audio.sample_rate;
    source.channels = audio.channels;
    return true;
}

EngineResult mp4_source_play(Mp4UnitSource& source, EsUnitCallback sink, void* sink_context, Event* stop_event,
                             std::span<char> error) {
    for (;;) {
        Mp4Sample sample;
        Mp4Read read = mp4_reader_next(source.reader.get(), sample);
        if (read == Mp4Read::end) return EngineResult::done;
        if (read == Mp4Read::failed) return fail(error, "MP4 sample read failed");
        if (!convert(source, sample, error)) return EngineResult::failed;
        if (!sink(sink_context, sample.kind, source.unit, sample.pts, sample.dts)) return EngineResult::failed;
        if (sample.kind == ES_VIDEO) source.first_video_sent = true;
        if (event_is_set(stop_event)) return EngineResult::stopped;
    }
}
