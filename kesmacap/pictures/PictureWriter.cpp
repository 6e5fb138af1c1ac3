#include "kesmacap/pictures/PictureWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "abi/kesmacap.h"

namespace kesmacap {

namespace {

const char* formatExtension(std::uint8_t format) {
    switch (format) {
        case KESMACAP_FORMAT_BMP:
            return ".bmp";
        case KESMACAP_FORMAT_JPEG:
            return ".jpg";
        case KESMACAP_FORMAT_PNG:
            return ".png";
        default:
            return nullptr;
    }
}

void putLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::size_t nameStart(std::string_view path) {
    const auto separator = path.find_last_of(PathSeparators);
    return separator == std::string_view::npos ? 0 : separator + 1;
}

}  // namespace

bool EncodablePicture(const PictureView& picture) {
    return picture.pixels != nullptr && picture.width > 0 && picture.height > 0 && picture.width <= 65535 &&
           picture.height <= 65535;
}

std::string ChannelPicturePath(std::string_view path, int channel, std::uint8_t format) {
    const std::string number = "-" + std::to_string(channel + 1);
    const std::size_t start = nameStart(path);
    const auto dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= start) {
        const char* const extension = formatExtension(format);
        return std::string(path) + number + (extension != nullptr ? extension : "");
    }
    return std::string(path.substr(0, dot)) + number + std::string(path.substr(dot));
}

std::string TemporaryNameFor(std::string_view file, unsigned long processId) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    // Short and free of the file's own name: a name near the file system's
    // limit must still leave room for its temporary.
    return std::string(file.substr(0, nameStart(file))) + ".quadview-" + std::to_string(processId) + "-" +
           std::to_string(counter++) + "-" + std::to_string(stamp % 1000000) + ".tmp";
}

std::int32_t EncodeBmp(const PictureView& picture, std::vector<std::uint8_t>& out) {
    if (!EncodablePicture(picture)) {
        return EINVAL;
    }
    constexpr std::uint32_t headerBytes = 14 + 40;
    const std::size_t stride = (picture.rowBytes() + 3) & ~std::size_t{3};
    const std::size_t imageBytes = stride * static_cast<std::size_t>(picture.height);
    out.assign(headerBytes + imageBytes, 0);
    std::uint8_t* const header = out.data();
    header[0] = 'B';
    header[1] = 'M';
    putLittleEndian(header + 2, static_cast<std::uint32_t>(out.size()), 4);
    putLittleEndian(header + 10, headerBytes, 4);
    putLittleEndian(header + 14, 40, 4);
    putLittleEndian(header + 18, static_cast<std::uint32_t>(picture.width), 4);
    putLittleEndian(header + 22, static_cast<std::uint32_t>(picture.height), 4);  // bottom-up
    putLittleEndian(header + 26, 1, 2);
    putLittleEndian(header + 28, 24, 2);
    putLittleEndian(header + 34, static_cast<std::uint32_t>(imageBytes), 4);
    putLittleEndian(header + 38, 2835, 4);  // 72 dpi
    putLittleEndian(header + 42, 2835, 4);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(out.data() + headerBytes + stride * static_cast<std::size_t>(picture.height - 1 - y),
                    picture.row(y), picture.rowBytes());
    }
    return 0;
}

std::int32_t SavePicture(const PictureView& picture, std::string_view path, int channel, std::uint8_t format,
                         std::int32_t value) {
    if (formatExtension(format) == nullptr || path.empty()) {
        return EINVAL;
    }
    std::string name;
    std::int32_t error = FileNameFromLibraryPath(path, name);
    if (error != 0) {
        return error;
    }
    std::vector<std::uint8_t> bytes;
    switch (format) {
        case KESMACAP_FORMAT_BMP:
            error = EncodeBmp(picture, bytes);
            break;
        case KESMACAP_FORMAT_JPEG:
            error = EncodeJpeg(picture, value, bytes);
            break;
        default:
            error = EncodePng(picture, bytes);
            break;
    }
    return error != 0 ? error : WriteFileAtomically(ChannelPicturePath(name, channel, format), bytes);
}

}  // namespace kesmacap
