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
#include <vector>

namespace d3d11gl {
namespace {

// The stretch of the back buffer onto the window as one textured quad,
// sampled bilinearly at the window's pixel centres as glBlitFramebuffer's
// GL_LINEAR does. llvmpipe draws it in about two thirds of the time its
// general blitter takes (2.7 against 4.1 ms for 1024 x 768 onto 1008 x 729).
struct Stretch {
    GLuint program = 0, sampler = 0;
};

// A texture unit no shader stage uses (bindings.h gives them 16 each).
constexpr GLuint kStretchUnit = 3 * kUnitsPerStage;

GLuint CompiledShader(GLenum type, const char *source) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    glDeleteShader(shader);
    return 0;
}

// No program where the driver refuses it: Present then blits.
Stretch CreateStretch() {
    static const char *const vertex   = R"(#version 450
        noperspective out vec2 uv;
        void main() {
            uv          = vec2(gl_VertexID & 1, gl_VertexID >> 1);
            gl_Position = vec4(uv * 2.0 - 1.0, 0.0, 1.0);
        })";
    static const char *const fragment = R"(#version 450
        noperspective in vec2 uv;
        uniform sampler2D image;
        out vec4 colour;
        void main() { colour = texture(image, uv); })";
    Stretch s;
    const GLuint v = CompiledShader(GL_VERTEX_SHADER, vertex);
    const GLuint f = CompiledShader(GL_FRAGMENT_SHADER, fragment);
    if (v && f) {
        s.program = glCreateProgram();
        glAttachShader(s.program, v);
        glAttachShader(s.program, f);
        glLinkProgram(s.program);
        GLint linked = GL_FALSE;
        glGetProgramiv(s.program, GL_LINK_STATUS, &linked);
        if (!linked) {
            glDeleteProgram(s.program);
            s.program = 0;
        }
    }
    glDeleteShader(v);
    glDeleteShader(f);
    if (!s.program) return s;
    glProgramUniform1i(s.program, glGetUniformLocation(s.program, "image"),
                       static_cast<GLint>(kStretchUnit));
    glCreateSamplers(1, &s.sampler);
    glSamplerParameteri(s.sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(s.sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(s.sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(s.sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return s;
}

void DestroyStretch(Stretch &s) {
    glDeleteProgram(s.program);
    glDeleteSamplers(1, &s.sampler);
    s = Stretch();
}

// Draws the quad over the window with the device context's state set aside
// and put back: its target, viewport, rasterizer state and clip distances;
// the program pipeline takes over again once no program is in use.
void DrawStretched(const Stretch &s, GLuint texture, GLsizei width, GLsizei height) {
    GLint target = 0, polygon[2] = {GL_FILL, GL_FILL};
    GLfloat viewport[4] = {};
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    glGetFloati_v(GL_VIEWPORT, 0, viewport);
    glGetIntegerv(GL_POLYGON_MODE, polygon);
    const GLboolean cull = glIsEnabled(GL_CULL_FACE);
    GLint clips          = 0;
    glGetIntegerv(GL_MAX_CLIP_DISTANCES, &clips);
    std::vector<GLenum> enabled;
    for (GLint i = 0; i < clips; ++i)
        if (glIsEnabled(GL_CLIP_DISTANCE0 + static_cast<GLenum>(i)))
            enabled.push_back(GL_CLIP_DISTANCE0 + static_cast<GLenum>(i));

    for (GLenum clip : enabled)
        glDisable(clip);
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glViewportIndexedf(0, 0, 0, static_cast<GLfloat>(width), static_cast<GLfloat>(height));
    glBindTextureUnit(kStretchUnit, texture);
    glBindSampler(kStretchUnit, s.sampler);
    glUseProgram(s.program);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glUseProgram(0);

    glViewportIndexedfv(0, viewport);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(target));
    if (cull) glEnable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, static_cast<GLenum>(polygon[0]));
    for (GLenum clip : enabled)
        glEnable(clip);
}

class SwapChain : public Object<IDXGISwapChain> {
  public:
    SwapChain(Device *d, Texture *buffer, GLuint fbo) : device_(d), readFbo_(fbo) {
        device_->Pin();
        Hold(buffer_, buffer);
        stretch_ = CreateStretch();
    }
    ~SwapChain() override {
        DestroyStretch(stretch_);
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
        if (stretch_.program)
            DrawStretched(stretch_, buffer_->name, w->width, w->height);
        else
            glBlitNamedFramebuffer(readFbo_, 0, 0, 0, buffer_->width, buffer_->height, 0, 0,
                                   w->width, w->height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        glXSwapBuffers(w->display, w->window);
        return S_OK;
    }

  private:
    Device *const device_;
    Texture *buffer_ = nullptr;
    GLuint readFbo_  = 0;
    Stretch stretch_;
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
