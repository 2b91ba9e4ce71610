// Waiting for a server reply during the command exchange. Replies are found
// by searching the raw payload for a known text; the few AMF facts we need
// (command name, transaction id, the stream id number) are read through
// bounds-checked offsets, since the payload comes from the peer.
#include "rtmp/rtmp_reply_wait.h"

#include <algorithm>
#include <bit>
#include <string>

#include "platform/text/byte_order.h"
#include "rtmp/rtmp_chunk_reader.h"
#include "rtmp/rtmp_commands.h"
#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_message_writer.h"

namespace {

constexpr size_t COMMAND_NAME_LIMIT = 64;
constexpr uint16_t PING_REQUEST = 6;
constexpr uint8_t PING_RESPONSE = 7;
constexpr double NUMBER_MIN = 1.0;
constexpr double NUMBER_LIMIT = 1000000.0;

// What the failure message reports about the messages seen so far.
struct WaitTrace {
    int messages = 0;
    int previous_type = -1;
    unsigned long previous_length = 0;
    std::string command;
};

bool is_command(const RtmpMessage& m) {
    return m.type_id == RTMP_TYPE_AMF0_COMMAND || m.type_id == RTMP_TYPE_AMF3_COMMAND;
}

bool contains(std::span<const uint8_t> payload, std::string_view text) {
    if (text.empty()) return true;
    return std::search(payload.begin(), payload.end(), text.begin(), text.end()) != payload.end();
}

// The leading AMF0 string of a command, and where the value after it starts.
bool command_name(const RtmpMessage& m, std::string_view* name, size_t* after) {
    if (!is_command(m) || m.payload.size() <= 3) return false;
    size_t at = m.type_id == RTMP_TYPE_AMF3_COMMAND ? 1 : 0;
    std::span<const uint8_t> p = m.payload;
    if (at + 3 > p.size() || p[at] != 0x02) return false;
    size_t length = load_be(p.subspan(at + 1, 2));
    if (length >= COMMAND_NAME_LIMIT || at + 3 + length > p.size()) return false;
    *name = std::string_view(reinterpret_cast<const char*>(p.data() + at + 3), length);
    *after = at + 3 + length;
    return true;
}

// A reply to some other command than the one awaited (a server answering
// releaseStream or FCPublish, say), recognised by its transaction id.
bool answers_other_transaction(const RtmpMessage& m, double transaction) {
    std::string_view name;
    size_t at = 0;
    if (transaction == 0 || !command_name(m, &name, &at)) return false;
    if (name != "_result" && name != "_error") return false;
    ByteReader reader{m.payload, at};
    if (reader.be(1) != 0x00) return false;  // an AMF0 number follows
    double id = reader.be_double();
    return !reader.failed && id != transaction;
}

// Last number marker followed by a double in [1, 1000000); 0 when none.
// The search starts behind the transaction id when the reply has one: the
// id (4.0 for createStream) is itself in range, and taking it would turn a
// reply without a stream id into stream 4.
double last_plausible_number(const RtmpMessage& m) {
    std::span<const uint8_t> p = m.payload;
    std::string_view name;
    size_t after = 0;
    if (command_name(m, &name, &after) && after + 9 <= p.size() && p[after] == 0x00) {
        p = p.subspan(after + 9);
    }
    double found = 0.0;
    for (size_t i = 0; i + 9 <= p.size(); ++i) {
        if (p[i] != 0x00) continue;
        double value = std::bit_cast<double>(load_be(p.subspan(i + 1, 8)));
        if (value >= NUMBER_MIN && value < NUMBER_LIMIT) found = value;
    }
    return found;
}

// Command names come from the peer; keep the error text printable.
std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return out;
}

void handle_control(RtmpPublisher* p, const RtmpMessage& m) {
    if (m.type_id == RTMP_TYPE_SET_CHUNK_SIZE && m.payload.size() >= 4) {
        // A chunk size of 0 could never carry a byte; keep the one we have.
        if (auto size = static_cast<uint32_t>(load_be(std::span(m.payload).first(4))); size != 0) {
            p->inbound_chunk_size = size;
        }
    } else if (m.type_id == RTMP_TYPE_USER_CONTROL && m.payload.size() >= 6 &&
               load_be(std::span(m.payload).first(2)) == PING_REQUEST) {
        const uint8_t pong[6] = {0x00, PING_RESPONSE, m.payload[2], m.payload[3], m.payload[4], m.payload[5]};
        // An unanswered ping is the server's concern; the exchange goes on.
        (void)rtmp_send_message(p, RTMP_CHUNK_STREAM_CONTROL, RTMP_TYPE_USER_CONTROL, 0, 0, pong);
    }
}

bool is_awaited(const RtmpMessage& m, std::string_view expected) {
    return contains(m.payload, expected) ||
           (expected == "_result" && contains(m.payload, "NetConnection.Connect.Success"));
}

bool is_rejection(const RtmpMessage& m) {
    return m.type_id == RTMP_TYPE_AMF0_COMMAND &&
           (contains(m.payload, "_error") || contains(m.payload, "NetConnection.Connect.Rejected") ||
            contains(m.payload, "NetStream.Publish.BadName"));
}

}  // namespace

bool rtmp_wait_for_reply(RtmpPublisher* p, std::string_view expected, double transaction, double* number) {
    WaitTrace trace;
    for (int i = 0; i < RTMP_REPLY_MESSAGES_MAX; ++i) {
        RtmpMessage m;
        if (!rtmp_read_message(p, &m)) {
            // "winsock=" keeps the Windows build's wording, so both builds
            // report this failure with the same text; here it carries errno.
            rtmp_set_error(p, "RTMP server response failed (message=%d type=%d length=%lu command=%s winsock=%d)",
                           trace.messages, trace.previous_type, trace.previous_length, printable(trace.command).c_str(),
                           p->last_io_error);
            return false;
        }
        ++trace.messages;
        trace.previous_type = m.type_id;
        trace.previous_length = m.payload.size();
        std::string_view name;
        size_t after = 0;
        if (command_name(m, &name, &after)) trace.command = std::string(name);
        handle_control(p, m);
        if (!is_command(m) || answers_other_transaction(m, transaction)) continue;
        if (is_awaited(m, expected)) {
            if (number) *number = last_plausible_number(m);
            return true;
        }
        if (is_rejection(m)) {
            rtmp_set_error(p, "RTMP server rejected command");
            return false;
        }
    }
    rtmp_set_error(p, "RTMP response timed out");
    return false;
}
