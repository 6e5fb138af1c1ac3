// The memcpy floor of one displayed frame, for bench/viewer-cpu: the bytes a
// frame must move at the least on its way to the screen (the staging copy,
// 640 x 480 x 3, the conversion into the window's 32-bit pixels and the X
// server's copy of those, 640 x 480 x 4 each), copied with memcpy.
// Prints microseconds per frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

int main() {
    constexpr std::size_t staging = 640 * 480 * 3;
    constexpr std::size_t surface = 640 * 480 * 4;
    std::vector<unsigned char> a(surface, 1), b(surface, 2), c(surface, 3), d(surface, 4);
    std::vector<double> times;
    for (int round = 0; round < 400; ++round) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(b.data(), a.data(), staging);
        std::memcpy(c.data(), b.data(), surface);
        std::memcpy(d.data(), c.data(), surface);
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        std::swap(a, d);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
