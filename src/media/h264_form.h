// The two forms H.264 units come in, and the one rewrite between them.
//
//   Annex B          00 00 00 01 NAL 00 00 01 NAL ...     (transport streams,
//                                                         the packetizer)
//   length-prefixed  [length] NAL [length] NAL ...        (MP4 samples, some
//                    each length 1 to 4 bytes, big-endian  encoders)
//
// The bytes alone cannot tell them apart: a length-prefixed unit whose first
// NAL is 256 to 511 bytes long opens 00 00 01 xx, one with a 1-byte NAL
// 00 00 00 01. So the form comes from the codec configuration: an avcC
// record means length-prefixed, with its length size, for every unit. Only
// a source without one has each unit sniffed for a start code.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

constexpr uint32_t H264_DEFAULT_NAL_LENGTH_SIZE = 4;

struct H264Form {
    bool sniff = true;  // no avcC record: a unit opening with a start code is Annex B
    uint32_t nal_length_size = H264_DEFAULT_NAL_LENGTH_SIZE;  // of length-prefixed units
};

// The form a codec configuration declares: an avcC record (version 1, at
// least 7 bytes) fixes length-prefixed units with its length size; none,
// or an Annex B header, leaves them to be sniffed.
[[nodiscard]] H264Form h264_form_of(std::span<const uint8_t> config);

// Appends `unit` in Annex B form to `out`: as it is when the form sniffs
// and it opens with a start code, else each NAL behind 00 00 00 01. False,
// with `out` unchanged, when a length-prefixed unit has a zero length, a
// NAL running past its end or bytes after its last NAL, or the length size
// lies outside 1 to 4: damage is refused, never cut short.
[[nodiscard]] bool h264_append_annexb(const H264Form& form, std::span<const uint8_t> unit, std::vector<uint8_t>& out);
