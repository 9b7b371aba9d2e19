// The Direct3D 11 immediate context over one GL context: render target,
// viewport, rasterizer state, the three stages' shaders and constant-buffer
// slots, and the draw.
//
// The shaders' separable programs are combined in one program pipeline. The
// draw has no vertex input, so an empty vertex array object stays bound.
//
// Coordinates follow what the translated pixel stage expects (translate.h):
// gl_FragCoord counts rows from the top of the image. The FBO is rendered
// with lower-left clip control, so clip-space +y is the top of the image as
// on Windows, and is copied to the window without a flip.
#define GL_GLEXT_PROTOTYPES 1

#include "platform/gl/d3d11/context.h"

#include "platform/gl/backend.h"
#include "platform/gl/bindings.h"
#include "platform/gl/d3d11/device.h"
#include "platform/gl/d3d11/empty_textures.h"
#include "platform/gl/d3d11/resources.h"

#include <string>
#include <vector>

namespace d3d11gl {
namespace {

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

    // Direct3D clips by the clip distances the last stage before the
    // rasterizer writes (24.1 clipDistance); GL by the enabled ones, which
    // that stage must write. Cull distances need no enabling.
    static void EnableClipDistances(uint32_t count) {
        GLint most = 8;
        glGetIntegerv(GL_MAX_CLIP_DISTANCES, &most);
        for (GLint i = 0; i < most; ++i) {
            if (static_cast<uint32_t>(i) < count)
                glEnable(GL_CLIP_DISTANCE0 + static_cast<GLenum>(i));
            else
                glDisable(GL_CLIP_DISTANCE0 + static_cast<GLenum>(i));
        }
    }

    // A pipeline whose stages do not fit together draws nothing; say why
    // once each time the stages change.
    bool PipelineValid() {
        if (!checked_) {
            checked_ = true;
            EnableClipDistances(gs_ ? gs_->clipDistances : vs_ ? vs_->clipDistances : 0);
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

} // namespace

ID3D11DeviceContext *CreateContext(Device *device) {
    return new Context(device);
}

} // namespace d3d11gl
