// The swap chain, and D3D11CreateDeviceAndSwapChain, which makes the GL
// context on the window and the device, immediate context and swap chain
// over it.
//
// The back buffer is a texture behind a framebuffer object; Present
// stretches it onto the window.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/backend.h"
#include "platform/gl/d3d11/context.h"
#include "platform/gl/d3d11/device.h"
#include "platform/gl/x11/glx_context.h"
#include "platform/gl/d3d11/resources.h"

#include <string>

namespace d3d11gl {
namespace {

class SwapChain : public Object<IDXGISwapChain> {
  public:
    SwapChain(Device *d, Texture *buffer, GLuint fbo) : device_(d), readFbo_(fbo) {
        device_->Pin();
        Hold(buffer_, buffer);
    }
    ~SwapChain() override {
        glDeleteFramebuffers(1, &readFbo_);
        Hold(buffer_, static_cast<Texture *>(nullptr));
        device_->Unpin();
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(UINT index, REFIID riid, void **surface) override {
        if (!surface) return E_INVALIDARG;
        *surface = nullptr;
        if (index != 0) return E_INVALIDARG; // one buffer, as with a discarding swap chain
        if (!(riid == IID_ID3D11Texture2D)) return E_NOINTERFACE;
        buffer_->AddRef();
        *surface = static_cast<ID3D11Texture2D *>(buffer_);
        return S_OK;
    }

    // Stretches the back buffer over the client area, as DXGI does for a
    // windowed swap chain, and shows it; never waits for the vertical blank.
    HRESULT STDMETHODCALLTYPE Present(UINT, UINT) override {
        HWND__ *w = device_->window;
        if (w->width <= 0 || w->height <= 0) return S_OK;
        glBlitNamedFramebuffer(readFbo_, 0, 0, 0, buffer_->width, buffer_->height, 0, 0, w->width,
                               w->height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        glXSwapBuffers(w->display, w->window);
        return S_OK;
    }

  private:
    Device *const device_;
    Texture *buffer_ = nullptr;
    GLuint readFbo_  = 0;
};

D3D_FEATURE_LEVEL ChooseFeatureLevel(const D3D_FEATURE_LEVEL *levels, UINT count, bool &found) {
    found = true;
    if (!count) return D3D_FEATURE_LEVEL_11_0;
    for (UINT i = 0; i < count; ++i)
        if (levels[i] == D3D_FEATURE_LEVEL_11_0 || levels[i] == D3D_FEATURE_LEVEL_10_1 ||
            levels[i] == D3D_FEATURE_LEVEL_10_0)
            return levels[i];
    found = false;
    return D3D_FEATURE_LEVEL_11_0;
}

} // namespace
} // namespace d3d11gl

HRESULT WINAPI D3D11CreateDeviceAndSwapChain(IDXGIAdapter *, D3D_DRIVER_TYPE driverType, HMODULE,
                                             UINT, const D3D_FEATURE_LEVEL *levels, UINT levelCount,
                                             UINT sdkVersion, const DXGI_SWAP_CHAIN_DESC *desc,
                                             IDXGISwapChain **swapChain, ID3D11Device **device,
                                             D3D_FEATURE_LEVEL *featureLevel,
                                             ID3D11DeviceContext **context) {
    using namespace d3d11gl;
    if (swapChain) *swapChain = nullptr;
    if (device) *device = nullptr;
    if (context) *context = nullptr;
    if (sdkVersion != D3D11_SDK_VERSION || !desc || !swapChain || !device ||
        (levelCount && !levels) || !desc->OutputWindow)
        return E_INVALIDARG;
    if (driverType != D3D_DRIVER_TYPE_HARDWARE && driverType != D3D_DRIVER_TYPE_WARP) {
        ReportBackendError("only the hardware driver type is supported");
        return E_INVALIDARG;
    }
    bool found                    = false;
    const D3D_FEATURE_LEVEL level = ChooseFeatureLevel(levels, levelCount, found);
    if (!found) return DXGI_ERROR_UNSUPPORTED;
    if (desc->BufferDesc.Format != DXGI_FORMAT_R8G8B8A8_UNORM || desc->SampleDesc.Count != 1 ||
        desc->BufferCount < 1) {
        ReportBackendError("only a single-sampled R8G8B8A8_UNORM swap chain is supported");
        return E_INVALIDARG;
    }

    HWND__ *window = desc->OutputWindow;
    if (!window->display) {
        ReportBackendError("no X display to render to");
        return DXGI_ERROR_UNSUPPORTED;
    }
    std::string error;
    GLXContext gl = CreateGlContext(window, error);
    if (!gl) {
        ReportBackendError(error);
        return DXGI_ERROR_UNSUPPORTED;
    }

    // A zero size means the window's, as DXGI takes it.
    const GLsizei width  = desc->BufferDesc.Width ? desc->BufferDesc.Width : window->width;
    const GLsizei height = desc->BufferDesc.Height ? desc->BufferDesc.Height : window->height;
    auto *d              = new Device(window, gl);
    auto *ctx            = CreateContext(d);
    auto *backBuffer     = new Texture(d, width, height);
    const GLuint fbo     = CreateFramebuffer(backBuffer->name);
    if (!fbo || glGetError() != GL_NO_ERROR) {
        backBuffer->Release();
        ctx->Release();
        d->Release();
        ReportBackendError("cannot create the back buffer");
        return E_FAIL;
    }
    *swapChain = new SwapChain(d, backBuffer, fbo);
    backBuffer->Release(); // the swap chain holds it
    *device = d;
    if (context)
        *context = ctx;
    else
        ctx->Release();
    if (featureLevel) *featureLevel = level;
    return S_OK;
}
