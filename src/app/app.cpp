// Window class, window procedure and the program entry. One thread: the loop
// drains the messages, renders a frame and sleeps 16 ms, never blocking.
#include "app/app.h"

#include "device/device.h"
#include "scene/scene.h"

#ifndef HOTFX_ENTRY
#define HOTFX_ENTRY main
#endif

// The icon, cursor and brush are fetched during static initialisation; the
// module handle is filled in by the entry just before registration. The size
// is the structure's own, which is 48 bytes on 32-bit Windows and 80 on
// 64-bit, where a fixed 48 would make the registration fail.
WNDCLASSEXA WindowClass = {
    sizeof(WNDCLASSEXA),
    CS_CLASSDC | CS_HREDRAW | CS_VREDRAW,
    WindowProc,
    0,
    0,
    nullptr,
    LoadIconA(nullptr, IDI_APPLICATION),
    LoadCursorA(nullptr, IDC_ARROW),
    static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)),
    nullptr,
    "test",
    nullptr,
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
        // Closing only posts the quit message; the window goes with the process.
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) PostQuitMessage(0); // and still passed on
        break;
    case WM_SYSCOMMAND: {
        // Keep the screen saver and monitor power-down away while we run.
        const WPARAM command = wParam & 0xFFF0;
        if (command == SC_MONITORPOWER || command == SC_SCREENSAVE) return 0;
        break;
    }
    case WM_IME_SETCONTEXT:
        lParam &= 0x3FFFFFF0; // no composition, guideline or candidate windows
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int HOTFX_ENTRY(int, char **) {
    WindowClass.hInstance = GetModuleHandleA(nullptr);
    if (!RegisterClassExA(&WindowClass)) return 1;

    HWND window =
        CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, "test", "test", WS_OVERLAPPEDWINDOW, 0,
                        0, 1024, 768, nullptr, nullptr, WindowClass.hInstance, nullptr);
    if (!window) {
        OutputDebugStringA("ERROR : Can't Create Window");
        return 0;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    if (InitDevice(window, 1024, 768) == 0) {
        LoadScene();

        bool quit = false;
        do {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    quit = true; // never dispatched
                    break;
                }
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            // The iteration that takes WM_QUIT still renders and sleeps once.
            RenderFrame();
            Sleep(16);
        } while (!quit);
    }

    ReleaseScene();
    ReleaseDevice();
    return 0;
}
