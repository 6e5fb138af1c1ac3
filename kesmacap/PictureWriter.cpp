#include "kesmacap/PictureWriter.h"

#include <fcntl.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <memory>

#include "capture/kesmacap.h"

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

bool validPicture(const PictureView& picture) {
    return picture.pixels != nullptr && picture.width > 0 && picture.height > 0 && picture.width <= 65535 &&
           picture.height <= 65535;
}

// libpng reports errors by longjmp; only plain data lives in this frame.
void appendPngData(png_structp png, png_bytep data, png_size_t length) {
    auto* const out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

bool writePng(png_structp png, png_infop info, const PictureView& picture, std::vector<std::uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, out, appendPngData, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < picture.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(picture.row(y)));
    }
    png_write_end(png, info);
    return true;
}

std::string temporaryNameFor(const std::string& file) {
    static std::atomic<unsigned> counter{0};
    const auto slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return folder + "." + name + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(stamp % 1000000);
}

std::int32_t writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace

std::string ChannelPicturePath(std::string_view path, int channel, std::uint8_t format) {
    const std::string number = "-" + std::to_string(channel + 1);
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const auto dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= nameStart) {
        const char* const extension = formatExtension(format);
        return std::string(path) + number + (extension != nullptr ? extension : "");
    }
    return std::string(path.substr(0, dot)) + number + std::string(path.substr(dot));
}

std::int32_t EncodeBmp(const PictureView& picture, std::vector<std::uint8_t>& out) {
    if (!validPicture(picture)) {
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

std::int32_t EncodeJpeg(const PictureView& picture, int quality, std::vector<std::uint8_t>& out) {
    if (!validPicture(picture)) {
        return EINVAL;
    }
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor) {
        return ENOMEM;
    }
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    // BGR is one of libjpeg-turbo's input layouts: no conversion pass of our own.
    const int failed = tjCompress2(compressor.get(), picture.pixels, picture.width, 0, picture.height,
                                   TJPF_BGR, &jpeg, &jpegSize, TJSAMP_420, std::clamp(quality, 1, 100), 0);
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
    if (failed != 0) {
        return EIO;
    }
    out.assign(jpeg, jpeg + jpegSize);
    return 0;
}

std::int32_t EncodePng(const PictureView& picture, std::vector<std::uint8_t>& out) {
    if (!validPicture(picture)) {
        return EINVAL;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return ENOMEM;
    }
    png_infop info = png_create_info_struct(png);
    out.clear();
    const bool written = info != nullptr && writePng(png, info, picture, &out);
    png_destroy_write_struct(&png, &info);
    return written ? 0 : EIO;
}

std::int32_t WriteFileAtomically(const std::string& file, const std::vector<std::uint8_t>& bytes) {
    if (file.empty() || file.back() == '/') {
        return EINVAL;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryNameFor(file);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    std::int32_t error = writeAll(fd, bytes);
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary.c_str(), file.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
    }
    return error;
}

std::int32_t SavePicture(const PictureView& picture, std::string_view path, int channel, std::uint8_t format,
                         std::int32_t value) {
    if (formatExtension(format) == nullptr || path.empty()) {
        return EINVAL;
    }
    std::vector<std::uint8_t> bytes;
    std::int32_t error = 0;
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
    return error != 0 ? error : WriteFileAtomically(ChannelPicturePath(path, channel, format), bytes);
}

}  // namespace kesmacap
