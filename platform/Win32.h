// The subset of the Win32 kernel and graphics API the live view uses, with
// Win32's own names, types and signatures. On Windows <windows.h> takes the
// place of this header; on Linux the operations are implemented over eventfd,
// poll, std::thread and DrawableWindow.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else

#include <cstdint>

// Linux stand-ins for the handle types: each names the object it refers to, so
// a wrong handle kind fails to compile instead of failing at run time.
class DrawableWindow;
class DeviceContext;
class DibSection;

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using LPVOID = void*;
using HANDLE = void*;
using HWND = DrawableWindow*;
using HDC = DeviceContext*;
using HGDIOBJ = void*;  // as in <windows.h>: any GDI object; here a DIB section is the only kind
using HBITMAP = DibSection*;

#define WINAPI

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000u;
constexpr DWORD WAIT_TIMEOUT = 0x00000102u;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD SRCCOPY = 0x00CC0020u;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD BI_RGB = 0;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// Kernel. An event HANDLE stands for an eventfd descriptor with manual-reset
// meaning: signalled while its counter is not 0. A thread HANDLE is a joinable
// thread; WaitForSingleObject and CloseHandle take thread handles only, since
// events belong to the capture library that made them.
HANDLE CreateThread(void* threadAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE startAddress,
                    LPVOID parameter, DWORD creationFlags, DWORD* threadId);
DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL CloseHandle(HANDLE thread);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
void Sleep(DWORD milliseconds);

// Graphics. GetDC gives a context on a window; CreateCompatibleDC a
// memory context into which one 24-bit DIB section can be selected.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);

#endif
