// Waiting for the server's reply to one command of the publish exchange,
// while applying Set Chunk Size and answering Ping Requests on the way.
#pragma once

#include <string_view>

#include "rtmp/rtmp_publisher.h"

constexpr int RTMP_REPLY_MESSAGES_MAX = 100;

// Reads up to 100 messages until one carries `expected` (for "_result" also
// "NetConnection.Connect.Success"). When `transaction` is non-zero, a
// "_result" or "_error" answering another transaction (a server that answers
// releaseStream or FCPublish) is passed over. `number`, when given, gets the
// last AMF0 number in [1, 1000000) of the reply behind its transaction id,
// or 0. On false the error text says why: read failure, rejection or too
// many messages.
[[nodiscard]] bool rtmp_wait_for_reply(RtmpPublisher* publisher, std::string_view expected, double transaction,
                                       double* number);
