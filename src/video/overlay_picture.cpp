// The picture overlay: an image file (PNG, JPEG or BMP, told apart by its
// first bytes) decoded with libavcodec's image decoders and scaled with
// libswscale's area filter straight to BGRA, so the image's own alpha (or
// opaque 255 for formats without one) drives the blend. The picture takes
// its share of the frame width but never more than the frame: a tall logo
// is made smaller, keeping its aspect, rather than refused.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/files/folders.h"
#include "platform/text/error_text.h"
#include "platform/text/text.h"
#include "video/av_handles.h"
#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

namespace {

// A larger file is refused rather than risk an allocation that a hostile
// file could make huge.
constexpr int64_t MAX_IMAGE_FILE = 64 << 20;
// A small file can declare a huge picture; the decoder refuses one past this
// (8K is 33 megapixels) before it allocates the frame.
constexpr int64_t MAX_IMAGE_PIXELS = 40'000'000;

// Null when the whole file is in `bytes`, else why not.
const char* read_image_file(const std::string& path, std::vector<uint8_t>& bytes) {
    const int64_t size = regular_file_size(path);
    if (size < 0) return "no file at the image path";
    if (size == 0) return "the file is empty";
    if (size > MAX_IMAGE_FILE) return "the file is larger than 64 MiB";
    bytes.resize(size_t(size));
    std::ifstream in(path, std::ios::binary);
    return in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size)) ? nullptr : "the file cannot be read";
}

AVCodecID image_codec(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
        return AV_CODEC_ID_PNG;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return AV_CODEC_ID_MJPEG;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return AV_CODEC_ID_BMP;
    return AV_CODEC_ID_NONE;
}

// The file's first picture, or null.
AvFramePtr decode_image(std::vector<uint8_t>& bytes) {
    const AVCodec* codec = avcodec_find_decoder(image_codec(bytes));
    if (!codec) return nullptr;
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame) return nullptr;
    context->max_pixels = MAX_IMAGE_PIXELS;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    const size_t size = bytes.size();
    bytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);  // the decoders read ahead
    packet->data = bytes.data();
    packet->size = static_cast<int>(size);
    if (avcodec_send_packet(context.get(), packet.get()) < 0) return nullptr;
    if (avcodec_receive_frame(context.get(), frame.get()) < 0) {
        // Some decoders hold the picture until told the input has ended.
        if (avcodec_send_packet(context.get(), nullptr) < 0 || avcodec_receive_frame(context.get(), frame.get()) < 0) {
            return nullptr;
        }
    }
    if (frame->width <= 0 || frame->height <= 0) return nullptr;
    return frame;
}

// The settings' share of the frame width at the image's aspect, made
// smaller (same aspect) where it would not fit inside the frame.
std::pair<uint32_t, uint32_t> picture_size(const OverlaySettings& settings, uint32_t frame_width, uint32_t frame_height,
                                           const AVFrame& image) {
    const uint64_t scale = settings.image_scale_pct > 0 ? uint64_t(settings.image_scale_pct) : 20;
    const uint64_t source_width = uint64_t(image.width), source_height = uint64_t(image.height);
    uint64_t width = std::max<uint64_t>(frame_width * scale / 100, 1);
    uint64_t height = width * source_height / source_width;
    if (width > frame_width) {
        width = frame_width;
        height = width * source_height / source_width;
    }
    if (height > frame_height) {
        height = frame_height;
        width = height * source_width / source_height;
    }
    // A sliver still has to be a picture the scaler can make.
    return {uint32_t(std::max<uint64_t>(width, 1)), uint32_t(std::max<uint64_t>(height, 1))};
}

}  // namespace

bool overlay_prepare_picture(const OverlaySettings& settings, uint32_t frame_width, uint32_t frame_height,
                             OverlayBitmap& bitmap, std::span<char> why) {
    bitmap = OverlayBitmap{};
    if (!settings.image_enabled || settings.image_path.empty()) return true;
    std::vector<uint8_t> bytes;
    if (const char* unread = read_image_file(utf16_fit(settings.image_path, 2048), bytes)) {
        error_printf(why, "%s", unread);
        return false;
    }
    if (image_codec(bytes) == AV_CODEC_ID_NONE) {
        error_printf(why, "%s", "the file is not a PNG, JPEG or BMP image");
        return false;
    }
    AvFramePtr image = decode_image(bytes);
    if (!image) {
        error_printf(why, "%s", "the image cannot be decoded (damaged, or over 40 megapixels)");
        return false;
    }

    const auto [width, height] = picture_size(settings, frame_width, frame_height, *image);
    SwsContextPtr scaler(sws_getContext(image->width, image->height, AVPixelFormat(image->format), int(width),
                                        int(height), AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr));
    std::vector<uint8_t> pixels(size_t{width} * 4 * height);
    uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(width * 4), 0, 0, 0};
    if (!scaler ||
        sws_scale(scaler.get(), image->data, image->linesize, 0, image->height, planes, strides) != int(height)) {
        error_printf(why, "the image cannot be scaled to %ux%u", width, height);
        return false;
    }
    bitmap.pixels = std::move(pixels);
    bitmap.width = width;
    bitmap.height = height;
    bitmap.stride = width * 4;
    return true;
}
