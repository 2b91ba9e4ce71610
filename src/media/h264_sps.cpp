// The sequence parameter set reader: emulation bytes out, then a checked
// bit cursor with exp-Golomb codes over the RBSP.
#include "media/h264_sps.h"

#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint8_t NAL_TYPE_SPS = 7;
constexpr uint32_t MAX_MACROBLOCKS_ACROSS = 1024;  // 16384 pixels: beyond any level's limit

// The RBSP: every 00 00 03 loses its 03.
std::vector<uint8_t> rbsp_of(std::span<const uint8_t> payload) {
    std::vector<uint8_t> out;
    out.reserve(payload.size());
    size_t zeros = 0;
    for (uint8_t byte : payload) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

// Reads bits most significant first; once a read runs past the end every
// later read fails too, so a caller may check once at the end of a section.
struct BitCursor {
    std::span<const uint8_t> data;
    size_t bit = 0;
    bool failed = false;

    uint32_t bits(unsigned count) {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (bit >= data.size() * 8) {
                failed = true;
                return 0;
            }
            value = value << 1 | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
            ++bit;
        }
        return value;
    }
    bool flag() { return bits(1) != 0; }

    // ue(v); a code longer than 32 bits (a value past 2^32 - 2) fails.
    uint32_t ue() {
        unsigned zeros = 0;
        while (!failed && bits(1) == 0) {
            if (++zeros > 31) failed = true;
        }
        if (failed) return 0;
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
    }
    // ue(v) that must not exceed `most`.
    uint32_t ue_upto(uint32_t most) {
        uint32_t value = ue();
        if (value > most) failed = true;
        return failed ? 0 : value;
    }
    int32_t se() {
        uint32_t code = ue();
        return code % 2 ? static_cast<int32_t>(code / 2 + 1) : -static_cast<int32_t>(code / 2);
    }
};

bool has_chroma_fields(uint32_t profile_idc) {
    switch (profile_idc) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

void skip_scaling_list(BitCursor& in, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !in.failed; ++j) {
        if (next != 0) {
            int32_t delta = in.se();
            if (delta < -128 || delta > 127) in.failed = true;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

// chroma_format_idc and separate_colour_plane_flag; the rest is skipped.
struct Chroma {
    uint32_t format = 1;  // 4:2:0 unless said otherwise
    bool separate_planes = false;
};

Chroma read_chroma_fields(BitCursor& in) {
    Chroma chroma;
    chroma.format = in.ue_upto(3);
    if (chroma.format == 3) chroma.separate_planes = in.flag();
    (void)in.ue_upto(6);  // bit_depth_luma_minus8
    (void)in.ue_upto(6);  // bit_depth_chroma_minus8
    (void)in.flag();      // qpprime_y_zero_transform_bypass_flag
    if (in.flag()) {      // seq_scaling_matrix_present_flag
        const int lists = chroma.format == 3 ? 12 : 8;
        for (int i = 0; i < lists && !in.failed; ++i) {
            if (in.flag()) skip_scaling_list(in, i < 6 ? 16 : 64);
        }
    }
    return chroma;
}

void skip_picture_order(BitCursor& in) {
    const uint32_t type = in.ue_upto(2);
    if (type == 0) {
        (void)in.ue_upto(12);  // log2_max_pic_order_cnt_lsb_minus4
    } else if (type == 1) {
        (void)in.flag();  // delta_pic_order_always_zero_flag
        (void)in.se(), (void)in.se();
        const uint32_t cycle = in.ue_upto(255);
        for (uint32_t i = 0; i < cycle && !in.failed; ++i) (void)in.se();
    }
}

// The VUI up to its timing: the frame rate, or nothing when it has none.
std::optional<std::pair<uint32_t, uint32_t>> read_vui_timing(BitCursor& in) {
    constexpr uint32_t EXTENDED_SAR = 255;
    if (in.flag() && in.bits(8) == EXTENDED_SAR) (void)in.bits(32);  // aspect ratio, sar width and height
    if (in.flag()) (void)in.flag();                                  // overscan
    if (in.flag()) {                                                 // video signal type
        (void)in.bits(4);
        if (in.flag()) (void)in.bits(24);  // colour description
    }
    if (in.flag()) (void)in.ue_upto(5), (void)in.ue_upto(5);  // chroma sample locations
    if (!in.flag()) return std::nullopt;
    const uint64_t units_in_tick = in.bits(32), time_scale = in.bits(32);
    if (in.failed || units_in_tick == 0 || time_scale == 0) return std::nullopt;
    const uint64_t den = 2 * units_in_tick, common = std::gcd(time_scale, den);
    if (den / common > UINT32_MAX) return std::nullopt;
    return std::pair{static_cast<uint32_t>(time_scale / common), static_cast<uint32_t>(den / common)};
}

}  // namespace

bool h264_parse_sps(std::span<const uint8_t> nal, H264SpsInfo* info) {
    if (nal.empty() || (nal[0] & 0x1F) != NAL_TYPE_SPS) return false;
    const std::vector<uint8_t> rbsp = rbsp_of(nal.subspan(1));
    BitCursor in{rbsp};
    H264SpsInfo got;
    got.profile_idc = in.bits(8), got.constraint_flags = in.bits(8), got.level_idc = in.bits(8);
    (void)in.ue_upto(31);  // seq_parameter_set_id
    Chroma chroma = has_chroma_fields(got.profile_idc) ? read_chroma_fields(in) : Chroma{};
    (void)in.ue_upto(12);  // log2_max_frame_num_minus4
    skip_picture_order(in);
    (void)in.ue_upto(32);  // max_num_ref_frames
    (void)in.flag();       // gaps_in_frame_num_value_allowed_flag
    const uint32_t width_mbs = in.ue_upto(MAX_MACROBLOCKS_ACROSS - 1) + 1;
    const uint32_t height_units = in.ue_upto(MAX_MACROBLOCKS_ACROSS - 1) + 1;
    const bool frame_mbs_only = in.flag();
    if (!frame_mbs_only) (void)in.flag();  // mb_adaptive_frame_field_flag
    (void)in.flag();                       // direct_8x8_inference_flag
    uint32_t crop[4] = {};                 // left, right, top, bottom
    if (in.flag()) {
        for (uint32_t& edge : crop) edge = in.ue_upto(MAX_MACROBLOCKS_ACROSS * 16);
    }
    std::optional<std::pair<uint32_t, uint32_t>> rate;
    if (in.flag()) rate = read_vui_timing(in);
    if (in.failed) return false;

    const uint32_t chroma_type = chroma.separate_planes ? 0 : chroma.format;
    const uint32_t unit_x = chroma_type == 1 || chroma_type == 2 ? 2 : 1;
    const uint32_t unit_y = (chroma_type == 1 ? 2 : 1) * (frame_mbs_only ? 1 : 2);
    const uint32_t coded_width = width_mbs * 16, coded_height = height_units * 16 * (frame_mbs_only ? 1 : 2);
    const uint64_t crop_x = uint64_t{unit_x} * (crop[0] + crop[1]), crop_y = uint64_t{unit_y} * (crop[2] + crop[3]);
    if (crop_x >= coded_width || crop_y >= coded_height) return false;
    got.width = coded_width - static_cast<uint32_t>(crop_x);
    got.height = coded_height - static_cast<uint32_t>(crop_y);
    if (rate) got.frame_rate_num = rate->first, got.frame_rate_den = rate->second;
    *info = got;
    return true;
}

std::string h264_profile_name(uint32_t profile_idc, uint32_t constraint_flags) {
    constexpr uint32_t CONSTRAINT_SET1 = 0x40;
    switch (profile_idc) {
        case 66:
            return constraint_flags & CONSTRAINT_SET1 ? "Constrained Baseline" : "Baseline";
        case 77:
            return "Main";
        case 88:
            return "Extended";
        case 100:
            return "High";
        case 110:
            return "High 10";
        case 122:
            return "High 4:2:2";
        case 244:
            return "High 4:4:4 Predictive";
        default:
            return "profile " + std::to_string(profile_idc);
    }
}
