// Command payloads and the publish sequence. Every command goes out whole at
// timestamp 0; the Set Chunk Size that precedes them is not acknowledged by
// servers, so the new outbound size applies from the next message on.
#include "rtmp/rtmp_commands.h"

#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_message_writer.h"
#include "rtmp/rtmp_reply_wait.h"

namespace {

constexpr double TX_CONNECT = 1.0;
constexpr double TX_RELEASE_STREAM = 2.0;
constexpr double TX_FC_PUBLISH = 3.0;
constexpr double TX_CREATE_STREAM = 4.0;
constexpr double TX_PUBLISH = 5.0;

bool string_property(Amf0Writer* out, std::string_view key, std::string_view value) {
    return amf0_write_key(out, key) && amf0_write_string(out, value);
}

bool number_property(Amf0Writer* out, std::string_view key, double value) {
    return amf0_write_key(out, key) && amf0_write_number(out, value);
}

bool send_command(RtmpPublisher* p, uint8_t chunk_stream_id, uint32_t message_stream_id, const Amf0Writer& payload) {
    return rtmp_send_message(p, chunk_stream_id, RTMP_TYPE_AMF0_COMMAND, message_stream_id, 0, payload.bytes());
}

bool send_set_chunk_size(RtmpPublisher* p) {
    const uint8_t size[4] = {0x00, 0x00, 0x10, 0x00};
    if (!rtmp_send_message(p, RTMP_CHUNK_STREAM_CONTROL, RTMP_TYPE_SET_CHUNK_SIZE, 0, 0, size)) return false;
    p->outbound_chunk_size = RTMP_OUTBOUND_CHUNK_SIZE;
    return true;
}

bool connect_app(RtmpPublisher* p, const RtmpUrl& url) {
    Amf0Writer connect;
    return rtmp_build_connect(&connect, url) && send_command(p, RTMP_CHUNK_STREAM_COMMAND, 0, connect) &&
           rtmp_wait_for_reply(p, "_result", TX_CONNECT, nullptr);
}

// releaseStream, FCPublish and createStream go out back to back; only the
// createStream answer is awaited.
bool create_stream(RtmpPublisher* p, const RtmpUrl& url) {
    Amf0Writer release, fc_publish, create;
    if (!rtmp_build_stream_command(&release, "releaseStream", TX_RELEASE_STREAM, url.stream_key) ||
        !send_command(p, RTMP_CHUNK_STREAM_COMMAND, 0, release) ||
        !rtmp_build_stream_command(&fc_publish, "FCPublish", TX_FC_PUBLISH, url.stream_key) ||
        !send_command(p, RTMP_CHUNK_STREAM_COMMAND, 0, fc_publish) || !rtmp_build_create_stream(&create) ||
        !send_command(p, RTMP_CHUNK_STREAM_COMMAND, 0, create)) {
        return false;
    }
    double stream_id = 0.0;
    if (!rtmp_wait_for_reply(p, "_result", TX_CREATE_STREAM, &stream_id) || stream_id < 1.0) return false;
    p->stream_id = static_cast<uint32_t>(stream_id);
    return true;
}

}  // namespace

bool rtmp_build_connect(Amf0Writer* out, const RtmpUrl& url) {
    return amf0_write_string(out, "connect") && amf0_write_number(out, TX_CONNECT) && amf0_write_object_start(out) &&
           string_property(out, "app", url.app) && string_property(out, "type", "nonprivate") &&
           string_property(out, "tcUrl", url.tc_url) && string_property(out, "flashVer", RTMP_FLASH_VERSION) &&
           amf0_write_key(out, "fpad") && amf0_write_boolean(out, false) &&
           number_property(out, "capabilities", 15.0) && number_property(out, "audioCodecs", 4071.0) &&
           number_property(out, "videoCodecs", 252.0) && amf0_write_object_end(out);
}

bool rtmp_build_stream_command(Amf0Writer* out, std::string_view name, double transaction,
                               std::string_view stream_key) {
    return amf0_write_string(out, name) && amf0_write_number(out, transaction) && amf0_write_null(out) &&
           amf0_write_string(out, stream_key);
}

bool rtmp_build_create_stream(Amf0Writer* out) {
    return amf0_write_string(out, "createStream") && amf0_write_number(out, TX_CREATE_STREAM) && amf0_write_null(out);
}

bool rtmp_build_publish(Amf0Writer* out, std::string_view stream_key) {
    return rtmp_build_stream_command(out, "publish", TX_PUBLISH, stream_key) && amf0_write_string(out, "live");
}

bool rtmp_start_publish(RtmpPublisher* p, const RtmpUrl& url) {
    if (!send_set_chunk_size(p) || !connect_app(p, url) || !create_stream(p, url)) return false;
    Amf0Writer publish;
    if (!rtmp_build_publish(&publish, url.stream_key) ||
        !send_command(p, RTMP_CHUNK_STREAM_PUBLISH, p->stream_id, publish)) {
        return false;
    }
    return rtmp_wait_for_reply(p, "NetStream.Publish.Start", 0.0, nullptr);
}
