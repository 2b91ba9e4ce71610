// Throughput of rtmp_send_media for 100 KB video messages into a loopback
// TCP connection drained by a reader thread, beside two peers measured in
// the same run: the same message written piece by piece (header, 25 payload
// pieces, 24 one-byte continuation headers: one send each), and the same
// bytes handed to send() in one piece, the best the loopback path can do.
// "steps" counts send calls per message.
#include "rtmp/rtmp_publisher.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/network/socket_connect.h"
#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_message_writer.h"

namespace {

constexpr size_t FRAME_BYTES = 100 * 1024;

// A connected loopback pair whose server side is read and discarded.
struct Loopback {
    int client = -1;
    int listener = -1;
    std::thread reader;

    Loopback() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 1);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        client = socket_connect("127.0.0.1", ntohs(address.sin_port), 20000);
        int server = accept(listener, nullptr, nullptr);
        reader = std::thread([server] {
            std::vector<char> scratch(1 << 20);
            while (recv(server, scratch.data(), scratch.size(), 0) > 0) {
            }
            close(server);
        });
    }
    // The client socket must be closed (by its owner) before this runs.
    ~Loopback() {
        reader.join();
        close(listener);
    }
};

void BM_RtmpSendMedia(benchmark::State& state) {
    Loopback loop;
    RtmpPublisherPtr publisher(rtmp_publisher_create(20000));
    publisher->socket.fd = loop.client;
    publisher->outbound_chunk_size = RTMP_OUTBOUND_CHUNK_SIZE;
    publisher->stream_id = 1;
    std::vector<uint8_t> frame(FRAME_BYTES, 0x27);
    uint32_t timestamp = 0;
    for (auto _ : state) {
        if (!rtmp_send_media(publisher.get(), RTMP_TYPE_VIDEO, timestamp += 33, frame)) {
            state.SkipWithError("send failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FRAME_BYTES));
    state.counters["steps"] = static_cast<double>(publisher->write_steps) / static_cast<double>(state.iterations());
    publisher.reset();
}

// The message written one piece per send, as a straightforward writer would.
void BM_PeerOneSendPerPiece(benchmark::State& state) {
    Loopback loop;
    RtmpPublisherPtr publisher(rtmp_publisher_create(20000));
    publisher->socket.fd = loop.client;
    std::vector<uint8_t> frame(FRAME_BYTES, 0x27);
    std::span<const uint8_t> payload(frame);
    const uint8_t continuation = 0xC6;
    uint32_t timestamp = 0;
    for (auto _ : state) {
        std::array<uint8_t, 16> header;
        size_t size = rtmp_build_message_header(header, 6, RTMP_TYPE_VIDEO, 1, timestamp += 33, frame.size());
        bool ok = rtmp_write_all(publisher.get(), std::span<const uint8_t>(header).first(size));
        for (size_t offset = 0; ok && offset < frame.size(); offset += RTMP_OUTBOUND_CHUNK_SIZE) {
            if (offset > 0) ok = rtmp_write_all(publisher.get(), {&continuation, 1});
            size_t piece = std::min<size_t>(RTMP_OUTBOUND_CHUNK_SIZE, frame.size() - offset);
            ok = ok && rtmp_write_all(publisher.get(), payload.subspan(offset, piece));
        }
        if (!ok) {
            state.SkipWithError("send failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FRAME_BYTES));
    state.counters["steps"] = static_cast<double>(publisher->write_steps) / static_cast<double>(state.iterations());
    publisher.reset();
}

void BM_PeerOneSendPerMessage(benchmark::State& state) {
    Loopback loop;
    std::vector<uint8_t> frame(FRAME_BYTES + 12 + 24, 0x27);
    uint64_t steps = 0;
    for (auto _ : state) {
        for (size_t done = 0; done < frame.size(); ++steps) {
            long sent = socket_send(loop.client, frame.data() + done, frame.size() - done);
            if (sent <= 0) break;
            done += static_cast<size_t>(sent);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FRAME_BYTES));
    state.counters["steps"] = static_cast<double>(steps) / static_cast<double>(state.iterations());
    socket_close(loop.client);
}

}  // namespace

BENCHMARK(BM_RtmpSendMedia)->UseRealTime();
BENCHMARK(BM_PeerOneSendPerPiece)->UseRealTime();
BENCHMARK(BM_PeerOneSendPerMessage)->UseRealTime();
BENCHMARK_MAIN();
