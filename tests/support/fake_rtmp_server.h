// A scripted RTMP server on loopback, for the misbehaving peers a real
// server will not play (wrong handshake, silence, odd chunking, rejections).
// start() binds 127.0.0.1 on a free port and runs the script on a thread of
// its own against the first connection accepted; the script reads and sends
// raw bytes through FakeRtmpPeer or the small RTMP helpers below. Every wait
// is bounded by `wait_ms`; join() (also run by the destructor) waits for the
// script and closes both sockets. What the script saves in the peer is read
// by the test only after join().
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One whole message as the client sent it.
struct FakeRtmpMessage {
    uint8_t chunk_stream_id = 0;
    uint8_t type_id = 0;
    uint32_t timestamp = 0;
    uint32_t message_stream_id = 0;
    std::vector<uint8_t> payload;
};

class FakeRtmpPeer {
  public:
    int fd = -1;
    uint32_t wait_ms = 10000;
    uint32_t client_chunk_size = 128;       // follows the client's Set Chunk Size
    std::vector<uint8_t> received;          // every byte read from the client, in order
    std::vector<FakeRtmpMessage> messages;  // every message read_message returned
    bool c2_echoed_s1 = false;

    bool send(std::span<const uint8_t> bytes);
    bool read_exact(size_t count, std::vector<uint8_t>* out = nullptr);
    // Reads C0+C1, sends `s0` + S1 + S2, reads C2 (unless s0 is not 3).
    bool handshake(uint8_t s0 = 3);
    // Parses the client's chunks (format 0 and 3, as the publisher sends) into
    // the next whole message.
    bool read_message(FakeRtmpMessage* out = nullptr);
    // Reads messages until an AMF0 command named `name`.
    bool read_command(std::string_view name, FakeRtmpMessage* out = nullptr);
    // True when the client closes the connection within wait_ms.
    bool wait_for_close();
    void close();  // the server's orderly close, now

  private:
    struct Partial {
        FakeRtmpMessage message;
        uint32_t length = 0;
        bool extended = false;
    };
    Partial partial_[64];
};

class FakeRtmpServer {
  public:
    using Script = std::function<void(FakeRtmpPeer&)>;
    ~FakeRtmpServer() { join(); }

    bool start(Script script, uint32_t wait_ms = 10000);
    void join();
    std::string url(const std::string& path = "live/key") const {  // rtmp://127.0.0.1:PORT/<path>
        return "rtmp://127.0.0.1:" + std::to_string(port) + "/" + path;
    }

    uint16_t port = 0;
    FakeRtmpPeer peer;  // read after join()

  private:
    int listener_ = -1;
    std::thread thread_;
};

// A message cut into format-0 + format-3 chunks of `chunk_size`, as a server
// sends it; from 0xFFFFFF on, the time goes in a 4-byte field after every
// one of those headers.
std::vector<uint8_t> fake_rtmp_chunks(uint8_t chunk_stream_id, uint8_t type_id, uint32_t message_stream_id,
                                      std::span<const uint8_t> payload, uint32_t chunk_size = 128,
                                      uint32_t timestamp = 0);
// `value` as `size` bytes, big-endian, appended to `out`.
void fake_put_be(std::vector<uint8_t>& out, uint64_t value, int size);
// The parts one after another.
inline std::vector<uint8_t> fake_cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// AMF0 values for scripted replies.
struct FakeAmf {
    std::vector<uint8_t> bytes;
    FakeAmf& string(std::string_view text) { return marker(0x02).key(text); }
    FakeAmf& number(double value) { return marker(0x00).be(std::bit_cast<uint64_t>(value), 8); }
    FakeAmf& null() { return marker(0x05); }
    FakeAmf& boolean(bool value) { return marker(0x01).be(value, 1); }
    FakeAmf& object_start() { return marker(0x03); }
    FakeAmf& key(std::string_view name) {
        be(name.size(), 2).bytes.insert(bytes.end(), name.begin(), name.end());
        return *this;
    }
    FakeAmf& object_end() { return be(9, 3); }

  private:
    FakeAmf& marker(uint8_t type) { return be(type, 1); }
    FakeAmf& be(uint64_t value, int size) {
        fake_put_be(bytes, value, size);
        return *this;
    }
};

// Control messages a server sends (chunk stream 2, message stream 0).
inline std::vector<uint8_t> fake_rtmp_control(uint8_t type_id, std::span<const uint8_t> payload) {
    return fake_rtmp_chunks(2, type_id, 0, payload);
}
inline std::vector<uint8_t> fake_rtmp_u32(uint32_t value) {
    std::vector<uint8_t> out;
    fake_put_be(out, value, 4);
    return out;
}

// A server's answers: connect's _result; `name` 0 null {code: `code`}
// (onStatus, or _error for transaction 1); createStream's _result(4, null, id).
std::vector<uint8_t> fake_rtmp_connect_result();
std::vector<uint8_t> fake_rtmp_status(const char* name, const char* code);
std::vector<uint8_t> fake_rtmp_create_result(double stream_id);
// The rest of a polite publish once connect was answered: createStream ->
// `create_reply`, publish -> onStatus Start, in chunks of `chunk_size`.
bool fake_rtmp_finish_publish(FakeRtmpPeer& peer, std::span<const uint8_t> create_reply, uint32_t chunk_size = 128);
// The polite server's side of a whole publish (handshake, connect, the
// above with stream id 1).
bool fake_rtmp_accept_publish(FakeRtmpPeer& peer);
// A server script: accepts the publish, then keeps every message until the
// client goes.
void fake_rtmp_accept_and_record(FakeRtmpPeer& peer);

// True for an AVC or AAC sequence header (video or audio message).
bool is_sequence_header(const FakeRtmpMessage& message);
// Checks a loop's tags (for a source that starts with video): each pass opens
// with an AVC sequence header exactly one millisecond above everything sent
// before it, and neither kind of tag ever goes back. The video frames of
// each pass seen (after its header).
std::vector<size_t> check_loop_passes(const std::vector<FakeRtmpMessage>& messages);
