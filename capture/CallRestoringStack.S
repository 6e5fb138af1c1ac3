/* uint32_t QuadviewCallRestoringStack(const void* function,
 *                                     const uint32_t* arguments, uint32_t count)
 *
 * 32-bit x86. __cdecl and __stdcall both push the arguments right to left
 * and return in EAX; they differ only in who pops the arguments. This thunk
 * copies the arguments below a 16-byte aligned stack pointer, calls, and then
 * takes the stack pointer back from EBP, which both conventions preserve, so
 * whatever the callee popped does not matter. ESI and EDI are callee-saved for
 * our own caller and are restored; EBX is not touched. The CFI lets C++
 * exceptions unwind through the thunk.
 *
 * One source for the Windows build (COFF, C symbols with a leading
 * underscore) and the Linux program that tests it where 32-bit Wine cannot
 * run (ELF). */
#if defined(_WIN32)
#define SYMBOL(name) _##name
#define FUNCTION_BEGIN(name) .def SYMBOL(name); .scl 2; .type 32; .endef
#define FUNCTION_END(name)
#else
#define SYMBOL(name) name
#define FUNCTION_BEGIN(name) .type SYMBOL(name), @function
#define FUNCTION_END(name) .size SYMBOL(name), . - SYMBOL(name)
#endif

    .text
    .globl  SYMBOL(QuadviewCallRestoringStack)
    FUNCTION_BEGIN(QuadviewCallRestoringStack)
    .p2align 4
SYMBOL(QuadviewCallRestoringStack):
    .cfi_startproc
    pushl   %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl    %esp, %ebp
    .cfi_def_cfa_register %ebp
    pushl   %esi
    .cfi_offset %esi, -12
    pushl   %edi
    .cfi_offset %edi, -16
    movl    16(%ebp), %ecx
    movl    12(%ebp), %esi
    leal    0(,%ecx,4), %eax
    subl    %eax, %esp
    andl    $-16, %esp
    movl    %esp, %edi
    cld
    rep movsl
    call    *8(%ebp)
    leal    -8(%ebp), %esp
    popl    %edi
    popl    %esi
    popl    %ebp
    .cfi_def_cfa %esp, 4
    ret
    .cfi_endproc
    FUNCTION_END(QuadviewCallRestoringStack)

#if !defined(_WIN32)
    .section .note.GNU-stack, "", @progbits
#endif
