#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <iterator>
#include <thread>

#include "tests/support/TestPlatform.h"

namespace testing_support {

std::filesystem::path BinaryDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::filesystem::path LibraryFile(const std::string& stem) {
    return BinaryDirectory() / ("lib" + stem + ".so");
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

bool RunningUnderWine() {
    return false;
}

int ThreadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

std::chrono::microseconds CpuUsedDuring(std::chrono::milliseconds period) {
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

bool WaitSignalled(kesmacap_event event, int timeoutMs) {
    pollfd entry{event, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) != 0;
}

void Reset(kesmacap_event event) {
    std::uint64_t counter = 0;
    [[maybe_unused]] const auto got = read(event, &counter, sizeof counter);
}

bool IsOpenEvent(kesmacap_event event) {
    pollfd entry{event, POLLIN, 0};
    return poll(&entry, 1, 0) >= 0 && (entry.revents & POLLNVAL) == 0;
}

TestEvent::TestEvent() : event_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TestEvent::~TestEvent() {
    close(event_);
}

void TestEvent::signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(event_, &one, sizeof one);
}

kesmacap_event InvalidEvent() {
    return -1;
}

}  // namespace testing_support
