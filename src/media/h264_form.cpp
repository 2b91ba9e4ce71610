// Length-prefixed H.264 into Annex B: one walk to validate and size, one to
// copy, so a unit costs one allocation at most and damage leaves no trace.
#include "media/h264_form.h"

#include <array>

#include "platform/text/byte_order.h"

namespace {

constexpr std::array<uint8_t, 4> START_CODE = {0, 0, 0, 1};
constexpr uint8_t AVCC_VERSION = 1;
constexpr size_t AVCC_MIN_SIZE = 7;

bool starts_with_start_code(std::span<const uint8_t> unit) {
    if (unit.size() < 4 || unit[0] != 0 || unit[1] != 0) return false;
    return unit[2] == 1 || (unit[2] == 0 && unit[3] == 1);
}

// The unit's size in Annex B form; false when it is malformed.
bool annexb_size(std::span<const uint8_t> unit, uint32_t length_size, size_t& size) {
    if (length_size < 1 || length_size > 4) return false;
    size = 0;
    size_t at = 0;
    while (unit.size() - at >= length_size) {
        const uint64_t n = load_be(unit.subspan(at, length_size));
        at += length_size;
        if (n == 0 || n > unit.size() - at) return false;
        at += n;
        size += START_CODE.size() + n;
    }
    return at == unit.size();
}

}  // namespace

H264Form h264_form_of(std::span<const uint8_t> config) {
    if (config.size() < AVCC_MIN_SIZE || config[0] != AVCC_VERSION) return {};
    return {.sniff = false, .nal_length_size = (config[4] & 3u) + 1};
}

bool h264_append_annexb(const H264Form& form, std::span<const uint8_t> unit, std::vector<uint8_t>& out) {
    if (form.sniff && starts_with_start_code(unit)) {
        out.insert(out.end(), unit.begin(), unit.end());
        return true;
    }
    size_t size = 0;
    if (!annexb_size(unit, form.nal_length_size, size)) return false;
    out.reserve(out.size() + size);
    for (size_t at = 0; at < unit.size();) {
        const auto n = static_cast<size_t>(load_be(unit.subspan(at, form.nal_length_size)));
        at += form.nal_length_size;
        out.insert(out.end(), START_CODE.begin(), START_CODE.end());
        out.insert(out.end(), unit.begin() + static_cast<ptrdiff_t>(at), unit.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
    }
    return true;
}
