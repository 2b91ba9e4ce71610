// Server bytes after the handshake: chunk headers of every format, chunk
// size changes, pings and commands, fed to the reply wait through a local
// socket pair whose far end has already closed (so the input ends in EOF
// and ping answers fail instead of blocking).
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "rtmp/rtmp_connection.h"
#include "rtmp/rtmp_reply_wait.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    int big = 1 << 18;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    // Whole in one send: the buffers hold more than the largest input.
    (void)send(fds[1], data, size, MSG_NOSIGNAL);
    close(fds[1]);
    RtmpPublisherPtr publisher(rtmp_publisher_create(1000));
    publisher->socket.fd = fds[0];
    double number = 0;
    (void)rtmp_wait_for_reply(publisher.get(), "_result", 4.0, &number);
    return 0;
}
