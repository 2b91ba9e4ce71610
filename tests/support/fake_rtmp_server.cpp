// Scripted loopback RTMP server. One connection, one script, one thread;
// every blocking step is a poll() bounded by the peer's wait_ms.
#include "support/fake_rtmp_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/text/byte_order.h"
#include "platform/time/clock.h"
#include "support/loopback.h"

void fake_put_be(std::vector<uint8_t>& out, uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool FakeRtmpPeer::send(std::span<const uint8_t> bytes) {
    return send_all(fd, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

bool FakeRtmpPeer::read_exact(size_t count, std::vector<uint8_t>* out) {
    uint64_t deadline = tick_ms() + wait_ms;
    std::vector<uint8_t> bytes(count);
    for (size_t done = 0; done < count;) {
        ssize_t got = wait_readable(fd, deadline) ? recv(fd, bytes.data() + done, count - done, 0) : 0;
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    received.insert(received.end(), bytes.begin(), bytes.end());
    if (out) *out = std::move(bytes);
    return true;
}

bool FakeRtmpPeer::handshake(uint8_t s0) {
    std::vector<uint8_t> c0c1, c2, reply{s0};
    if (!read_exact(1537, &c0c1)) return false;
    for (size_t i = 0; i < 1536; ++i) reply.push_back(static_cast<uint8_t>(i * 7 + 1));  // S1
    reply.insert(reply.end(), c0c1.begin() + 1, c0c1.end());                             // S2
    if (!send(reply)) return false;
    if (s0 != 3) return true;
    if (!read_exact(1536, &c2)) return false;
    c2_echoed_s1 = std::equal(c2.begin(), c2.end(), reply.begin() + 1);
    return true;
}

bool FakeRtmpPeer::read_message(FakeRtmpMessage* out) {
    for (std::vector<uint8_t> b;;) {
        if (!read_exact(1, &b)) return false;
        unsigned format = b[0] >> 6, csid = b[0] & 0x3F;
        if (csid < 2 || format == 1 || format == 2) return false;  // the publisher never sends these
        Partial& s = partial_[csid];
        if (format == 0) {
            if (!read_exact(11, &b)) return false;
            auto timestamp = static_cast<uint32_t>(load_be({&b[0], 3}));
            s = {{static_cast<uint8_t>(csid), b[6], timestamp, load_le32(std::span<const uint8_t, 4>(&b[7], 4)), {}},
                 static_cast<uint32_t>(load_be({&b[3], 3})),
                 timestamp == 0xFFFFFF};
        }
        if (s.extended) {
            if (!read_exact(4, &b)) return false;
            s.message.timestamp = static_cast<uint32_t>(load_be(b));
        }
        if (!read_exact(std::min<size_t>(s.length - s.message.payload.size(), client_chunk_size), &b)) return false;
        s.message.payload.insert(s.message.payload.end(), b.begin(), b.end());
        if (s.message.payload.size() < s.length) continue;
        FakeRtmpMessage done = std::exchange(s.message, {});
        if (done.type_id == 1 && done.payload.size() >= 4) {
            client_chunk_size = static_cast<uint32_t>(load_be({done.payload.data(), 4}));
        }
        messages.push_back(done);
        if (out) *out = std::move(done);
        return true;
    }
}

bool FakeRtmpPeer::read_command(std::string_view name, FakeRtmpMessage* out) {
    std::vector<uint8_t> wanted = FakeAmf().string(name).bytes;
    for (FakeRtmpMessage m; read_message(&m);) {
        if (m.type_id == 20 && m.payload.size() >= wanted.size() &&
            std::equal(wanted.begin(), wanted.end(), m.payload.begin())) {
            if (out) *out = std::move(m);
            return true;
        }
    }
    return false;
}

bool FakeRtmpPeer::wait_for_close() {
    uint64_t deadline = tick_ms() + wait_ms;
    uint8_t scratch[4096];
    while (wait_readable(fd, deadline)) {
        ssize_t got = recv(fd, scratch, sizeof scratch, 0);
        if (got <= 0) return true;
        received.insert(received.end(), scratch, scratch + got);
    }
    return false;
}

void FakeRtmpPeer::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool FakeRtmpServer::start(Script script, uint32_t wait_ms) {
    listener_ = loopback_listen(&port, 4);
    peer.wait_ms = wait_ms;
    if (listener_ < 0) return false;
    thread_ = std::thread([this, script = std::move(script)] {
        if (!wait_readable(listener_, tick_ms() + peer.wait_ms)) return;
        peer.fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer.fd >= 0) script(peer);
    });
    return true;
}

void FakeRtmpServer::join() {
    if (thread_.joinable()) thread_.join();
    peer.close();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
}

std::vector<uint8_t> fake_rtmp_chunks(uint8_t csid, uint8_t type_id, uint32_t msid, std::span<const uint8_t> payload,
                                      uint32_t chunk_size, uint32_t timestamp) {
    std::vector<uint8_t> out{csid}, extended;
    if (timestamp >= 0xFFFFFF) fake_put_be(extended, timestamp, 4);
    fake_put_be(out, extended.empty() ? timestamp : 0xFFFFFF, 3);
    fake_put_be(out, payload.size(), 3);
    out.push_back(type_id);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(msid >> (8 * i)));
    out.insert(out.end(), extended.begin(), extended.end());
    for (size_t offset = 0; offset < payload.size(); offset += chunk_size) {
        if (offset > 0) out.push_back(static_cast<uint8_t>(0xC0 | csid));
        if (offset > 0) out.insert(out.end(), extended.begin(), extended.end());
        std::span<const uint8_t> piece = payload.subspan(offset, std::min<size_t>(chunk_size, payload.size() - offset));
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

std::vector<uint8_t> fake_rtmp_connect_result() {
    FakeAmf a;
    a.string("_result").number(1).object_start().key("fmsVer").string("FMS/3,0,1,123").object_end();
    return a.object_start().key("code").string("NetConnection.Connect.Success").object_end().bytes;
}

std::vector<uint8_t> fake_rtmp_status(const char* name, const char* code) {
    FakeAmf a;
    a.string(name).number(name[0] == '_' ? 1 : 0).null().object_start().key("code").string(code).object_end();
    return a.bytes;
}

std::vector<uint8_t> fake_rtmp_create_result(double stream_id) {
    return FakeAmf().string("_result").number(4).null().number(stream_id).bytes;
}

bool fake_rtmp_finish_publish(FakeRtmpPeer& peer, std::span<const uint8_t> create_reply, uint32_t chunk_size) {
    return peer.read_command("createStream") && peer.send(fake_rtmp_chunks(3, 20, 0, create_reply, chunk_size)) &&
           peer.read_command("publish") &&
           peer.send(fake_rtmp_chunks(5, 20, 1, fake_rtmp_status("onStatus", "NetStream.Publish.Start"), chunk_size));
}

bool fake_rtmp_accept_publish(FakeRtmpPeer& peer) {
    return peer.handshake() && peer.read_command("connect") &&
           peer.send(fake_rtmp_chunks(3, 20, 0, fake_rtmp_connect_result())) &&
           fake_rtmp_finish_publish(peer, fake_rtmp_create_result(1));
}

void fake_rtmp_accept_and_record(FakeRtmpPeer& peer) {
    for (bool open = fake_rtmp_accept_publish(peer); open;) open = peer.read_message();
}

bool is_sequence_header(const FakeRtmpMessage& m) {
    return m.payload.size() >= 2 && m.payload[1] == 0 &&
           ((m.type_id == 9 && m.payload[0] == 0x17) || (m.type_id == 8 && (m.payload[0] & 0xF0) == 0xA0));
}

std::vector<size_t> check_loop_passes(const std::vector<FakeRtmpMessage>& messages) {
    std::vector<size_t> passes;
    uint32_t highest = 0;
    std::map<uint8_t, uint32_t> last_of_type;
    for (const FakeRtmpMessage& m : messages) {
        if (m.type_id != 8 && m.type_id != 9) continue;
        if (m.type_id == 9 && is_sequence_header(m)) {
            EXPECT_TRUE(passes.empty() || m.timestamp == highest + 1)
                << "pass " << passes.size() << " at " << m.timestamp;
            passes.push_back(0);
        } else if (m.type_id == 9 && !passes.empty()) {
            ++passes.back();
        }
        EXPECT_GE(m.timestamp, last_of_type[m.type_id]);
        last_of_type[m.type_id] = m.timestamp;
        highest = std::max(highest, m.timestamp);
    }
    return passes;
}
