// Reading picture files back in tests, each with a library other than the writer's path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;  // packed rows, top row first

    bool valid() const { return width > 0 && height > 0; }
};

DecodedImage ReadBmp(const std::string& file);
DecodedImage ReadJpeg(const std::string& file);
DecodedImage ReadPng(const std::string& file);
std::vector<std::uint8_t> ReadAll(const std::string& file);

// Mean absolute difference per byte; a large number when the sizes differ.
double MeanDifference(const DecodedImage& image, const std::uint8_t* bgr, int width, int height);

}  // namespace testing_support
