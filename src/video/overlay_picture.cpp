// The picture overlay: an image file (PNG, JPEG or BMP, told apart by its
// first bytes) decoded with libavcodec's image decoders and scaled with
// libswscale's area filter straight to BGRA, so the image's own alpha (or
// opaque 255 for formats without one) drives the blend.
#include <fstream>
#include <iterator>

#include "platform/text.h"
#include "video/av_handles.h"
#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

namespace {

// Larger files or sides are refused rather than risk an allocation that
// a hostile file could make huge.
constexpr std::streamsize MAX_IMAGE_FILE = 64 << 20;
constexpr uint32_t MAX_SIDE = 16384;

bool read_image_file(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamsize size = in.tellg();
    if (size <= 0 || size > MAX_IMAGE_FILE) return false;
    bytes.resize(size_t(size));
    in.seekg(0);
    return bool(in.read(reinterpret_cast<char*>(bytes.data()), size));
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
    if (!context || !packet || !frame || avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
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

}  // namespace

bool overlay_prepare_picture(const OverlaySettings& settings, uint32_t frame_width, OverlayBitmap& bitmap) {
    bitmap = OverlayBitmap{};
    if (!settings.image_enabled || settings.image_path.empty()) return true;
    std::vector<uint8_t> bytes;
    if (!read_image_file(utf16_fit(settings.image_path, 2048), bytes)) return false;
    AvFramePtr image = decode_image(bytes);
    if (!image) return false;

    const uint32_t scale = settings.image_scale_pct > 0 ? uint32_t(settings.image_scale_pct) : 20;
    uint32_t width = static_cast<uint32_t>(uint64_t{frame_width} * scale / 100);
    if (width == 0) width = 1;
    uint32_t height = static_cast<uint32_t>(uint64_t{width} * uint32_t(image->height) / uint32_t(image->width));
    if (height == 0) height = 1;  // a sliver still has to be a picture the scaler can make
    if (width > MAX_SIDE || height > MAX_SIDE) return false;

    SwsContextPtr scaler(sws_getContext(image->width, image->height, AVPixelFormat(image->format), int(width),
                                        int(height), AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) return false;
    std::vector<uint8_t> pixels(size_t{width} * 4 * height);
    uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(width * 4), 0, 0, 0};
    if (sws_scale(scaler.get(), image->data, image->linesize, 0, image->height, planes, strides) != int(height)) {
        return false;
    }
    bitmap.pixels = std::move(pixels);
    bitmap.width = width;
    bitmap.height = height;
    bitmap.stride = width * 4;
    return true;
}
