// The convention-proof call as real 32-bit x86 code: callees of both
// conventions with the capture ABI's argument shapes, thousands of calls each,
// results, stack pointer and callee-saved registers checked around every raw
// call, and an exception thrown through the call. A plain program (no test
// framework) so that it builds both as a Windows program for 32-bit Wine and as
// a static 32-bit Linux program for machines whose kernel runs no 32-bit Wine.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "capture/CallOperation.h"

#if !defined(__i386__)
#error "the call under test is 32-bit x86 code"
#endif

#if defined(_WIN32)
#define QV_ASM_SYMBOL(name) "_" name
#else
#define QV_ASM_SYMBOL(name) name
#endif

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok && failures++ < 20) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

// Every value an argument can carry into the callee, folded so that a
// swapped, truncated or shifted argument changes the result.
std::int32_t fold(std::int32_t sum, std::uint32_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(sum) * 31u + value);
}

// One set of callees per convention, shaped like the ABI's operations.
#define QV_CALLEES(Name, CONVENTION)                                                                      \
    struct Name {                                                                                         \
        static std::int32_t CONVENTION channelOnly(std::uint16_t channel) { return fold(7, channel); }    \
        static std::int32_t CONVENTION withInt(std::uint16_t channel, std::int32_t value) {               \
            return fold(fold(7, channel), static_cast<std::uint32_t>(value));                             \
        }                                                                                                 \
        static std::int32_t CONVENTION withByte(std::uint16_t channel, std::uint8_t value) {              \
            return fold(fold(7, channel), value);                                                         \
        }                                                                                                 \
        static std::int32_t CONVENTION withOut(std::uint16_t channel, std::int32_t* out) {                \
            *out = fold(3, channel);                                                                      \
            return 0;                                                                                     \
        }                                                                                                 \
        static std::int32_t CONVENTION frame(std::uint16_t channel, std::uint8_t** pixels,                \
                                             std::int32_t* width, std::int32_t* height,                   \
                                             std::int32_t* sequence) {                                    \
            static std::uint8_t row[4];                                                                   \
            *pixels = row + channel;                                                                      \
            *width = 640 + channel;                                                                       \
            *height = 480 - channel;                                                                      \
            *sequence = fold(11, channel);                                                                \
            return fold(7, channel);                                                                      \
        }                                                                                                 \
        static std::int32_t CONVENTION save(std::uint16_t channel, const char* path, std::uint8_t format, \
                                            std::int32_t value) {                                         \
            return fold(fold(fold(fold(7, channel), static_cast<unsigned char>(path[0])), format),        \
                        static_cast<std::uint32_t>(value));                                               \
        }                                                                                                 \
        static std::int32_t CONVENTION throwing(std::uint16_t channel) {                                  \
            throw std::runtime_error("thrown by channel " + std::to_string(channel));                     \
        }                                                                                                 \
    }

#if defined(_WIN32)
QV_CALLEES(Cdecl, __cdecl);
QV_CALLEES(Stdcall, __stdcall);
#else
QV_CALLEES(Cdecl, __attribute__((cdecl)));
QV_CALLEES(Stdcall, __attribute__((stdcall)));
#endif

// The viewer holds every operation as a plain C function pointer, whatever
// the library's convention: so does this test.
template <typename Signature, typename Function>
Signature* asBound(Function* function) {
    return reinterpret_cast<Signature*>(reinterpret_cast<void*>(function));
}

struct Registers {
    std::uint32_t esp, ebx, esi, edi, ebp;
};

struct RawCall {
    const void* function;
    const std::uint32_t* arguments;
    std::uint32_t count;
    std::uint32_t result;
    Registers before;
    Registers after;
};

// Calls the thunk from assembly, as a __cdecl caller of it, and records the
// registers it must preserve right before and right after. The record's
// address travels on the stack across the call: no register is trusted.
void callRaw(RawCall& call) {
    asm volatile(
        "pushl %[call]\n\t"
        "movl %%esp, %c[before]+0(%[call])\n\t"
        "movl %%ebx, %c[before]+4(%[call])\n\t"
        "movl %%esi, %c[before]+8(%[call])\n\t"
        "movl %%edi, %c[before]+12(%[call])\n\t"
        "movl %%ebp, %c[before]+16(%[call])\n\t"
        "pushl %c[count](%[call])\n\t"
        "pushl %c[arguments](%[call])\n\t"
        "pushl %c[function](%[call])\n\t"
        "call " QV_ASM_SYMBOL("QuadviewCallRestoringStack") "\n\t"
        "addl $12, %%esp\n\t"
        "movl (%%esp), %%ecx\n\t"
        "movl %%eax, %c[result](%%ecx)\n\t"
        "movl %%esp, %c[after]+0(%%ecx)\n\t"
        "movl %%ebx, %c[after]+4(%%ecx)\n\t"
        "movl %%esi, %c[after]+8(%%ecx)\n\t"
        "movl %%edi, %c[after]+12(%%ecx)\n\t"
        "movl %%ebp, %c[after]+16(%%ecx)\n\t"
        "addl $4, %%esp\n\t"
        :
        : [call] "r"(&call), [function] "i"(offsetof(RawCall, function)),
          [arguments] "i"(offsetof(RawCall, arguments)), [count] "i"(offsetof(RawCall, count)),
          [result] "i"(offsetof(RawCall, result)), [before] "i"(offsetof(RawCall, before)),
          [after] "i"(offsetof(RawCall, after))
        : "eax", "ecx", "edx", "memory", "cc");
}

std::uint32_t slot(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

void checkRaw(const char* convention, const char* shape, const void* function,
              std::initializer_list<std::uint32_t> arguments, std::int32_t expected) {
    RawCall call{function, arguments.begin(), static_cast<std::uint32_t>(arguments.size()), 0, {}, {}};
    callRaw(call);
    const std::string what = std::string(convention) + " " + shape;
    check(static_cast<std::int32_t>(call.result) == expected, what + ": result");
    check(call.before.esp == call.after.esp, what + ": stack pointer moved");
    check(call.before.ebx == call.after.ebx, what + ": EBX changed");
    check(call.before.esi == call.after.esi, what + ": ESI changed");
    check(call.before.edi == call.after.edi, what + ": EDI changed");
    check(call.before.ebp == call.after.ebp, what + ": EBP changed");
}

template <typename Callees>
void drive(const char* convention, int rounds) {
    const auto channelOnly = asBound<std::int32_t(std::uint16_t)>(&Callees::channelOnly);
    const auto withInt = asBound<std::int32_t(std::uint16_t, std::int32_t)>(&Callees::withInt);
    const auto withByte = asBound<std::int32_t(std::uint16_t, std::uint8_t)>(&Callees::withByte);
    const auto withOut = asBound<std::int32_t(std::uint16_t, std::int32_t*)>(&Callees::withOut);
    const auto frame =
        asBound<std::int32_t(std::uint16_t, std::uint8_t**, std::int32_t*, std::int32_t*, std::int32_t*)>(
            &Callees::frame);
    const auto save =
        asBound<std::int32_t(std::uint16_t, const char*, std::uint8_t, std::int32_t)>(&Callees::save);
    const auto throwing = asBound<std::int32_t(std::uint16_t)>(&Callees::throwing);

    for (int round = 0; round < rounds; ++round) {
        const auto channel = static_cast<std::uint16_t>(round % 4);
        const std::int32_t value = static_cast<std::int32_t>(round * 2654435761u % 200) - 100;
        const auto byte = static_cast<std::uint8_t>(0xF0 + round % 16);
        const std::string text = round % 2 == 0 ? "photo" : "\xa4\xe9";

        // As the viewer calls: through CallOperation, arguments converted as it converts them.
        check(CallOperation(channelOnly, channel) == fold(7, channel), "channel only");
        check(CallOperation(withInt, channel, value) ==
                  fold(fold(7, channel), static_cast<std::uint32_t>(value)),
              "32-bit value");
        check(CallOperation(withByte, channel, byte) == fold(fold(7, channel), byte), "8-bit value");
        std::int32_t out = 0;
        check(CallOperation(withOut, channel, &out) == 0 && out == fold(3, channel), "out pointer");
        std::uint8_t* pixels = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t sequence = 0;
        check(CallOperation(frame, channel, &pixels, &width, &height, &sequence) == fold(7, channel) &&
                  pixels != nullptr && width == 640 + channel && height == 480 - channel &&
                  sequence == fold(11, channel),
              "five arguments");
        const std::int32_t saved =
            fold(fold(fold(fold(7, channel), static_cast<unsigned char>(text[0])), byte),
                 static_cast<std::uint32_t>(value));
        check(CallOperation(save, channel, text.c_str(), byte, value) == saved,
              "path, 8-bit and 32-bit values");

        // Raw, with the registers around the thunk checked.
        checkRaw(convention, "channel only", reinterpret_cast<const void*>(channelOnly), {channel},
                 fold(7, channel));
        checkRaw(convention, "8-bit value", reinterpret_cast<const void*>(withByte), {channel, byte},
                 fold(fold(7, channel), byte));
        checkRaw(convention, "five arguments", reinterpret_cast<const void*>(frame),
                 {channel, slot(&pixels), slot(&width), slot(&height), slot(&sequence)}, fold(7, channel));
        checkRaw(convention, "four arguments", reinterpret_cast<const void*>(save),
                 {channel, slot(text.c_str()), byte, static_cast<std::uint32_t>(value)}, saved);
    }

    // A library's exception passes through the thunk to the caller, and the stack is sound afterwards.
    bool caught = false;
    try {
        CallOperation(throwing, static_cast<std::uint16_t>(2));
    } catch (const std::runtime_error& error) {
        caught = std::string(error.what()) == "thrown by channel 2";
    }
    check(caught, std::string(convention) + ": the exception reached its catcher");
    checkRaw(convention, "after the exception", reinterpret_cast<const void*>(channelOnly), {3u}, fold(7, 3));
}

}  // namespace

int main() {
    constexpr int rounds = 5000;
    drive<Cdecl>("__cdecl", rounds);
    drive<Stdcall>("__stdcall", rounds);
    if (failures != 0) {
        std::fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    std::printf("calling_convention: %d rounds per convention passed\n", rounds);
    return 0;
}
