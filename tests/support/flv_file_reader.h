// A tiny FLV file reader for tests: the tags of a file made by ffmpeg, so a
// test can publish real H.264/AAC tag bodies without the product's own
// packetizer. Bounds-checked; a damaged file gives false.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FlvFileTag {
    uint8_t type = 0;        // 8 audio, 9 video, 18 script data
    uint32_t timestamp = 0;  // milliseconds, with the extension byte applied
    std::vector<uint8_t> body;
};

bool flv_read_tags(const std::string& file_bytes, std::vector<FlvFileTag>* tags);
