// libavformat's mov demuxer behind the MP4 reader's small interface.
#include "mp4/mp4_reader.h"

#include <algorithm>

#include "media/es_unit.h"
#include "video/av_handles.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace {

constexpr AVRational NINETY_KHZ = {1, 90000};
constexpr unsigned MAX_STREAMS = 64;

struct FormatCloser {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};

}  // namespace

struct Mp4Reader {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    AvPacketPtr packet;
    int video_index = -1;
    int audio_index = -1;
    Mp4Track video;
    Mp4Track audio;
    int64_t shift = 0;  // 90 kHz added to every time
    int64_t last_video_dts = INT64_MIN;
};

namespace {

Mp4Codec codec_of(AVCodecID id) {
    if (id == AV_CODEC_ID_H264) return Mp4Codec::h264;
    if (id == AV_CODEC_ID_AAC) return Mp4Codec::aac;
    return Mp4Codec::other;
}

Mp4Track track_of(const AVCodecParameters& par) {
    Mp4Track track;
    track.codec = codec_of(par.codec_id);
    if (par.extradata && par.extradata_size > 0) track.config.assign(par.extradata, par.extradata + par.extradata_size);
    if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
        track.sample_rate = par.sample_rate > 0 ? static_cast<uint32_t>(par.sample_rate) : 0;
        track.channels = par.ch_layout.nb_channels > 0 ? static_cast<uint32_t>(par.ch_layout.nb_channels) : 0;
    }
    return track;
}

int64_t to_90khz(int64_t time, AVRational time_base) {
    return av_rescale_q(time, time_base, NINETY_KHZ);
}

// The first video and audio tracks; every other stream is left unread.
void choose_tracks(Mp4Reader& reader) {
    AVFormatContext* format = reader.format.get();
    for (unsigned i = 0; i < format->nb_streams && i < MAX_STREAMS; ++i) {
        AVStream* stream = format->streams[i];
        stream->discard = AVDISCARD_ALL;
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && reader.video_index < 0 &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            reader.video_index = static_cast<int>(i);
            reader.video = track_of(*stream->codecpar);
        } else if (type == AVMEDIA_TYPE_AUDIO && reader.audio_index < 0) {
            reader.audio_index = static_cast<int>(i);
            reader.audio = track_of(*stream->codecpar);
        } else {
            continue;
        }
        stream->discard = AVDISCARD_DEFAULT;
    }
}

// The amount that lifts the earliest first decode time of a chosen track to 0.
int64_t timeline_shift(const Mp4Reader& reader) {
    int64_t earliest = 0;
    for (int index : {reader.video_index, reader.audio_index}) {
        if (index < 0) continue;
        AVStream* stream = reader.format->streams[index];
        const AVIndexEntry* first = avformat_index_get_entry(stream, 0);
        if (first && first->timestamp != AV_NOPTS_VALUE) {
            earliest = std::min(earliest, to_90khz(first->timestamp, stream->time_base));
        }
    }
    return -earliest;
}

// True when a chosen track lists any sample: a file cut off inside its
// index still opens, with tracks that hold nothing.
bool has_samples(const Mp4Reader& reader) {
    for (int index : {reader.video_index, reader.audio_index}) {
        if (index >= 0 && avformat_index_get_entries_count(reader.format->streams[index]) > 0) return true;
    }
    return false;
}

enum class Taken { sample, skip, failed };

// Fills the sample from the packet read.
Taken take_packet(Mp4Reader& reader, Mp4Sample& sample) {
    const AVPacket& packet = *reader.packet;
    const bool video = packet.stream_index == reader.video_index;
    if ((!video && packet.stream_index != reader.audio_index) || packet.size <= 0) return Taken::skip;
    // A sample the file ends before arrives short and marked corrupt.
    if (packet.flags & AV_PKT_FLAG_CORRUPT) return Taken::failed;
    const AVRational time_base = reader.format->streams[packet.stream_index]->time_base;
    int64_t pts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (pts == AV_NOPTS_VALUE) return Taken::skip;
    int64_t dts = packet.dts != AV_NOPTS_VALUE ? packet.dts : pts;
    sample.kind = video ? ES_VIDEO : ES_AUDIO;
    sample.data = std::span<const uint8_t>(packet.data, static_cast<size_t>(packet.size));
    sample.pts = std::max<int64_t>(to_90khz(pts, time_base) + reader.shift, 0);
    sample.dts = std::max<int64_t>(to_90khz(dts, time_base) + reader.shift, 0);
    if (video) {
        sample.dts = std::max(sample.dts, reader.last_video_dts);
        reader.last_video_dts = sample.dts;
    }
    sample.pts = std::max(sample.pts, sample.dts);
    return Taken::sample;
}

}  // namespace

Mp4Reader* mp4_reader_open(const std::string& path) {
    const AVInputFormat* mov = av_find_input_format("mp4");
    if (!mov) return nullptr;
    auto reader = std::make_unique<Mp4Reader>();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* format = nullptr;
    av_library_log_off();
    int opened = avformat_open_input(&format, ("file:" + path).c_str(), mov, &options);
    av_dict_free(&options);
    if (opened < 0) return nullptr;
    reader->format.reset(format);
    reader->packet.reset(av_packet_alloc());
    if (!reader->packet) return nullptr;
    choose_tracks(*reader);
    if (!has_samples(*reader)) return nullptr;
    reader->shift = timeline_shift(*reader);
    return reader.release();
}

const Mp4Track& mp4_reader_video(const Mp4Reader* reader) {
    return reader->video;
}

const Mp4Track& mp4_reader_audio(const Mp4Reader* reader) {
    return reader->audio;
}

Mp4Read mp4_reader_next(Mp4Reader* reader, Mp4Sample& sample) {
    for (;;) {
        av_packet_unref(reader->packet.get());
        int got = av_read_frame(reader->format.get(), reader->packet.get());
        if (got == AVERROR_EOF) return Mp4Read::end;
        if (got < 0) return Mp4Read::failed;
        Taken taken = take_packet(*reader, sample);
        if (taken != Taken::skip) return taken == Taken::sample ? Mp4Read::sample : Mp4Read::failed;
    }
}

void mp4_reader_close(Mp4Reader* reader) {
    delete reader;
}
