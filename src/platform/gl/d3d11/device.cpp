// The device's factory: render-target views, shaders, rasterizer states and
// constant buffers, each checked as Direct3D 11 checks its description.
//
// Shaders are separable GL programs made from the GLSL that TranslateToGlsl
// writes; the context combines them at draw time in one program pipeline.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/d3d11/device.h"

#include "platform/gl/backend.h"
#include "platform/gl/d3d11/resources.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <string>

namespace d3d11gl {
namespace {

// What a compiled stage depends on: the stage, the bytecode and the
// locations of the stage before it.
std::string StageKey(ShaderStage stage, const StageOutputs *previous, const void *bytecode,
                     SIZE_T length) {
    std::string key(1, static_cast<char>(stage));
    key.append(static_cast<const char *>(bytecode), length);
    if (previous)
        for (const auto &[semantic, location] : previous->locations)
            key += '\0' + semantic + '=' + std::to_string(location);
    return key;
}

// Translates the bytecode against the outputs of the stage before it and
// compiles it, or takes the program a live shader made of the same.
HRESULT CompileStage(Device *owner, ShaderStage stage, const StageOutputs *previous,
                     const void *bytecode, SIZE_T length,
                     std::shared_ptr<const CompiledStage> &compiled) {
    static const GLenum types[]      = {GL_VERTEX_SHADER, GL_GEOMETRY_SHADER, GL_FRAGMENT_SHADER};
    static const char *const names[] = {"vertex", "geometry", "pixel"};
    const GLenum type                = types[static_cast<uint32_t>(stage)];
    const std::string stageName      = names[static_cast<uint32_t>(stage)];
    std::string key                  = StageKey(stage, previous, bytecode, length);
    auto &live                       = owner->compiledStages;
    for (auto it = live.begin(); it != live.end();)
        it = it->second.expired() ? live.erase(it) : std::next(it);
    const auto found = live.find(key);
    if (found != live.end() && (compiled = found->second.lock())) return S_OK;

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
    compiled             = std::make_shared<const CompiledStage>(program, std::move(translation));
    live[std::move(key)] = compiled;
    return S_OK;
}

// Creates the shader of a stage. On success *shader (when given) is the new
// shader object.
template <class Interface>
HRESULT CreateShader(Device *owner, ShaderStage stage, const StageOutputs *previous,
                     const void *bytecode, SIZE_T length, Interface **shader) {
    if (shader) *shader = nullptr;
    if (!bytecode || !length) return E_INVALIDARG;
    std::shared_ptr<const CompiledStage> compiled;
    const HRESULT hr = CompileStage(owner, stage, previous, bytecode, length, compiled);
    if (hr != S_OK) return hr;
    if (!shader) return S_FALSE; // validated, nothing created: the out pointer was null
    *shader = new Shader<Interface>(owner, std::move(compiled));
    return S_OK;
}

} // namespace

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

Device::~Device() {
    glXMakeCurrent(window->display, None, nullptr);
    glXDestroyContext(window->display, context);
}

HRESULT STDMETHODCALLTYPE Device::CreateRenderTargetView(ID3D11Resource *resource,
                                                         const D3D11_RENDER_TARGET_VIEW_DESC *desc,
                                                         ID3D11RenderTargetView **view) {
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
HRESULT STDMETHODCALLTYPE Device::CreateVertexShader(const void *bytecode, SIZE_T length,
                                                     ID3D11ClassLinkage *,
                                                     ID3D11VertexShader **shader) {
    const HRESULT hr = CreateShader(this, ShaderStage::Vertex, nullptr, bytecode, length, shader);
    if (hr == S_OK) vertexOutputs_ = pixelInputs_ = static_cast<VertexShader *>(*shader)->outputs;
    return hr;
}
HRESULT STDMETHODCALLTYPE Device::CreateGeometryShader(const void *bytecode, SIZE_T length,
                                                       ID3D11ClassLinkage *,
                                                       ID3D11GeometryShader **shader) {
    const HRESULT hr = CreateShader(this, ShaderStage::Geometry, Previous(vertexOutputs_), bytecode,
                                    length, shader);
    if (hr == S_OK) pixelInputs_ = static_cast<GeometryShader *>(*shader)->outputs;
    return hr;
}
HRESULT STDMETHODCALLTYPE Device::CreatePixelShader(const void *bytecode, SIZE_T length,
                                                    ID3D11ClassLinkage *,
                                                    ID3D11PixelShader **shader) {
    return CreateShader(this, ShaderStage::Pixel, Previous(pixelInputs_), bytecode, length, shader);
}

HRESULT STDMETHODCALLTYPE Device::CreateRasterizerState(const D3D11_RASTERIZER_DESC *desc,
                                                        ID3D11RasterizerState **state) {
    if (state) *state = nullptr;
    if (!desc || (desc->FillMode != D3D11_FILL_SOLID && desc->FillMode != D3D11_FILL_WIREFRAME) ||
        desc->CullMode < D3D11_CULL_NONE || desc->CullMode > D3D11_CULL_BACK)
        return E_INVALIDARG;
    if (!state) return S_FALSE;
    *state = new RasterizerState(this, *desc);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Device::CreateBuffer(const D3D11_BUFFER_DESC *desc,
                                               const D3D11_SUBRESOURCE_DATA *initialData,
                                               ID3D11Buffer **buffer) {
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

} // namespace d3d11gl
