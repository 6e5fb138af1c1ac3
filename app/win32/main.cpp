// quadview for Windows: loads kesmacap.dll beside the program, then Form1 and its four cameras.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <optional>

#include "app/win32/Text.h"
#include "app/win32/Unit1.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int show) {
    // The DLL's own dependencies, and anything loaded later, never from the current directory.
    SetDllDirectoryW(L"");
    std::optional<CaptureLibrary> capture;
    try {
        capture = CaptureLibrary::load();
    } catch (const CaptureLibraryError& error) {
        // Also on standard error, for a console or a log that is watching.
        std::fprintf(stderr, "quadview: %s\n", error.what());
        MessageBoxW(nullptr, Widen(error.what()).c_str(), L"quadview", MB_OK | MB_ICONERROR);
        return 1;
    }
    try {
        TForm1::Register(instance);
        TForm1 form1(instance, *capture);
        form1.AddCamera();
        form1.AddCamera();
        form1.AddCamera();
        form1.AddCamera();
        const int status = form1.Run(show);
        form1.Destroy();
        return status;
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, Widen(error.what()).c_str(), L"quadview", MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(nullptr, L"", L"quadview", MB_OK | MB_ICONERROR);
    }
    return 1;
}
