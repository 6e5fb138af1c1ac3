// <windows.h> first: the other system headers rely on it.
#include <windows.h>

#include <tlhelp32.h>

#include <thread>
#include <vector>

#include "tests/support/TestPlatform.h"

namespace testing_support {

std::filesystem::path BinaryDirectory() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
}

std::filesystem::path LibraryFile(const std::string& stem) {
    return BinaryDirectory() / (stem + ".dll");
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

std::chrono::microseconds CpuUsedDuring(std::chrono::milliseconds period) {
    const auto cpu = [] {
        FILETIME created{};
        FILETIME exited{};
        FILETIME kernel{};
        FILETIME user{};
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& time) {
            return static_cast<long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
        };
        return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
    };
    const auto before = cpu();
    std::this_thread::sleep_for(period);
    return cpu() - before;
}

bool WaitSignalled(kesmacap_event event, int timeoutMs) {
    return WaitForSingleObject(event, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

void Reset(kesmacap_event event) {
    ResetEvent(event);
}

bool IsOpenEvent(kesmacap_event event) {
    DWORD flags = 0;
    return GetHandleInformation(event, &flags) != FALSE;
}

TestEvent::TestEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TestEvent::~TestEvent() {
    CloseHandle(event_);
}

void TestEvent::signal() const {
    SetEvent(event_);
}

kesmacap_event InvalidEvent() {
    return nullptr;
}

}  // namespace testing_support
