// Calling a capture library's operation under either calling convention.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

// 32-bit Windows; QUADVIEW_CALL_RESTORING_STACK also on 32-bit Linux, where
// the thunk's own test runs when 32-bit Wine cannot.
#if defined(__i386__) && (defined(_WIN32) || defined(QUADVIEW_CALL_RESTORING_STACK))

// Pushes count 32-bit arguments right to left, calls function, and restores
// the stack pointer from its own frame afterwards, so a __stdcall callee that
// pops its arguments works as well as a __cdecl one that leaves them.
extern "C" std::uint32_t QuadviewCallRestoringStack(const void* function, const std::uint32_t* arguments,
                                                    std::uint32_t count);

namespace capture_call {

// Every argument of the ABI fills one 32-bit stack slot in both conventions.
template <typename T>
std::uint32_t stackSlot(T value) {
    static_assert(sizeof(T) <= sizeof(std::uint32_t));
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value));
    } else {
        return static_cast<std::uint32_t>(value);
    }
}

}  // namespace capture_call

template <typename... Params, typename... Args>
std::int32_t CallOperation(std::int32_t (*operation)(Params...), Args... args) {
    static_assert(sizeof...(Params) == sizeof...(Args));
    const std::array<std::uint32_t, sizeof...(Params) + 1> slots{
        capture_call::stackSlot(static_cast<Params>(args))..., 0};
    return static_cast<std::int32_t>(QuadviewCallRestoringStack(reinterpret_cast<const void*>(operation),
                                                                slots.data(), sizeof...(Params)));
}

#else

// One calling convention on this platform: a plain call.
template <typename... Params, typename... Args>
std::int32_t CallOperation(std::int32_t (*operation)(Params...), Args... args) {
    return operation(static_cast<Params>(args)...);
}

#endif
