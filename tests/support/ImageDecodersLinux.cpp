// JPEG and PNG read back with libjpeg-turbo and libpng.
#include <png.h>
#include <turbojpeg.h>

#include "tests/support/ImageFiles.h"

namespace testing_support {

DecodedImage ReadJpeg(const std::string& file) {
    std::vector<std::uint8_t> bytes = ReadAll(file);
    tjhandle decoder = tjInitDecompress();
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    DecodedImage image;
    if (tjDecompressHeader3(decoder, bytes.data(), bytes.size(), &width, &height, &subsampling,
                            &colourspace) == 0) {
        image = DecodedImage{width, height,
                             std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
        if (tjDecompress2(decoder, bytes.data(), bytes.size(), image.bgr.data(), width, 0, height, TJPF_BGR,
                          0) != 0) {
            image = {};
        }
    }
    tjDestroy(decoder);
    return image;
}

DecodedImage ReadPng(const std::string& file) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, file.c_str()) == 0) {
        return {};
    }
    png.format = PNG_FORMAT_BGR;
    DecodedImage image{static_cast<int>(png.width), static_cast<int>(png.height),
                       std::vector<std::uint8_t>(PNG_IMAGE_SIZE(png))};
    if (png_image_finish_read(&png, nullptr, image.bgr.data(), 0, nullptr) == 0) {
        png_image_free(&png);
        return {};
    }
    return image;
}

}  // namespace testing_support
