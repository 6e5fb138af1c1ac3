#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Win32.h"
#include "platform/linux/EventHandle.h"

namespace {

// Four eventfd events as the capture library hands them out.
class Events {
  public:
    Events() {
        for (auto& handle : handles) {
            handle = EventHandleFromDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        }
    }
    ~Events() {
        for (HANDLE handle : handles) {
            close(DescriptorFromEventHandle(handle));
        }
    }
    std::array<HANDLE, 4> handles{};
};

DWORD poll0(const Events& events) {
    return WaitForMultipleObjects(4, events.handles.data(), FALSE, 0);
}

TEST(EventWait, LowestSignalledIndexWins) {
    Events events;
    SetEvent(events.handles[3]);
    SetEvent(events.handles[1]);
    SetEvent(events.handles[2]);
    EXPECT_EQ(poll0(events), WAIT_OBJECT_0 + 1);
    ResetEvent(events.handles[1]);
    EXPECT_EQ(poll0(events), WAIT_OBJECT_0 + 2);
    ResetEvent(events.handles[2]);
    EXPECT_EQ(poll0(events), WAIT_OBJECT_0 + 3);
}

TEST(EventWait, ManualResetKeepsEventSignalledUntilReset) {
    Events events;
    SetEvent(events.handles[0]);
    SetEvent(events.handles[0]);
    for (int wait = 0; wait < 3; ++wait) {
        EXPECT_EQ(poll0(events), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(ResetEvent(events.handles[0]));
    EXPECT_EQ(poll0(events), WAIT_TIMEOUT);
    // Resetting an event that is not signalled neither blocks nor fails.
    EXPECT_TRUE(ResetEvent(events.handles[0]));
}

TEST(EventWait, SignalFromAnotherThreadWakesAnInfiniteWait) {
    Events events;
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(4, events.handles.data(), FALSE, INFINITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(events.handles[2]);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 2);
}

TEST(EventWait, TimesOutAfterAboutTheGivenTime) {
    Events events;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
}

TEST(EventWait, InvalidHandlesAndArgumentsFail) {
    Events events;
    std::array<HANDLE, 4> handles = events.handles;
    handles[2] = EventHandleFromDescriptor(-1);
    EXPECT_EQ(WaitForMultipleObjects(4, handles.data(), FALSE, 0), WAIT_FAILED);

    const int closedFd = eventfd(0, 0);
    close(closedFd);
    handles[2] = EventHandleFromDescriptor(closedFd);
    EXPECT_EQ(WaitForMultipleObjects(4, handles.data(), FALSE, INFINITE), WAIT_FAILED);

    handles[2] = nullptr;
    EXPECT_EQ(WaitForMultipleObjects(4, handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, events.handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(4, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), TRUE, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(EventHandleFromDescriptor(-1)));
    EXPECT_FALSE(ResetEvent(nullptr));
}

TEST(EventWait, ResetNeverBlocksOnADescriptorOpenedBlocking) {
    const HANDLE event = EventHandleFromDescriptor(eventfd(0, 0));
    EXPECT_TRUE(ResetEvent(event));
    SetEvent(event);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForMultipleObjects(1, &event, FALSE, 0), WAIT_TIMEOUT);
    close(DescriptorFromEventHandle(event));
}

// A process started with standard input closed hands descriptor 0 to its first eventfd.
TEST(EventWait, DescriptorZeroIsAnEventLikeAnyOther) {
    const int savedInput = dup(0);
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_EQ(dup2(fd, 0), 0);
    close(fd);
    const HANDLE event = EventHandleFromDescriptor(0);
    EXPECT_NE(event, nullptr);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForMultipleObjects(1, &event, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForMultipleObjects(1, &event, FALSE, 0), WAIT_TIMEOUT);
    if (savedInput >= 0) {
        dup2(savedInput, 0);
        close(savedInput);
    } else {
        close(0);
    }
}

DWORD WINAPI returnParameter(LPVOID parameter) {
    Sleep(10);
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter));
}

TEST(Threads, CreateWaitAndCloseAThread) {
    const HANDLE thread = CreateThread(nullptr, 0, returnParameter, reinterpret_cast<LPVOID>(42), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, TimedWaitOnARunningThreadTimesOut) {
    std::atomic<bool> release{false};
    auto spin = [](LPVOID flag) -> DWORD {
        while (!static_cast<std::atomic<bool>*>(flag)->load()) {
            Sleep(1);
        }
        return 0;
    };
    const HANDLE thread = CreateThread(nullptr, 0, spin, &release, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
    release = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

}  // namespace
