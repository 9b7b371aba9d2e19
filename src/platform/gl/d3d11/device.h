// The Direct3D 11 device: the factory of every resource (device.cpp). It owns
// the GL context, made current on the window when the device is created,
// which serves every object (one device at a time).
#pragma once

#include "platform/gl/d3d11/object.h"
#include "platform/gl/glsl/translate.h"
#include "platform/gl/x11/window.h"

#include <GL/gl.h>
#include <GL/glx.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace d3d11gl {

// A framebuffer with the texture as its one colour attachment; 0 when GL
// finds it incomplete.
GLuint CreateFramebuffer(GLuint texture);

struct CompiledStage;

class Device : public Object<ID3D11Device> {
  public:
    Device(HWND__ *w, GLXContext c) : window(w), context(c) {}
    ~Device() override;

    HRESULT STDMETHODCALLTYPE CreateRenderTargetView(ID3D11Resource *resource,
                                                     const D3D11_RENDER_TARGET_VIEW_DESC *desc,
                                                     ID3D11RenderTargetView **view) override;
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const void *bytecode, SIZE_T length,
                                                 ID3D11ClassLinkage *,
                                                 ID3D11VertexShader **shader) override;
    HRESULT STDMETHODCALLTYPE CreateGeometryShader(const void *bytecode, SIZE_T length,
                                                   ID3D11ClassLinkage *,
                                                   ID3D11GeometryShader **shader) override;
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const void *bytecode, SIZE_T length,
                                                ID3D11ClassLinkage *,
                                                ID3D11PixelShader **shader) override;
    HRESULT STDMETHODCALLTYPE CreateRasterizerState(const D3D11_RASTERIZER_DESC *desc,
                                                    ID3D11RasterizerState **state) override;
    HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *desc,
                                           const D3D11_SUBRESOURCE_DATA *initialData,
                                           ID3D11Buffer **buffer) override;

    HWND__ *const window;
    const GLXContext context;
    // The stages live shaders were made of, by what they depend on
    // (device.cpp): a shader of the same stage, bytecode and stage before it
    // shares the GL program.
    std::map<std::string, std::weak_ptr<const CompiledStage>> compiledStages;

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

} // namespace d3d11gl
