// The application shell: the window class, the window procedure and the
// program entry with its message-and-frame loop.
#pragma once

#include "platform/platform.h"

extern WNDCLASSEXA WindowClass;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The test double's build renames the entry (HOTFX_ENTRY) so tests can run
// the whole program in-process.
#ifdef HOTFX_ENTRY
int HOTFX_ENTRY(int argc, char **argv);
#endif
