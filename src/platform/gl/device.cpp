// Direct3D 11 device, immediate context and swap chain over OpenGL 4.5 core
// through GLX.
//
// One GL context, made current on the window when the device is created,
// serves every object (one device at a time). The back buffer is a texture
// behind a framebuffer object; Present stretches it onto the window. Shaders
// are separable GL programs made from the GLSL that TranslateToGlsl writes,
// combined at draw time in one program pipeline. The draw has no vertex
// input, so an empty vertex array object stays bound.
//
// Coordinates follow what the translated pixel stage expects (translate.h):
// gl_FragCoord counts rows from the top of the image. The FBO is rendered
// with lower-left clip control, so clip-space +y is the top of the image as
// on Windows, and is copied to the window without a flip.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/backend.h"
#include "platform/gl/bindings.h"
#include "platform/gl/empty_textures.h"
#include "platform/gl/translate.h"
#include "platform/gl/window.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <GL/glxext.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr UINT kMaxConstantSize = 65536;

int liveObjects = 0;

// D3D's reference discipline: an object starts with one reference, its
// creator's. What the pipeline binds and what one object needs of another is
// held by a pin, which, like the runtime's internal references, does not show
// in the counts AddRef and Release return. The object (and its GL names) goes
// when both are gone.
template <class Interface> class Object : public Interface {
  public:
    Object() { ++liveObjects; }
    ~Object() override { --liveObjects; }
    Object(const Object &)            = delete;
    Object &operator=(const Object &) = delete;

    uint32_t STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    uint32_t STDMETHODCALLTYPE Release() override {
        // One release too many while the pipeline still holds the object:
        // ignored, so the count never wraps.
        if (refs_ == 0) return 0;
        const uint32_t left = --refs_;
        if (left == 0 && pins_ == 0) delete this;
        return left;
    }
    void Pin() { ++pins_; }
    void Unpin() {
        if (--pins_ == 0 && refs_ == 0) delete this;
    }

  private:
    uint32_t refs_ = 1;
    uint32_t pins_ = 0;
};

// Points a pinned slot at another object (or none).
template <class T> void Hold(T *&slot, T *object) {
    if (object) object->Pin();
    if (slot) slot->Unpin();
    slot = object;
}

class Device;

// Everything the device makes keeps the device, and so the GL context, alive.
template <class Interface> class Child : public Object<Interface> {
  public:
    explicit Child(Device *owner);
    ~Child() override;
    Device *const device;
};

class Texture : public Child<ID3D11Texture2D> {
  public:
    Texture(Device *owner, GLsizei w, GLsizei h) : Child(owner), width(w), height(h) {
        glCreateTextures(GL_TEXTURE_2D, 1, &name);
        glTextureStorage2D(name, 1, GL_RGBA8, width, height);
    }
    ~Texture() override { glDeleteTextures(1, &name); }
    GLuint name = 0;
    const GLsizei width, height;
};

GLuint CreateFramebuffer(GLuint texture) {
    GLuint fbo = 0;
    glCreateFramebuffers(1, &fbo);
    glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0, texture, 0);
    if (glCheckNamedFramebufferStatus(fbo, GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        glDeleteFramebuffers(1, &fbo);
        return 0;
    }
    return fbo;
}

class RenderTargetView : public Child<ID3D11RenderTargetView> {
  public:
    RenderTargetView(Device *owner, Texture *t, GLuint f) : Child(owner), fbo(f) {
        Hold(texture, t);
    }
    ~RenderTargetView() override {
        glDeleteFramebuffers(1, &fbo);
        Hold(texture, static_cast<Texture *>(nullptr));
    }
    Texture *texture = nullptr;
    const GLuint fbo;
};

template <class Interface> class Shader : public Child<Interface> {
  public:
    Shader(Device *owner, GLuint p, Translation &&t)
        : Child<Interface>(owner), program(p), outputs(std::move(t.outputs)),
          textures(std::move(t.textures)) {}
    ~Shader() override { glDeleteProgram(program); }
    const GLuint program;
    const StageOutputs outputs;              // what the next stage links against
    const std::vector<TexturePair> textures; // the units the context binds
};
using VertexShader   = Shader<ID3D11VertexShader>;
using GeometryShader = Shader<ID3D11GeometryShader>;
using PixelShader    = Shader<ID3D11PixelShader>;

class RasterizerState : public Child<ID3D11RasterizerState> {
  public:
    RasterizerState(Device *owner, const D3D11_RASTERIZER_DESC &d) : Child(owner), desc(d) {}
    const D3D11_RASTERIZER_DESC desc;
};

class Buffer : public Child<ID3D11Buffer> {
  public:
    // The GL buffer always has the largest constant-buffer size, zeros past
    // the given data: a shader may declare a larger buffer than the one
    // bound, and D3D reads zeros beyond its end where GL leaves it undefined.
    Buffer(Device *owner, UINT bytes, const void *data) : Child(owner), size(bytes) {
        glCreateBuffers(1, &name);
        glNamedBufferData(name, kMaxConstantSize, std::vector<char>(kMaxConstantSize).data(),
                          GL_DYNAMIC_DRAW);
        if (data) glNamedBufferSubData(name, 0, size, data);
    }
    ~Buffer() override { glDeleteBuffers(1, &name); }
    GLuint name = 0;
    const UINT size;
};

// Translates the bytecode against the outputs of the stage before it and
// compiles it. On success *shader (when given) is the new shader object.
template <class Interface>
HRESULT CreateShader(Device *owner, ShaderStage stage, const StageOutputs *previous,
                     const void *bytecode, SIZE_T length, Interface **shader) {
    static const GLenum types[]      = {GL_VERTEX_SHADER, GL_GEOMETRY_SHADER, GL_FRAGMENT_SHADER};
    static const char *const names[] = {"vertex", "geometry", "pixel"};
    const GLenum type                = types[static_cast<uint32_t>(stage)];
    const std::string stageName      = names[static_cast<uint32_t>(stage)];
    if (shader) *shader = nullptr;
    if (!bytecode || !length) return E_INVALIDARG;
    Translation translation;
    std::string error;
    if (!TranslateToGlsl(stage, bytecode, length, previous, translation, error)) {
        ReportBackendError("the " + stageName + " shader cannot be translated: " + error);
        return E_INVALIDARG;
    }
    const char *source = translation.glsl.c_str();
    GLuint program     = glCreateShaderProgramv(type, 1, &source);
    GLint linked       = GL_FALSE;
    if (program) glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        std::string log;
        GLint length = 0;
        if (program) glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        if (length > 0) {
            log.resize(static_cast<size_t>(length));
            glGetProgramInfoLog(program, length, nullptr, &log[0]);
            log.resize(std::strlen(log.c_str()));
        }
        glDeleteProgram(program);
        ReportBackendError("the GL driver rejected the " + stageName + " shader: " + log);
        return E_FAIL;
    }
    if (!shader) {
        glDeleteProgram(program);
        return S_FALSE; // validated, nothing created: the out pointer was null
    }
    *shader = new Shader<Interface>(owner, program, std::move(translation));
    return S_OK;
}

class Device : public Object<ID3D11Device> {
  public:
    Device(HWND__ *w, GLXContext c) : window(w), context(c) {}
    ~Device() override {
        glXMakeCurrent(window->display, None, nullptr);
        glXDestroyContext(window->display, context);
    }

    HRESULT STDMETHODCALLTYPE CreateRenderTargetView(ID3D11Resource *resource,
                                                     const D3D11_RENDER_TARGET_VIEW_DESC *desc,
                                                     ID3D11RenderTargetView **view) override {
        if (view) *view = nullptr;
        auto *texture = dynamic_cast<Texture *>(resource);
        // A view description is never passed here; only the texture's own format is supported.
        if (!texture || texture->device != this || desc) return E_INVALIDARG;
        if (!view) return S_FALSE;
        const GLuint fbo = CreateFramebuffer(texture->name);
        if (!fbo) return E_FAIL;
        *view = new RenderTargetView(this, texture, fbo);
        return S_OK;
    }

    // GL needs a stage's input locations when its GLSL is written, while
    // D3D combines any vertex, geometry and pixel shader at draw time. So a
    // geometry shader links against the most recently created vertex
    // shader, and a pixel shader against the most recently created geometry
    // or vertex shader: the system creates the three of a scene in that
    // order and draws them together, and a shader that does not fit the one
    // before it then fails its own creation, which the scene load reports,
    // instead of drawing wrongly later.
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const void *bytecode, SIZE_T length,
                                                 ID3D11ClassLinkage *,
                                                 ID3D11VertexShader **shader) override {
        const HRESULT hr =
            CreateShader(this, ShaderStage::Vertex, nullptr, bytecode, length, shader);
        if (hr == S_OK)
            vertexOutputs_ = pixelInputs_ = static_cast<VertexShader *>(*shader)->outputs;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreateGeometryShader(const void *bytecode, SIZE_T length,
                                                   ID3D11ClassLinkage *,
                                                   ID3D11GeometryShader **shader) override {
        const HRESULT hr = CreateShader(this, ShaderStage::Geometry, Previous(vertexOutputs_),
                                        bytecode, length, shader);
        if (hr == S_OK) pixelInputs_ = static_cast<GeometryShader *>(*shader)->outputs;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const void *bytecode, SIZE_T length,
                                                ID3D11ClassLinkage *,
                                                ID3D11PixelShader **shader) override {
        return CreateShader(this, ShaderStage::Pixel, Previous(pixelInputs_), bytecode, length,
                            shader);
    }

    HRESULT STDMETHODCALLTYPE CreateRasterizerState(const D3D11_RASTERIZER_DESC *desc,
                                                    ID3D11RasterizerState **state) override {
        if (state) *state = nullptr;
        if (!desc ||
            (desc->FillMode != D3D11_FILL_SOLID && desc->FillMode != D3D11_FILL_WIREFRAME) ||
            desc->CullMode < D3D11_CULL_NONE || desc->CullMode > D3D11_CULL_BACK)
            return E_INVALIDARG;
        if (!state) return S_FALSE;
        *state = new RasterizerState(this, *desc);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *desc,
                                           const D3D11_SUBRESOURCE_DATA *initialData,
                                           ID3D11Buffer **buffer) override {
        if (buffer) *buffer = nullptr;
        if (!desc || desc->ByteWidth == 0 || desc->ByteWidth % 16 != 0 ||
            desc->ByteWidth > kMaxConstantSize || (initialData && !initialData->pSysMem) ||
            desc->Usage == D3D11_USAGE_STAGING ||
            (desc->Usage == D3D11_USAGE_IMMUTABLE && !initialData))
            return E_INVALIDARG;
        if (desc->BindFlags != D3D11_BIND_CONSTANT_BUFFER) {
            ReportBackendError("only constant buffers are supported");
            return E_INVALIDARG;
        }
        if (!buffer) return S_FALSE;
        while (glGetError() != GL_NO_ERROR) {
        }
        auto *b = new Buffer(this, desc->ByteWidth, initialData ? initialData->pSysMem : nullptr);
        if (glGetError() == GL_OUT_OF_MEMORY) {
            b->Release();
            return E_OUTOFMEMORY;
        }
        *buffer = b;
        return S_OK;
    }

    HWND__ *const window;
    const GLXContext context;

  private:
    static const StageOutputs *Previous(const std::optional<StageOutputs> &outputs) {
        return outputs ? &*outputs : nullptr;
    }

    // The outputs of the most recently created vertex shader, and of the
    // most recently created vertex or geometry shader: what the next
    // geometry and pixel shader link against.
    std::optional<StageOutputs> vertexOutputs_, pixelInputs_;
};

template <class Interface> Child<Interface>::Child(Device *owner) : device(owner) {
    device->Pin();
}
template <class Interface> Child<Interface>::~Child() {
    device->Unpin();
}

// D3D's default rasterizer state, used when none is set.
const D3D11_RASTERIZER_DESC kDefaultRasterizer = {
    D3D11_FILL_SOLID, D3D11_CULL_BACK, FALSE, 0, 0.0f, 0.0f, TRUE, FALSE, FALSE, FALSE};

class Context : public Child<ID3D11DeviceContext> {
  public:
    explicit Context(Device *owner) : Child(owner) {
        glCreateVertexArrays(1, &vao_);
        glBindVertexArray(vao_);
        glCreateProgramPipelines(1, &pipeline_);
        glBindProgramPipeline(pipeline_);
        // D3D's clip space: depth from 0 to 1; +y is the top of the image.
        glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
        ApplyRasterizer(kDefaultRasterizer);
        // An empty constant-buffer slot reads zeros, as on D3D.
        glCreateBuffers(1, &zeros_);
        glNamedBufferData(zeros_, kMaxConstantSize, std::vector<char>(kMaxConstantSize).data(),
                          GL_STATIC_DRAW);
        for (UINT binding = 0; binding < kConstantBufferBindings; ++binding)
            glBindBufferBase(GL_UNIFORM_BUFFER, binding, zeros_);
        CreateEmptyTextures(empty_, zeros_);
    }
    ~Context() override {
        OMSetRenderTargets(0, nullptr, nullptr);
        RSSetState(nullptr);
        VSSetShader(nullptr, nullptr, 0);
        GSSetShader(nullptr, nullptr, 0);
        PSSetShader(nullptr, nullptr, 0);
        ID3D11Buffer *const none[kConstantBufferSlots] = {};
        VSSetConstantBuffers(0, kConstantBufferSlots, none);
        GSSetConstantBuffers(0, kConstantBufferSlots, none);
        PSSetConstantBuffers(0, kConstantBufferSlots, none);
        glBindProgramPipeline(0);
        glDeleteProgramPipelines(1, &pipeline_);
        glBindVertexArray(0);
        glDeleteVertexArrays(1, &vao_);
        DestroyEmptyTextures(empty_);
        glDeleteBuffers(1, &zeros_);
    }

    void STDMETHODCALLTYPE OMSetRenderTargets(UINT count, ID3D11RenderTargetView *const *views,
                                              ID3D11DepthStencilView *) override {
        RenderTargetView *view =
            count && views ? dynamic_cast<RenderTargetView *>(views[0]) : nullptr;
        Hold(target_, view);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target_ ? target_->fbo : 0);
        ApplyViewport();
    }

    void STDMETHODCALLTYPE RSSetViewports(UINT count, const D3D11_VIEWPORT *viewports) override {
        if (!count || !viewports) return;
        viewport_    = viewports[0];
        hasViewport_ = true;
        ApplyViewport();
    }

    void STDMETHODCALLTYPE ClearRenderTargetView(ID3D11RenderTargetView *view,
                                                 const FLOAT colour[4]) override {
        auto *v = dynamic_cast<RenderTargetView *>(view);
        if (v && colour) glClearNamedFramebufferfv(v->fbo, GL_COLOR, 0, colour);
    }

    void STDMETHODCALLTYPE RSSetState(ID3D11RasterizerState *state) override {
        Hold(state_, dynamic_cast<RasterizerState *>(state));
        ApplyRasterizer(state_ ? state_->desc : kDefaultRasterizer);
    }

    void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource *resource, UINT subresource,
                                             const D3D11_BOX *box, const void *data, UINT,
                                             UINT) override {
        auto *buffer = dynamic_cast<Buffer *>(resource);
        if (!buffer || subresource != 0 || !data) return;
        UINT begin = 0, end = buffer->size;
        if (box) {
            if (box->left >= box->right || box->right > buffer->size) return;
            begin = box->left;
            end   = box->right;
        }
        glNamedBufferSubData(buffer->name, begin, end - begin, data);
    }

    void STDMETHODCALLTYPE VSSetShader(ID3D11VertexShader *shader, ID3D11ClassInstance *const *,
                                       UINT) override {
        SetStage(vs_, dynamic_cast<VertexShader *>(shader), GL_VERTEX_SHADER_BIT);
    }
    void STDMETHODCALLTYPE GSSetShader(ID3D11GeometryShader *shader, ID3D11ClassInstance *const *,
                                       UINT) override {
        SetStage(gs_, dynamic_cast<GeometryShader *>(shader), GL_GEOMETRY_SHADER_BIT);
    }
    void STDMETHODCALLTYPE PSSetShader(ID3D11PixelShader *shader, ID3D11ClassInstance *const *,
                                       UINT) override {
        SetStage(ps_, dynamic_cast<PixelShader *>(shader), GL_FRAGMENT_SHADER_BIT);
    }

    void STDMETHODCALLTYPE VSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        SetConstants(ShaderStage::Vertex, slot, count, buffers);
    }
    void STDMETHODCALLTYPE GSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        SetConstants(ShaderStage::Geometry, slot, count, buffers);
    }
    void STDMETHODCALLTYPE PSSetConstantBuffers(UINT slot, UINT count,
                                                ID3D11Buffer *const *buffers) override {
        SetConstants(ShaderStage::Pixel, slot, count, buffers);
    }

    void STDMETHODCALLTYPE IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology) override {
        topology_ = topology;
    }
    // No input layout can be created here, so there is none to bind.
    void STDMETHODCALLTYPE IASetInputLayout(ID3D11InputLayout *) override {}

    void STDMETHODCALLTYPE DrawInstanced(UINT vertexCount, UINT instanceCount, UINT startVertex,
                                         UINT startInstance) override {
        if (!target_ || topology_ != D3D11_PRIMITIVE_TOPOLOGY_POINTLIST || !vertexCount ||
            !instanceCount || !PipelineValid())
            return;
        glDrawArraysInstancedBaseInstance(GL_POINTS, static_cast<GLint>(startVertex),
                                          static_cast<GLsizei>(vertexCount),
                                          static_cast<GLsizei>(instanceCount), startInstance);
    }

  private:
    void ApplyViewport() {
        if (!hasViewport_) return;
        // D3D counts viewport rows from the top of the target, GL from the
        // bottom.
        const float targetHeight = target_ ? static_cast<float>(target_->texture->height) : 0.0f;
        const D3D11_VIEWPORT &v  = viewport_;
        glViewportIndexedf(0, v.TopLeftX, targetHeight - v.TopLeftY - v.Height, v.Width, v.Height);
        glDepthRangeIndexed(0, v.MinDepth, v.MaxDepth);
    }

    static void ApplyRasterizer(const D3D11_RASTERIZER_DESC &d) {
        glPolygonMode(GL_FRONT_AND_BACK, d.FillMode == D3D11_FILL_WIREFRAME ? GL_LINE : GL_FILL);
        if (d.CullMode == D3D11_CULL_NONE) {
            glDisable(GL_CULL_FACE);
        } else {
            glEnable(GL_CULL_FACE);
            glCullFace(d.CullMode == D3D11_CULL_FRONT ? GL_FRONT : GL_BACK);
        }
        // The image is not flipped on its way to the window, so the winding
        // GL sees is the one seen on the screen; D3D's front is clockwise
        // unless told otherwise.
        glFrontFace(d.FrontCounterClockwise ? GL_CCW : GL_CW);
        if (d.DepthClipEnable)
            glDisable(GL_DEPTH_CLAMP);
        else
            glEnable(GL_DEPTH_CLAMP);
        // There is no depth buffer, so depth bias has no effect; scissor
        // rectangles cannot be set through these interfaces.
    }

    template <class S> void SetStage(S *&slot, S *shader, GLbitfield stage) {
        if (slot == shader) return;
        Hold(slot, shader);
        glUseProgramStages(pipeline_, stage, shader ? shader->program : 0);
        // No texture slot is ever set, so each unit the stage samples
        // through reads an empty slot.
        if (shader) BindEmptyTextures(empty_, shader->textures);
        checked_ = false;
    }

    // Each stage's slots have uniform-buffer bindings of their own
    // (bindings.h), where that stage's GLSL reads them; an emptied slot
    // reads zeros.
    void SetConstants(ShaderStage stage, UINT slot, UINT count, ID3D11Buffer *const *buffers) {
        if (!buffers || slot >= kConstantBufferSlots || count > kConstantBufferSlots - slot) return;
        for (UINT i = 0; i < count; ++i) {
            Buffer *b = dynamic_cast<Buffer *>(buffers[i]);
            Hold(constants_[static_cast<uint32_t>(stage)][slot + i], b);
            glBindBufferBase(GL_UNIFORM_BUFFER, ConstantBufferBinding(stage, slot + i),
                             b ? b->name : zeros_);
        }
    }

    // A pipeline whose stages do not fit together draws nothing; say why
    // once each time the stages change.
    bool PipelineValid() {
        if (!checked_) {
            checked_ = true;
            glValidateProgramPipeline(pipeline_);
            GLint ok = GL_FALSE;
            glGetProgramPipelineiv(pipeline_, GL_VALIDATE_STATUS, &ok);
            valid_ = ok == GL_TRUE;
            if (!valid_) {
                GLint length = 0;
                glGetProgramPipelineiv(pipeline_, GL_INFO_LOG_LENGTH, &length);
                std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
                glGetProgramPipelineInfoLog(pipeline_, length, nullptr, &log[0]);
                ReportBackendError("the shader stages do not fit together: " +
                                   std::string(log.c_str()));
            }
        }
        return valid_;
    }

    GLuint vao_      = 0;
    GLuint pipeline_ = 0;
    GLuint zeros_    = 0;
    EmptyTextures empty_;
    RenderTargetView *target_                             = nullptr;
    RasterizerState *state_                               = nullptr;
    VertexShader *vs_                                     = nullptr;
    GeometryShader *gs_                                   = nullptr;
    PixelShader *ps_                                      = nullptr;
    Buffer *constants_[kStageCount][kConstantBufferSlots] = {};
    D3D11_PRIMITIVE_TOPOLOGY topology_                    = D3D11_PRIMITIVE_TOPOLOGY_UNDEFINED;
    D3D11_VIEWPORT viewport_                              = {};
    bool hasViewport_                                     = false;
    bool checked_                                         = false;
    bool valid_                                           = false;
};

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

bool HasExtension(const char *list, const char *name) {
    const size_t length = std::strlen(name);
    for (const char *p = list; p && (p = std::strstr(p, name)) != nullptr; p += length)
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
    return false;
}

// An OpenGL 4.5 core context on the window, made current, without vsync.
GLXContext CreateGlContext(HWND__ *w, std::string &error) {
    if (!w->config) {
        error = "the X display offers no GLX visual to render to";
        return nullptr;
    }
    Display *display       = w->display;
    const char *extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    auto create            = reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXCreateContextAttribsARB")));
    if (!create || !HasExtension(extensions, "GLX_ARB_create_context_profile")) {
        error = "GLX cannot create an OpenGL core profile context";
        return nullptr;
    }
    static const int attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB,
                                     4,
                                     GLX_CONTEXT_MINOR_VERSION_ARB,
                                     5,
                                     GLX_CONTEXT_PROFILE_MASK_ARB,
                                     GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                                     None};
    XErrorTrap trap(display);
    GLXContext context = create(display, w->config, nullptr, True, attributes);
    if (trap.Failed() || !context) {
        error = "OpenGL 4.5 core is not available";
        return nullptr;
    }
    if (!glXMakeCurrent(display, w->window, context) || trap.Failed()) {
        glXDestroyContext(display, context);
        error = "cannot make the OpenGL context current on the window";
        return nullptr;
    }
    if (HasExtension(extensions, "GLX_EXT_swap_control")) {
        auto swapInterval = reinterpret_cast<PFNGLXSWAPINTERVALEXTPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalEXT")));
        if (swapInterval) swapInterval(display, w->window, 0);
    } else if (HasExtension(extensions, "GLX_MESA_swap_control")) {
        auto swapInterval = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalMESA")));
        if (swapInterval) swapInterval(0);
    }
    trap.Failed(); // a refused swap interval only means vsync stays as it is
    return context;
}

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

int LiveObjectCount() {
    return liveObjects;
}

HRESULT WINAPI D3D11CreateDeviceAndSwapChain(IDXGIAdapter *, D3D_DRIVER_TYPE driverType, HMODULE,
                                             UINT, const D3D_FEATURE_LEVEL *levels, UINT levelCount,
                                             UINT sdkVersion, const DXGI_SWAP_CHAIN_DESC *desc,
                                             IDXGISwapChain **swapChain, ID3D11Device **device,
                                             D3D_FEATURE_LEVEL *featureLevel,
                                             ID3D11DeviceContext **context) {
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
    auto *ctx            = new Context(d);
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
