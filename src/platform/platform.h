// The one header the system includes for everything it takes from the
// platform. On Windows it brings the SDK headers; elsewhere our own portable
// declarations of the same names, implemented by the backend chosen at link
// time (the Linux backend or the test double).
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <d3d11.h>
#include <d3d10shader.h> // D3D10_SHADER_MACRO, LPD3D10INCLUDE, D3D10_SHADER_ENABLE_STRICTNESS
// Only passed through as null: the legacy SDK's header that declares it is
// not needed to build.
struct ID3DX11ThreadPump;
#else
#include "platform/portable/win32.h"
#include "platform/portable/d3d11.h"
#endif

// The D3DX11 compiler entry point. On Windows it is ours (src/platform/win32),
// loading the compiler DLL at run time so no legacy SDK is needed to build.
HRESULT WINAPI D3DX11CompileFromFileA(LPCSTR srcFile, const D3D10_SHADER_MACRO *defines,
                                      LPD3D10INCLUDE include, LPCSTR functionName, LPCSTR profile,
                                      UINT flags1, UINT flags2, ID3DX11ThreadPump *pump,
                                      ID3D10Blob **shader, ID3D10Blob **errorMsgs,
                                      HRESULT *hresult);

// A slot is null or owns one reference: releasing it calls Release when an
// object is there, then nulls the slot, so releasing twice is harmless.
template <class T> inline void ReleaseSlot(T *&slot) {
    if (slot) {
        slot->Release();
        slot = nullptr;
    }
}
