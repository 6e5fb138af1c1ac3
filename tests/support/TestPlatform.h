// What the suites need of the system they run on, so one test serves Linux and Windows.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "abi/kesmacap.h"

namespace testing_support {

// The folder of the running test executable: build/bin or build-windows/bin.
std::filesystem::path BinaryDirectory();
// The capture library file `stem` in BinaryDirectory(): libstem.so or stem.dll.
std::filesystem::path LibraryFile(const std::string& stem);
unsigned long ProcessId();
// A Windows build running under Wine, whose system libraries differ from Windows' own here and there.
bool RunningUnderWine();

// Threads of this process now.
int ThreadCount();
// CPU time this process used over `period` of wall time: a thread that spins shows.
std::chrono::microseconds CpuUsedDuring(std::chrono::milliseconds period);

// A capture library's event: waits up to timeoutMs for it to be signalled.
bool WaitSignalled(kesmacap_event event, int timeoutMs);
// Clears it, as the viewer resets it.
void Reset(kesmacap_event event);
// Whether it is still an open event (after CloseChannel, say).
bool IsOpenEvent(kesmacap_event event);

// A manual-reset event the test owns, in the capture library's form.
class TestEvent {
  public:
    TestEvent();
    ~TestEvent();
    TestEvent(const TestEvent&) = delete;
    TestEvent& operator=(const TestEvent&) = delete;
    kesmacap_event native() const { return event_; }
    void signal() const;
    bool isSignalled() const { return WaitSignalled(event_, 0); }

  private:
    kesmacap_event event_;
};

// An event value no wait accepts.
kesmacap_event InvalidEvent();

}  // namespace testing_support
