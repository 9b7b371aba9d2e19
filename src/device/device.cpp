// Device, swap chain, render target and viewport. The render target and the
// viewport are bound once here and stay bound for the life of the process.
#include "device/device.h"

#include <cstdio>

DeviceObjects deviceObjects;

// Device failures go to both channels: the debugger without a line end,
// standard output with one.
static void ReportDeviceError(const char *text) {
    OutputDebugStringA(text);
    std::printf("%s\n", text);
    std::fflush(stdout);
}

HRESULT InitDevice(HWND window, UINT width, UINT height) {
    DeviceObjects &d = deviceObjects;

    DXGI_SWAP_CHAIN_DESC desc               = {};
    desc.BufferDesc.Width                   = width;
    desc.BufferDesc.Height                  = height;
    desc.BufferDesc.RefreshRate.Numerator   = 60;
    desc.BufferDesc.RefreshRate.Denominator = 1;
    desc.BufferDesc.Format                  = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count                   = 1;
    desc.SampleDesc.Quality                 = 0;
    desc.BufferUsage                        = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount                        = 1;
    desc.OutputWindow                       = window;
    desc.Windowed                           = TRUE;
    desc.SwapEffect                         = DXGI_SWAP_EFFECT_DISCARD;
    desc.Flags                              = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;

    // No adapter, no feature-level list: the runtime's default hardware device.
    HRESULT hr = D3D11CreateDeviceAndSwapChain(
        nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &desc,
        &d.d3dswapchain, &d.d3ddevice, nullptr, &d.d3dcontext);
    if (FAILED(hr)) {
        ReportDeviceError("ERROR : D3D11CreateDeviceAndSwapChain");
        return hr;
    }

    ID3D11Texture2D *texture = nullptr;
    hr = d.d3dswapchain->GetBuffer(0, IID_ID3D11Texture2D, reinterpret_cast<void **>(&texture));
    if (FAILED(hr)) {
        ReleaseSlot(texture);
        ReportDeviceError("ERROR : d3dswapchain->GetBuffer");
        return hr;
    }

    hr = d.d3ddevice->CreateRenderTargetView(texture, nullptr, &d.d3drendertarget);
    ReleaseSlot(texture); // the view holds the back buffer from here on
    if (FAILED(hr)) {
        ReportDeviceError("ERROR : CreateRenderTargetView");
        return hr;
    }

    d.d3dcontext->OMSetRenderTargets(1, &d.d3drendertarget, nullptr);

    D3D11_VIEWPORT viewport = {};
    viewport.TopLeftX       = 0.0f;
    viewport.TopLeftY       = 0.0f;
    viewport.Width          = static_cast<FLOAT>(width);
    viewport.Height         = static_cast<FLOAT>(height);
    viewport.MinDepth       = 0.0f;
    viewport.MaxDepth       = 1.0f;
    d.d3dcontext->RSSetViewports(1, &viewport);

    return hr;
}

HRESULT ReleaseDevice() {
    DeviceObjects &d = deviceObjects;
    ReleaseSlot(d.d3drendertarget);
    ReleaseSlot(d.d3dswapchain);
    ReleaseSlot(d.d3dcontext);
    ReleaseSlot(d.d3ddevice);
    return 0;
}
