// Handshake on the opening thread. The filler generator is per thread so
// concurrent opens on different workflow threads share no state.
#include "rtmp/rtmp_handshake.h"

#include <array>
#include <ctime>
#include <random>

#include "platform/text/byte_order.h"
#include "rtmp/rtmp_connection.h"

namespace {

void fill_c0_c1(std::span<uint8_t, 1 + RTMP_HANDSHAKE_SIZE> out) {
    thread_local std::minstd_rand filler(static_cast<unsigned>(std::time(nullptr)));
    uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    out[0] = RTMP_VERSION;
    store_be(out.subspan<1, 4>(), now);
    for (size_t i = 5; i < 9; ++i) out[i] = 0;
    for (size_t i = 9; i < out.size(); ++i) out[i] = static_cast<uint8_t>(filler());
}

bool exchange(RtmpPublisher* p) {
    std::array<uint8_t, 1 + RTMP_HANDSHAKE_SIZE> c0c1;
    fill_c0_c1(c0c1);
    if (!rtmp_write_all(p, c0c1)) return false;
    std::array<uint8_t, 1 + 2 * RTMP_HANDSHAKE_SIZE> s0s1s2;
    if (!rtmp_read_exact(p, s0s1s2)) return false;
    if (s0s1s2[0] != RTMP_VERSION) return false;
    return rtmp_write_all(p, std::span<const uint8_t>(s0s1s2).subspan(1, RTMP_HANDSHAKE_SIZE));
}

}  // namespace

bool rtmp_handshake(RtmpPublisher* p) {
    if (exchange(p)) return true;
    rtmp_set_error(p, "RTMP handshake failed");
    return false;
}
