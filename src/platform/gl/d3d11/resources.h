// The objects the device makes: textures, render-target views, shaders,
// rasterizer states and buffers, each holding its GL names. The device
// (device.cpp) creates them; the context (context.cpp) and the swap chain
// (swap_chain.cpp) use them.
#pragma once

#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/d3d11/object.h"
#include "platform/gl/glsl/translate.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <memory>
#include <utility>
#include <vector>

namespace d3d11gl {

constexpr UINT kMaxConstantSize = 65536;

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

// A separable GL program with the translation it was made from, shared by
// the shaders created from the same bytecode against the same stage before
// it: a reload that leaves a stage unchanged neither translates it nor
// compiles it in the driver again. The program goes with the last shader.
struct CompiledStage {
    CompiledStage(GLuint p, Translation &&t) : program(p), translation(std::move(t)) {}
    ~CompiledStage() { glDeleteProgram(program); }
    CompiledStage(const CompiledStage &)            = delete;
    CompiledStage &operator=(const CompiledStage &) = delete;
    const GLuint program;
    const Translation translation;
};

template <class Interface> class Shader : public Child<Interface> {
  public:
    Shader(Device *owner, std::shared_ptr<const CompiledStage> compiled)
        : Child<Interface>(owner), program(compiled->program),
          outputs(compiled->translation.outputs), textures(compiled->translation.textures),
          clipDistances(compiled->translation.clipDistances), compiled_(std::move(compiled)) {}
    const GLuint program;
    const StageOutputs &outputs;              // what the next stage links against
    const std::vector<TexturePair> &textures; // the units the context binds
    const uint32_t clipDistances;             // gl_ClipDistance elements written

  private:
    const std::shared_ptr<const CompiledStage> compiled_;
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

} // namespace d3d11gl
