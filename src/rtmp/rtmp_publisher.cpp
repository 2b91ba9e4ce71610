// The publisher's life: opening runs the steps in order, each failing with
// its own text,
//   URL -> transport (TCP, TLS for rtmps) -> RTMP handshake -> publish exchange
// and the caller gets the connection's text or the generic "RTMP/RTMPS
// connection failed", never the URL or the key. Sending hands whole tags to
// the message writer; closing frees the record, whose members close the TLS
// session and then the socket.
#include "rtmp/rtmp_publisher.h"

#include "platform/text/error_text.h"
#include "rtmp/rtmp_commands.h"
#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_handshake.h"
#include "rtmp/rtmp_message_writer.h"
#include "rtmp/rtmp_url.h"

RtmpPublisher* rtmp_open(std::string_view url_text, uint32_t timeout_ms, std::span<char> error, Event* stop) {
    RtmpUrl url;
    if (!rtmp_parse_url(url_text, &url)) {
        error_printf(error, "invalid RTMP/RTMPS URL");
        return nullptr;
    }
    RtmpPublisherPtr p(rtmp_publisher_create(timeout_ms));
    if (!p) return nullptr;
    if (rtmp_connect(p.get(), url, stop) && rtmp_handshake(p.get()) && rtmp_start_publish(p.get(), url)) {
        return p.release();
    }
    if (p->error[0] != '\0') {
        error_printf(error, "%s", p->error);
    } else {
        error_printf(error, "RTMP/RTMPS connection failed");
    }
    return nullptr;
}

void rtmp_close(RtmpPublisher* publisher) {
    delete publisher;
}

bool rtmp_send_media_batch(RtmpPublisher* p, std::span<const RtmpMediaMessage> messages, std::span<char> error) {
    if (p && rtmp_write_media(p, messages)) return true;
    error_printf(error, "RTMP send failed");
    return false;
}

bool rtmp_send_media(RtmpPublisher* p, uint8_t type_id, uint32_t timestamp_ms, std::span<const uint8_t> payload,
                     std::span<char> error) {
    const RtmpMediaMessage message{type_id, timestamp_ms, payload};
    return rtmp_send_media_batch(p, std::span(&message, 1), error);
}
