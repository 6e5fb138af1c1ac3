// Win32 threads over std::thread: a handle is a joinable thread whose exit
// code outlives it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Win32.h"

namespace {

// What a thread handle refers to. The state is shared with the running thread
// so that closing the handle of a thread still running does not cut it off.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    DWORD exitCode = 0;
};

struct ThreadObject {
    std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
    std::thread thread;
};

ThreadObject* threadFromHandle(HANDLE handle) {
    return static_cast<ThreadObject*>(handle);
}

}  // namespace

HANDLE CreateThread(void* /*threadAttributes*/, std::size_t /*stackSize*/,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD /*creationFlags*/,
                    DWORD* threadId) {
    if (startAddress == nullptr) {
        return nullptr;
    }
    auto object = std::make_unique<ThreadObject>();
    object->thread = std::thread([state = object->state, startAddress, parameter] {
        const DWORD code = startAddress(parameter);
        const std::lock_guard lock(state->mutex);
        state->exitCode = code;
        state->done = true;
        state->finished.notify_all();
    });
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(std::hash<std::thread::id>{}(object->thread.get_id()));
    }
    // The handle owns the object until CloseHandle takes it back.
    return object.release();
}

DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds) {
    ThreadObject* const object = threadFromHandle(thread);
    if (object == nullptr) {
        return WAIT_FAILED;
    }
    {
        std::unique_lock lock(object->state->mutex);
        const auto isDone = [&] { return object->state->done; };
        if (milliseconds == INFINITE) {
            object->state->finished.wait(lock, isDone);
        } else if (!object->state->finished.wait_for(lock, std::chrono::milliseconds(milliseconds), isDone)) {
            return WAIT_TIMEOUT;
        }
    }
    if (object->thread.joinable()) {
        object->thread.join();
    }
    return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    ThreadObject* const object = threadFromHandle(thread);
    if (object == nullptr || exitCode == nullptr) {
        return FALSE;
    }
    const std::lock_guard lock(object->state->mutex);
    constexpr DWORD stillActive = 259;
    *exitCode = object->state->done ? object->state->exitCode : stillActive;
    return TRUE;
}

BOOL CloseHandle(HANDLE thread) {
    const std::unique_ptr<ThreadObject> object(threadFromHandle(thread));
    if (!object) {
        return FALSE;
    }
    if (object->thread.joinable()) {
        // As on Windows, closing the handle does not end the thread.
        object->thread.detach();
    }
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
