// Scripted loopback RTMP server. One connection, one script, one thread;
// every blocking step is a poll() bounded by the peer's wait_ms.
#include "support/fake_rtmp_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

#include "platform/clock.h"
#include "support/loopback.h"

namespace {

void put_be(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t be(const uint8_t* b, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | b[i];
    return value;
}

}  // namespace

bool FakeRtmpPeer::send(std::span<const uint8_t> bytes) {
    return send_all(fd, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

bool FakeRtmpPeer::read_exact(size_t count, std::vector<uint8_t>* out) {
    uint64_t deadline = tick_ms() + wait_ms;
    std::vector<uint8_t> bytes(count);
    size_t done = 0;
    while (done < count) {
        if (!wait_readable(fd, deadline)) return false;
        ssize_t got = recv(fd, bytes.data() + done, count - done, 0);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    received.insert(received.end(), bytes.begin(), bytes.end());
    if (out) *out = std::move(bytes);
    return true;
}

bool FakeRtmpPeer::handshake(uint8_t s0) {
    std::vector<uint8_t> c0c1, c2;
    if (!read_exact(1537, &c0c1)) return false;
    std::vector<uint8_t> reply;
    reply.push_back(s0);
    for (size_t i = 0; i < 1536; ++i) reply.push_back(static_cast<uint8_t>(i * 7 + 1));  // S1
    reply.insert(reply.end(), c0c1.begin() + 1, c0c1.end());                             // S2
    if (!send(reply)) return false;
    if (s0 != 3) return true;
    if (!read_exact(1536, &c2)) return false;
    c2_echoed_s1 = std::equal(c2.begin(), c2.end(), reply.begin() + 1);
    return true;
}

bool FakeRtmpPeer::read_message(FakeRtmpMessage* out) {
    for (;;) {
        std::vector<uint8_t> b;
        if (!read_exact(1, &b)) return false;
        unsigned format = b[0] >> 6, csid = b[0] & 0x3F;
        if (csid < 2 || format == 1 || format == 2) return false;  // the publisher never sends these
        Partial& s = partial_[csid];
        if (format == 0) {
            std::vector<uint8_t> h;
            if (!read_exact(11, &h)) return false;
            s.message = FakeRtmpMessage{};
            s.message.chunk_stream_id = static_cast<uint8_t>(csid);
            s.message.timestamp = be(&h[0], 3);
            s.length = be(&h[3], 3);
            s.message.type_id = h[6];
            uint32_t le = 0;
            for (int i = 3; i >= 0; --i) le = (le << 8) | h[7 + i];
            s.message.message_stream_id = le;
            s.extended = s.message.timestamp == 0xFFFFFF;
        }
        if (s.extended) {
            std::vector<uint8_t> ext;
            if (!read_exact(4, &ext)) return false;
            s.message.timestamp = be(ext.data(), 4);
        }
        size_t piece = std::min<size_t>(s.length - s.message.payload.size(), client_chunk_size);
        std::vector<uint8_t> bytes;
        if (!read_exact(piece, &bytes)) return false;
        s.message.payload.insert(s.message.payload.end(), bytes.begin(), bytes.end());
        if (s.message.payload.size() < s.length) continue;
        FakeRtmpMessage done = std::move(s.message);
        s.message = FakeRtmpMessage{};
        if (done.type_id == 1 && done.payload.size() >= 4) client_chunk_size = be(done.payload.data(), 4);
        messages.push_back(done);
        if (out) *out = std::move(done);
        return true;
    }
}

bool FakeRtmpPeer::read_command(std::string_view name, FakeRtmpMessage* out) {
    FakeRtmpMessage m;
    while (read_message(&m)) {
        if (m.type_id != 20 || m.payload.size() < 3 + name.size()) continue;
        if (m.payload[0] == 0x02 && be(&m.payload[1], 2) == name.size() &&
            std::memcmp(&m.payload[3], name.data(), name.size()) == 0) {
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
    if (listener_ < 0) return false;
    peer.wait_ms = wait_ms;
    thread_ = std::thread([this, script = std::move(script)] {
        if (!wait_readable(listener_, tick_ms() + peer.wait_ms)) return;
        peer.fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer.fd < 0) return;
        accepted = true;
        script(peer);
    });
    return true;
}

void FakeRtmpServer::join() {
    if (thread_.joinable()) thread_.join();
    peer.close();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
}

std::string FakeRtmpServer::url(const std::string& path) const {
    return "rtmp://127.0.0.1:" + std::to_string(port) + "/" + path;
}

std::vector<uint8_t> fake_rtmp_chunks(uint8_t csid, uint8_t type_id, uint32_t msid, std::span<const uint8_t> payload,
                                      uint32_t chunk_size) {
    std::vector<uint8_t> out;
    out.push_back(csid);
    put_be(out, 0, 3);
    put_be(out, payload.size(), 3);
    out.push_back(type_id);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(msid >> (8 * i)));
    for (size_t offset = 0; offset < payload.size(); offset += chunk_size) {
        if (offset > 0) out.push_back(static_cast<uint8_t>(0xC0 | csid));
        size_t piece = std::min<size_t>(chunk_size, payload.size() - offset);
        out.insert(out.end(), payload.begin() + static_cast<long>(offset),
                   payload.begin() + static_cast<long>(offset + piece));
    }
    return out;
}

FakeAmf& FakeAmf::string(std::string_view text) {
    bytes.push_back(0x02);
    return key(text);
}
FakeAmf& FakeAmf::number(double value) {
    bytes.push_back(0x00);
    put_be(bytes, std::bit_cast<uint64_t>(value), 8);
    return *this;
}
FakeAmf& FakeAmf::null() {
    bytes.push_back(0x05);
    return *this;
}
FakeAmf& FakeAmf::object_start() {
    bytes.push_back(0x03);
    return *this;
}
FakeAmf& FakeAmf::key(std::string_view name) {
    put_be(bytes, name.size(), 2);
    bytes.insert(bytes.end(), name.begin(), name.end());
    return *this;
}
FakeAmf& FakeAmf::object_end() {
    put_be(bytes, 9, 3);
    return *this;
}

std::vector<uint8_t> fake_rtmp_control(uint8_t type_id, std::span<const uint8_t> payload) {
    return fake_rtmp_chunks(2, type_id, 0, payload);
}

std::vector<uint8_t> fake_rtmp_u32(uint32_t value) {
    std::vector<uint8_t> out;
    put_be(out, value, 4);
    return out;
}

bool fake_rtmp_accept_publish(FakeRtmpPeer& peer, double stream_id) {
    FakeAmf connected, created, started;
    connected.string("_result").number(1).object_start().key("fmsVer").string("FMS/3,0,1,123").object_end();
    connected.object_start().key("code").string("NetConnection.Connect.Success").object_end();
    created.string("_result").number(4).null().number(stream_id);
    started.string("onStatus").number(0).null().object_start().key("code").string("NetStream.Publish.Start");
    started.object_end();
    return peer.handshake() && peer.read_command("connect") && peer.send(fake_rtmp_chunks(3, 20, 0, connected.bytes)) &&
           peer.read_command("createStream") && peer.send(fake_rtmp_chunks(3, 20, 0, created.bytes)) &&
           peer.read_command("publish") &&
           peer.send(fake_rtmp_chunks(5, 20, static_cast<uint32_t>(stream_id), started.bytes));
}

void fake_rtmp_accept_and_record(FakeRtmpPeer& peer) {
    if (!fake_rtmp_accept_publish(peer)) return;
    while (peer.read_message()) {
    }
}

bool is_sequence_header(const FakeRtmpMessage& m) {
    return m.payload.size() >= 2 && m.payload[1] == 0 &&
           ((m.type_id == 9 && m.payload[0] == 0x17) || (m.type_id == 8 && (m.payload[0] & 0xF0) == 0xA0));
}

size_t check_loop_passes(const std::vector<FakeRtmpMessage>& messages) {
    size_t passes = 0;
    uint32_t highest = 0;
    std::map<uint8_t, uint32_t> last_of_type;
    for (const FakeRtmpMessage& m : messages) {
        if (m.type_id != 8 && m.type_id != 9) continue;
        if (m.type_id == 9 && is_sequence_header(m)) {
            EXPECT_TRUE(passes == 0 || m.timestamp == highest + 1) << "pass " << passes << " at " << m.timestamp;
            ++passes;
        }
        EXPECT_GE(m.timestamp, last_of_type[m.type_id]);
        last_of_type[m.type_id] = m.timestamp;
        highest = std::max(highest, m.timestamp);
    }
    return passes;
}
