// The connection and command exchange against a scripted server: the polite
// path byte for byte, and the misbehaving peers (wrong handshake, silence,
// odd chunking, pings, rejections, early close, endless chatter).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "rtmp/amf0_writer.h"
#include "rtmp/rtmp_commands.h"
#include "rtmp/rtmp_publisher.h"
#include "rtmp/rtmp_url.h"
#include "support/fake_rtmp_server.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string KEY = "SECRETKEY";
constexpr size_t HANDSHAKE_BYTES = 1537 + 1536;

// rtmp_open expected to fail: its message (compared whole, so never with the key).
std::string open_error(const std::string& url) {
    char error[256] = "untouched";
    EXPECT_FALSE(RtmpPublisherPtr(rtmp_open(url, 5000, error)));
    return error;
}

// Runs `script` as the server and opens against it.
struct Exchange {
    FakeRtmpServer server;
    std::string error;
    RtmpPublisherPtr publisher;

    void run(FakeRtmpServer::Script script, uint32_t timeout_ms = 5000) {
        ASSERT_TRUE(server.start(std::move(script)));
        char text[256] = "";
        publisher.reset(rtmp_open(server.url("live/" + KEY), timeout_ms, text));
        error = text;
        EXPECT_EQ(error.find(KEY), std::string::npos);
    }
    void end() {
        publisher.reset();
        server.join();
    }
};

}  // namespace

TEST(RtmpExchangeThreads, PolitePublishIsByteExact) {
    Exchange x;
    x.run([](FakeRtmpPeer& peer) {
        if (fake_rtmp_accept_publish(peer) && peer.read_message()) peer.wait_for_close();
    });
    ASSERT_NE(x.publisher, nullptr) << x.error;
    EXPECT_EQ(x.publisher->stream_id, 1u);
    EXPECT_TRUE(rtmp_send_media(x.publisher.get(), RTMP_TYPE_VIDEO, 0, Bytes(5000, 0x17)));
    x.end();
    const FakeRtmpPeer& peer = x.server.peer;
    EXPECT_TRUE(peer.c2_echoed_s1);
    ASSERT_GT(peer.received.size(), HANDSHAKE_BYTES + 16);
    EXPECT_EQ(peer.received[0], 3);
    Bytes set_chunk(peer.received.begin() + HANDSHAKE_BYTES, peer.received.begin() + HANDSHAKE_BYTES + 16);
    EXPECT_EQ(set_chunk, (Bytes{0x02, 0, 0, 0, 0, 0, 4, 0x01, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0x00}));

    RtmpUrl url;
    ASSERT_TRUE(rtmp_parse_url(x.server.url("live/" + KEY), &url));
    Amf0Writer connect;
    ASSERT_TRUE(rtmp_build_connect(&connect, url));
    size_t n = connect.data.size();
    Bytes whole_connect = fake_cat({{0x03, 0, 0, 0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 20, 0, 0, 0, 0},
                                    Bytes(connect.bytes().begin(), connect.bytes().end())});
    EXPECT_TRUE(std::equal(whole_connect.begin(), whole_connect.end(), peer.received.begin() + HANDSHAKE_BYTES + 16));

    // Each message as "chunk-stream type stream", then its command name or payload size.
    std::vector<std::string> seen;
    for (const FakeRtmpMessage& m : peer.messages) {
        seen.push_back(std::to_string(m.chunk_stream_id) + " " + std::to_string(m.type_id) + " " +
                       std::to_string(m.message_stream_id) + " " +
                       (m.type_id == 20 ? std::string(m.payload.begin() + 3, m.payload.begin() + 3 + m.payload[2])
                                        : std::to_string(m.payload.size())));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"2 1 0 4", "3 20 0 connect", "3 20 0 releaseStream", "3 20 0 FCPublish",
                                              "3 20 0 createStream", "8 20 1 publish", "6 9 1 5000"}));
    EXPECT_EQ(peer.messages.back().payload, Bytes(5000, 0x17));
}

TEST(RtmpExchangeThreads, ConnectionAndUrlFailures) {
    uint16_t closed_port;
    {
        FakeRtmpServer server;  // bound and released: nothing listens there any more
        ASSERT_TRUE(server.start([](FakeRtmpPeer&) {}, 1));
        closed_port = server.port;
    }
    EXPECT_EQ(open_error("rtmp://127.0.0.1:" + std::to_string(closed_port) + "/live/" + KEY),
              "RTMP/RTMPS connection failed");
    EXPECT_EQ(open_error("rtmp://127.0.0.1/live/"), "invalid RTMP/RTMPS URL");
    EXPECT_EQ(open_error("http://127.0.0.1/live/" + KEY), "invalid RTMP/RTMPS URL");
    EXPECT_EQ(rtmp_open("rtmp://h/a", 1000, {}), nullptr);
    rtmp_close(nullptr);
}

// The connect answer, then (when given) the createStream and publish
// answers; empty replies stand for the polite ones.
FakeRtmpServer::Script answers(Bytes connect_reply, Bytes create_reply = {}, Bytes publish_reply = {}) {
    return [=](FakeRtmpPeer& peer) {
        if (!peer.handshake() || !peer.read_command("connect") ||
            !peer.send(fake_rtmp_chunks(3, 20, 0, connect_reply.empty() ? fake_rtmp_connect_result() : connect_reply)))
            return;
        if (!create_reply.empty() &&
            (!peer.read_command("createStream") || !peer.send(fake_rtmp_chunks(3, 20, 0, create_reply))))
            return;
        if (!publish_reply.empty() &&
            (!peer.read_command("publish") || !peer.send(fake_rtmp_chunks(5, 20, 1, publish_reply))))
            return;
        peer.wait_for_close();
    };
}

// After the handshake and the client's connect: `after_connect` goes out,
// then the rest of a polite publish when `finish` is set.
FakeRtmpServer::Script after_connect(Bytes bytes, bool finish, uint32_t chunk_size = 128) {
    return [=](FakeRtmpPeer& peer) {
        if (!peer.handshake() || !peer.read_command("connect") || !peer.send(bytes)) return;
        if (!finish || fake_rtmp_finish_publish(peer, fake_rtmp_create_result(3), chunk_size)) peer.wait_for_close();
    };
}

Bytes interleaved_connect_answer() {
    Bytes answer = fake_rtmp_chunks(3, 20, 0, fake_rtmp_connect_result(), 40);
    Bytes other = fake_rtmp_chunks(7, 18, 0, FakeAmf().string("onMetaData").string(std::string(70, 'x')).bytes, 40);
    // answer: 12 + 40, then 41-byte pieces; other: 12 + 40, then 41 + 4.
    return fake_cat({fake_rtmp_control(1, fake_rtmp_u32(40)), Bytes(answer.begin(), answer.begin() + 52),
                     Bytes(other.begin(), other.begin() + 52), Bytes(answer.begin() + 52, answer.begin() + 93),
                     Bytes(other.begin() + 52, other.end()), Bytes(answer.begin() + 93, answer.end())});
}

TEST(RtmpExchangeThreads, ServersThatBendOrBreakTheExchange) {
    Bytes status_success = fake_rtmp_status("onStatus", "NetConnection.Connect.Success");
    Bytes rejected = fake_rtmp_status("_error", "NetConnection.Connect.Rejected");
    Bytes bad_name = fake_rtmp_status("onStatus", "NetStream.Publish.BadName");
    Bytes bw_done = FakeAmf().string("onBWDone").number(0).null().bytes;
    // Bandwidth messages, a ping and a chunk size of 60 before the answer.
    Bytes controls = fake_cat(
        {fake_rtmp_control(5, fake_rtmp_u32(2500000)), fake_rtmp_control(6, fake_cat({fake_rtmp_u32(2500000), {0x02}})),
         fake_rtmp_control(4, Bytes{0x00, 0x06, 0xDE, 0xAD, 0xBE, 0xEF}), fake_rtmp_control(1, fake_rtmp_u32(60)),
         fake_rtmp_chunks(3, 20, 0, fake_rtmp_connect_result(), 60)});
    auto wrong_version = [](FakeRtmpPeer& peer) { return peer.handshake(6) && peer.wait_for_close(); };
    auto close_after_connect = [](FakeRtmpPeer& peer) {
        if (peer.handshake() && peer.read_command("connect")) peer.close();
    };
    auto command = [](const Bytes& amf) { return fake_rtmp_chunks(3, 20, 0, amf); };
    // 0x00 0x00: a basic header naming chunk stream 64, then an 11-byte header.
    const Bytes two_byte_csid =
        fake_cat({command(bw_done), fake_rtmp_control(5, fake_rtmp_u32(5000000)), Bytes(13, 0)});
    const Bytes other_transactions = fake_cat(
        {command(fake_rtmp_connect_result()), command(FakeAmf().string("_result").number(2).null().number(7).bytes),
         command(FakeAmf().string("_error").number(3).null().string("no stream").bytes)});
    Bytes chatter;  // 100 messages without the answer; the 101st is never read
    for (int i = 0; i < 100; ++i) chatter = fake_cat({chatter, command(bw_done)});
    chatter = fake_cat({chatter, command(fake_rtmp_connect_result())});
    struct Case {
        const char* name;
        FakeRtmpServer::Script script;
        std::string error;  // empty: the publish succeeds on stream 3
        uint32_t timeout_ms = 5000;
        int pings = 0;  // ping requests the server sent, each to be answered
    };
    const Case cases[] = {
        {"wrong handshake version", wrong_version, "RTMP handshake failed"},
        {"silent server", [](FakeRtmpPeer& peer) { peer.wait_for_close(); }, "RTMP handshake failed", 300},
        {"control messages and a ping before the answer", after_connect(controls, true, 60), "", 5000, 1},
        {"answer split across interleaved chunk streams", after_connect(interleaved_connect_answer(), true, 40), ""},
        {"connect success as a status", after_connect(command(status_success), true), ""},
        {"replies to other transactions", after_connect(other_transactions, true), ""},
        {"connect refused", answers(rejected), "RTMP server rejected command"},
        {"publish bad name", answers({}, fake_rtmp_create_result(1), bad_name), "RTMP server rejected command"},
        {"stream id zero", answers({}, fake_rtmp_create_result(0)), "RTMP/RTMPS connection failed"},
        {"no stream id", answers({}, FakeAmf().string("_result").number(4).null().bytes),
         "RTMP/RTMPS connection failed"},
        {"close after connect", close_after_connect,
         "RTMP server response failed (message=0 type=-1 length=0 command= winsock=0)"},
        {"two-byte chunk stream id after one command and one control message", after_connect(two_byte_csid, false),
         "RTMP server response failed (message=2 type=5 length=4 command=onBWDone winsock=0)"},
        {"hundred messages without the answer", after_connect(chatter, false), "RTMP response timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange x;
        x.run(c.script, c.timeout_ms);
        EXPECT_EQ(std::tuple(x.error, x.publisher != nullptr), std::tuple(c.error, c.error.empty()));
        if (!x.publisher) continue;
        EXPECT_EQ(x.publisher->stream_id, 3u);
        x.end();
        EXPECT_EQ(x.server.peer.messages.back().message_stream_id, 3u);
        // Each ping answered on the control stream.
        std::vector<std::tuple<uint8_t, uint32_t, Bytes>> answers;
        for (const FakeRtmpMessage& m : x.server.peer.messages) {
            if (m.type_id == 4) answers.emplace_back(m.chunk_stream_id, m.message_stream_id, m.payload);
        }
        EXPECT_EQ(answers, decltype(answers)(c.pings, {2, 0, Bytes{0x00, 0x07, 0xDE, 0xAD, 0xBE, 0xEF}}));
    }
}
