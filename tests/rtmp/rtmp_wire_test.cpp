// Byte-exact outbound messages and inbound chunk reassembly, over a local
// socket pair (no server needed: the peer end is read or written directly).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <tuple>
#include <vector>

#include "rtmp/amf0_writer.h"
#include "rtmp/rtmp_chunk_reader.h"
#include "rtmp/rtmp_commands.h"
#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_message_writer.h"
#include "support/fake_rtmp_server.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A publisher on one end of a socket pair; the test holds the other end.
struct Wire {
    RtmpPublisherPtr publisher{rtmp_publisher_create(2000)};
    int peer = -1;

    Wire() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
        publisher->socket.fd = fds[0];
        peer = fds[1];
        int big = 1 << 20;
        setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        timeval tv{2, 0};
        setsockopt(fds[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Wire() {
        if (peer >= 0) close(peer);
    }
    // Everything written so far (non-blocking drain).
    Bytes drain() {
        Bytes out;
        uint8_t buffer[65536];
        for (;;) {
            ssize_t got = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got <= 0) return out;
            out.insert(out.end(), buffer, buffer + got);
        }
    }
    void feed(const Bytes& bytes) { ASSERT_EQ(send(peer, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
};

Bytes pattern(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 31 + 7);
    return out;
}

Bytes slice(const Bytes& b, size_t from, size_t n) {
    return Bytes(b.begin() + long(from), b.begin() + long(from + n));
}

}  // namespace

// Video on chunk stream 6, audio on 4, both on the publisher's stream. The
// 24-bit crossing: 0xFFFFFE still fits the header's field; from 0xFFFFFF on
// a 4-byte field follows the header and every continuation.
TEST(RtmpMessageWriter, PayloadIsChunkedAtTheOutboundSizeWithItsTimestamp) {
    for (auto [length, time] : {std::pair<size_t, uint32_t>{0, 40},
                                {1, 40},
                                {4096, 0xFFFFFE},
                                {4097, 0xFFFFFE},
                                {4097, 0xFFFFFF},
                                {8192, 0xFFFFFF},
                                {8193, 0xFFFFFFFF}}) {
        SCOPED_TRACE(testing::Message() << length << " at " << time);
        Wire w;
        w.publisher->outbound_chunk_size = 4096;
        w.publisher->stream_id = 0x01020304;
        Bytes payload = pattern(length);
        ASSERT_TRUE(rtmp_send_media(w.publisher.get(), RTMP_TYPE_VIDEO, time, payload));
        ASSERT_TRUE(rtmp_send_media(w.publisher.get(), RTMP_TYPE_AUDIO, 0x123456, payload));
        EXPECT_EQ(w.drain(), fake_cat({fake_rtmp_chunks(6, 9, 0x01020304, payload, 4096, time),
                                       fake_rtmp_chunks(4, 8, 0x01020304, payload, 4096, 0x123456)}));
    }
}

TEST(RtmpMessageWriter, ABatchIsTheSameBytesAsItsMessagesOneByOne) {
    // 20 messages (header storage is reused after 16) of up to 1000 bytes in
    // 128-byte chunks (more pieces than one gathered write holds).
    std::vector<Bytes> payloads(20);
    std::vector<RtmpMediaMessage> batch;
    Wire one_by_one, gathered;
    for (Wire* w : {&one_by_one, &gathered}) w->publisher->outbound_chunk_size = 128;
    for (uint32_t i = 0; i < 20; ++i) {
        payloads[i] = pattern(i * 50 + (i % 3));
        batch.push_back({uint8_t(i % 2 ? RTMP_TYPE_AUDIO : RTMP_TYPE_VIDEO), 0xFFFFF0 + i * 7, payloads[i]});
        ASSERT_TRUE(rtmp_send_media(one_by_one.publisher.get(), batch[i].type_id, batch[i].timestamp_ms, payloads[i]));
    }
    ASSERT_TRUE(rtmp_send_media_batch(gathered.publisher.get(), batch));
    EXPECT_EQ(gathered.drain(), one_by_one.drain());
}

TEST(RtmpMessageWriter, RefusesOversizeAndBadChunkStreamWithoutWriting) {
    Wire w;
    Bytes huge(16777216);
    EXPECT_FALSE(rtmp_send_message(w.publisher.get(), 6, 9, 1, 0, huge));
    EXPECT_FALSE(rtmp_send_message(w.publisher.get(), 64, 9, 1, 0, Bytes{1}));
    EXPECT_TRUE(w.drain().empty());
    char error[8];
    EXPECT_FALSE(rtmp_send_media(nullptr, 9, 0, Bytes{1}, error));
    EXPECT_STREQ(error, "RTMP se");
}

TEST(RtmpMessageWriter, SendToClosedPeerFailsWithoutSignal) {
    Wire w;
    close(w.peer);
    w.peer = -1;
    Bytes payload = pattern(100000);
    EXPECT_FALSE(rtmp_send_media(w.publisher.get(), RTMP_TYPE_VIDEO, 0, payload));
    EXPECT_FALSE(rtmp_send_media(w.publisher.get(), RTMP_TYPE_AUDIO, 0, payload));
}

// Many batches of gathered pieces through a small socket buffer: sends come
// back short at arbitrary points, inside headers and payload pieces alike.
TEST(RtmpMessageWriterThreads, ShortSendsResumeMidPiece) {
    Wire w;
    int small = 4096;
    setsockopt(w.publisher->socket.fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    w.publisher->outbound_chunk_size = 100;
    Bytes payload = pattern(300000);
    Bytes got;
    std::thread reader([&] {
        uint8_t buffer[777];
        ssize_t n;
        while ((n = recv(w.peer, buffer, sizeof buffer, 0)) > 0) got.insert(got.end(), buffer, buffer + n);
    });
    bool sent = rtmp_send_message(w.publisher.get(), 6, 9, 1, 0x01000000, payload);
    shutdown(w.publisher->socket.fd, SHUT_WR);
    reader.join();
    ASSERT_TRUE(sent);
    EXPECT_GT(w.publisher->write_steps, 1u);
    EXPECT_EQ(got, fake_rtmp_chunks(6, 9, 1, payload, 100, 0x01000000));
}

TEST(RtmpCommandPayload, ConnectMatchesTheWireTable) {
    RtmpUrl url;
    ASSERT_TRUE(rtmp_parse_url("rtmp://example.com/live/secret", &url));
    Amf0Writer w;
    ASSERT_TRUE(rtmp_build_connect(&w, url));
    FakeAmf expected;
    expected.string("connect").number(1).object_start().key("app").string("live").key("type").string("nonprivate");
    expected.key("tcUrl").string("rtmp://example.com:1935/live").key("flashVer");
    expected.string("FMLE/3.0 (compatible; Veltrona/1.0)").key("fpad").boolean(false).key("capabilities").number(15);
    expected.key("audioCodecs").number(4071).key("videoCodecs").number(252).object_end();
    EXPECT_EQ(Bytes(w.bytes().begin(), w.bytes().end()), expected.bytes);
}

TEST(RtmpCommandPayload, StreamCommandsAndAmfLimits) {
    Amf0Writer publish;
    ASSERT_TRUE(rtmp_build_publish(&publish, "k"));
    EXPECT_EQ(Bytes(publish.bytes().begin(), publish.bytes().end()),
              (Bytes{0x02, 0x00, 0x07, 'p',  'u',  'b',  'l',  'i', 's',  'h',  0x00, 0x40, 0x14, 0,   0,  0,
                     0,    0,    0,    0x05, 0x02, 0x00, 0x01, 'k', 0x02, 0x00, 0x04, 'l',  'i',  'v', 'e'}));
    Amf0Writer big;
    EXPECT_TRUE(amf0_write_string(&big, std::string(65535, 'x')));
    size_t length = big.data.size();
    EXPECT_FALSE(amf0_write_string(&big, std::string(65536, 'x')));
    EXPECT_EQ(big.data.size(), length);
}

TEST(RtmpChunkReader, ReassemblesInterleavedChunkStreams) {
    Wire w;
    Bytes a = pattern(300), b = pattern(200);
    // a on csid 3 and b on csid 5, 128-byte chunks (a 12-byte header, then 1-byte ones), alternating.
    Bytes ca = fake_rtmp_chunks(3, 20, 0, a, 128, 10), cb = fake_rtmp_chunks(5, 18, 1, b, 128, 20);
    w.feed(
        fake_cat({slice(ca, 0, 140), slice(cb, 0, 140), slice(ca, 140, 129), slice(cb, 140, 73), slice(ca, 269, 45)}));
    // Type, stream, time and payload of each message, the first completed first.
    std::vector<std::tuple<uint8_t, uint32_t, uint32_t, Bytes>> got;
    for (RtmpMessage m; got.size() < 2 && rtmp_read_message(w.publisher.get(), &m);) {
        got.emplace_back(m.type_id, m.message_stream_id, m.timestamp, Bytes(m.payload.begin(), m.payload.end()));
    }
    EXPECT_EQ(got, (decltype(got){{18, 1, 20, b}, {20, 0, 10, a}}));
}

TEST(RtmpChunkReader, CompressedHeadersAndExtendedTimestamps) {
    Wire w;
    Bytes one = {1, 2, 3};
    Bytes fmt1 = {0x44, 0x00, 0x00, 0x05, 0x00, 0x00, 0x02, 0x09};                // csid 4, delta 5, length 2, type 9
    Bytes fmt2 = {0x84, 0x00, 0x00, 0x07};                                        // delta 7, same length and type
    Bytes fmt0_ext = fake_rtmp_chunks(6, 8, 1, Bytes{5, 6, 7}, 128, 0x01000000);  // 0xFFFFFF, then the 4-byte field
    // Times 100, 100 (fmt 3 repeats), 105, 112, then a 4-byte field read.
    w.feed(fake_cat({fake_rtmp_chunks(4, 8, 1, one, 128, 100), {0xC4}, one, fmt1, {9, 9}, fmt2, {8, 8}, fmt0_ext}));
    std::vector<std::pair<uint32_t, size_t>> got;
    for (RtmpMessage m; got.size() < 5 && rtmp_read_message(w.publisher.get(), &m);)
        got.emplace_back(m.timestamp, m.payload.size());
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, size_t>>{{100, 3}, {100, 3}, {105, 2}, {112, 2}, {0x01000000, 3}}));
}

TEST(RtmpChunkReader, RejectsWideChunkStreamIdsAndShortInput) {
    for (Bytes basic : {Bytes{0x00, 0x00}, Bytes{0x01, 0x10, 0x00}}) {
        Wire w;
        w.feed(fake_cat({basic, fake_rtmp_chunks(0, 20, 0, Bytes{0})}));
        RtmpMessage m;
        EXPECT_FALSE(rtmp_read_message(w.publisher.get(), &m));
        EXPECT_EQ(w.publisher->last_io_error, 0);
    }
    Wire w;
    Bytes cut = fake_rtmp_chunks(3, 20, 0, Bytes(10, 1));
    cut[4] = cut[5] = cut[6] = 0xFF;  // 16 MiB announced, 10 bytes, then the close
    w.feed(cut);
    shutdown(w.peer, SHUT_WR);
    RtmpMessage m;
    EXPECT_FALSE(rtmp_read_message(w.publisher.get(), &m));
    EXPECT_LT(w.publisher->inbound[3].buffer.capacity(), 4096u);
}
