// Waiting on conditions in tests, never on fixed sleeps.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// CPU time this process used over `period` of wall time: a thread that spins shows.
inline std::chrono::microseconds CpuUsedDuring(std::chrono::milliseconds period) {
    const auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    };
    const auto before = cpu();
    std::this_thread::sleep_for(period);
    return cpu() - before;
}

}  // namespace testing_support
