// quadview for Windows: loads kesmacap.dll beside the program, then Form1 and its four cameras.
#include <windows.h>

#include "app/Startup.h"
#include "app/win32/Unit1.h"
#include "platform/text/Text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int show) {
    // The DLL's own dependencies, and anything loaded later, never from the current directory.
    SetDllDirectoryW(L"");
    const auto runForm1 = [instance, show](const CaptureLibrary& capture) {
        TForm1::Register(instance);
        TForm1 form1(instance, capture);
        form1.AddCamera();
        form1.AddCamera();
        form1.AddCamera();
        form1.AddCamera();
        const int status = form1.Run(show);
        form1.Destroy();
        return status;
    };
    return RunProgram([] { return CaptureLibrary::load(); }, runForm1,
                      [](const std::string& message) {
                          MessageBoxW(nullptr, Widen(message).c_str(), L"quadview", MB_OK | MB_ICONERROR);
                      });
}
