// Constant-buffer slots belong to their stage, as on Direct3D 11: three
// different buffers at slot 0 of the vertex, geometry and pixel stage each
// reach their own stage's code. The system binds one buffer to all three, so
// this drives the device directly.
#define GL_GLEXT_PROTOTYPES 1

#include "environment.h"

#include "device/device.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Each stage passes on the first component of its b0; the pixel stage
// writes the three side by side over the whole target.
const char *const kSource = R"(
cbuffer Value : register(b0) { float4 value; };
struct V { float4 pos : SV_Position; float4 seen : SEEN; };
V vs_main(uint id : SV_InstanceID)
{
    V o;
    o.pos = float4(0, 0, 0.5, 1);
    o.seen = float4(value.x, 0, 0, 1);
    return o;
}
[maxvertexcount(4)]
void gs_main(point V input[1], inout TriangleStream<V> stream)
{
    V o;
    o.seen = float4(input[0].seen.x, value.x, 0, 1);
    for (int i = 0; i < 4; ++i)
    {
        o.pos = float4((i & 1) * 2 - 1, (i >> 1) * 2 - 1, 0.5, 1);
        stream.Append(o);
    }
}
float4 ps_main(V i) : SV_Target { return float4(i.seen.xy, value.x, 1); }
)";

ID3D10Blob *Compile(const char *entry, const char *profile) {
    ID3D10Blob *code = nullptr, *messages = nullptr;
    D3DX11CompileFromFileA("main.fx", nullptr, nullptr, entry, profile,
                           D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code, &messages, nullptr);
    ReleaseSlot(messages);
    return code;
}

ID3D11Buffer *ConstantBuffer(float first) {
    const float data[4]         = {first, 0, 0, 0};
    D3D11_BUFFER_DESC desc      = {};
    desc.ByteWidth              = sizeof data;
    desc.Usage                  = D3D11_USAGE_DEFAULT;
    desc.BindFlags              = D3D11_BIND_CONSTANT_BUFFER;
    D3D11_SUBRESOURCE_DATA init = {data, 0, 0};
    ID3D11Buffer *buffer        = nullptr;
    deviceObjects.d3ddevice->CreateBuffer(&desc, &init, &buffer);
    return buffer;
}

TEST(StageBindingsTest, EachStageReadsItsOwnConstantBufferAtSlotZero) {
    WriteFileAtomically("main.fx", kSource);
    ID3D11Device *device         = deviceObjects.d3ddevice;
    ID3D11DeviceContext *context = deviceObjects.d3dcontext;
    ID3D10Blob *vsCode = Compile("vs_main", "vs_4_0"), *gsCode = Compile("gs_main", "gs_4_0"),
               *psCode = Compile("ps_main", "ps_4_0");
    ASSERT_TRUE(vsCode && gsCode && psCode);
    ID3D11VertexShader *vs   = nullptr;
    ID3D11GeometryShader *gs = nullptr;
    ID3D11PixelShader *ps    = nullptr;
    EXPECT_EQ(device->CreateVertexShader(vsCode->GetBufferPointer(), vsCode->GetBufferSize(),
                                         nullptr, &vs),
              0);
    EXPECT_EQ(device->CreateGeometryShader(gsCode->GetBufferPointer(), gsCode->GetBufferSize(),
                                           nullptr, &gs),
              0);
    EXPECT_EQ(device->CreatePixelShader(psCode->GetBufferPointer(), psCode->GetBufferSize(),
                                        nullptr, &ps),
              0);
    ID3D11Buffer *buffers[3] = {ConstantBuffer(0.25f), ConstantBuffer(0.5f), ConstantBuffer(0.75f)};
    D3D11_RASTERIZER_DESC rasterizer = {};
    rasterizer.FillMode              = D3D11_FILL_SOLID;
    rasterizer.CullMode              = D3D11_CULL_NONE;
    rasterizer.DepthClipEnable       = TRUE;
    ID3D11RasterizerState *state     = nullptr;
    device->CreateRasterizerState(&rasterizer, &state);
    ASSERT_TRUE(vs && gs && ps && buffers[0] && buffers[1] && buffers[2] && state);

    const float black[4] = {0, 0, 0, 0};
    context->ClearRenderTargetView(deviceObjects.d3drendertarget, black);
    context->RSSetState(state);
    context->VSSetShader(vs, nullptr, 0);
    context->GSSetShader(gs, nullptr, 0);
    context->PSSetShader(ps, nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &buffers[0]);
    context->GSSetConstantBuffers(0, 1, &buffers[1]);
    context->PSSetConstantBuffers(0, 1, &buffers[2]);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_POINTLIST);
    context->DrawInstanced(1, 1, 0, 0);

    // The back buffer is the framebuffer the context draws into.
    GLint target = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(target));
    unsigned char pixel[4] = {};
    glReadPixels(512, 384, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    const int expected[3] = {64, 128, 191}; // 0.25, 0.5, 0.75
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(pixel[c] - expected[c]), 1)
            << "component " << c << " is " << int(pixel[c]) << ", not " << expected[c];

    ID3D11Buffer *const none[1] = {};
    context->VSSetConstantBuffers(0, 1, none);
    context->GSSetConstantBuffers(0, 1, none);
    context->PSSetConstantBuffers(0, 1, none);
    context->VSSetShader(nullptr, nullptr, 0);
    context->GSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(nullptr, nullptr, 0);
    context->RSSetState(nullptr);
    for (ID3D11Buffer *&buffer : buffers)
        ReleaseSlot(buffer);
    ReleaseSlot(state);
    ReleaseSlot(vs);
    ReleaseSlot(gs);
    ReleaseSlot(ps);
    ReleaseSlot(vsCode);
    ReleaseSlot(gsCode);
    ReleaseSlot(psCode);
}

} // namespace
