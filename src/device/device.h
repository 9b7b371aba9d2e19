// The Direct3D 11 device, its immediate context, the windowed swap chain and
// the back buffer's render target: created once at start-up, released at exit.
#pragma once

#include "platform/platform.h"

struct DeviceObjects {
    ID3D11Device *d3ddevice;
    ID3D11DeviceContext *d3dcontext;
    IDXGISwapChain *d3dswapchain;
    ID3D11RenderTargetView *d3drendertarget;
};

extern DeviceObjects deviceObjects;

// Negative when a step failed; otherwise the result of CreateRenderTargetView.
HRESULT InitDevice(HWND window, UINT width, UINT height);
HRESULT ReleaseDevice();
