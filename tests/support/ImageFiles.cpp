#include "tests/support/ImageFiles.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace testing_support {

namespace {

std::uint32_t little(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

}  // namespace

std::vector<std::uint8_t> ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DecodedImage ReadBmp(const std::string& file) {
    const std::vector<std::uint8_t> bytes = ReadAll(file);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || little(bytes, 28, 2) != 24 ||
        little(bytes, 30, 4) != 0) {
        return {};
    }
    const auto width = static_cast<std::int32_t>(little(bytes, 18, 4));
    const auto signedHeight = static_cast<std::int32_t>(little(bytes, 22, 4));
    const int height = std::abs(signedHeight);
    const std::size_t offset = little(bytes, 10, 4);
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    if (width <= 0 || height == 0 || offset + stride * height > bytes.size()) {
        return {};
    }
    DecodedImage image{width, height,
                       std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        const int fileRow = signedHeight > 0 ? height - 1 - y : y;
        std::memcpy(image.bgr.data() + static_cast<std::size_t>(y) * width * 3,
                    bytes.data() + offset + fileRow * stride, static_cast<std::size_t>(width) * 3);
    }
    return image;
}

double MeanDifference(const DecodedImage& image, const std::uint8_t* bgr, int width, int height) {
    if (image.width != width || image.height != height) {
        return 1e9;
    }
    double total = 0;
    for (std::size_t i = 0; i < image.bgr.size(); ++i) {
        total += std::abs(static_cast<int>(image.bgr[i]) - static_cast<int>(bgr[i]));
    }
    return total / static_cast<double>(image.bgr.size());
}

}  // namespace testing_support
