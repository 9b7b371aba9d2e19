// Shader compilation, the scene's load and release, and the frame.
//
// The scene load is not transactional: it throws the old scene away first,
// then builds step by step and stops at the first failing step, leaving what
// it had built so far for the next load (or the exit path) to release. The
// frame refuses to draw until every scene object is there.
#include "scene/scene.h"

#include "device/device.h"
#include "particles/particles.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

SceneObjects sceneObjects;

HRESULT CompileShaderFromFile(const char *fileName, const char *entryPoint, const char *profile,
                              ID3D10Blob **blob) {
    ID3D10Blob *messages = nullptr;
    HRESULT hr           = D3DX11CompileFromFileA(fileName, nullptr, nullptr, entryPoint, profile,
                                                  D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, blob, &messages,
                                                  nullptr);
    if (FAILED(hr) && messages) {
        // Never read past the blob, even if the compiler did not end its
        // text with a NUL.
        const char *data = static_cast<const char *>(messages->GetBufferPointer());
        size_t size      = data ? messages->GetBufferSize() : 0;
        std::string text(data ? data : "", data ? strnlen(data, size) : 0);
        OutputDebugStringA(text.c_str());
        std::printf("ERROR : %s\n", text.c_str());
        std::fflush(stdout);
    }
    // A compile with warnings returns messages too; they are not shown.
    ReleaseSlot(messages);
    return hr;
}

HRESULT D3DXCreateBuffer(UINT bindFlags, UINT byteWidth, ID3D11Buffer **buffer,
                         const D3D11_SUBRESOURCE_DATA *initialData) {
    D3D11_BUFFER_DESC desc   = {};
    desc.ByteWidth           = byteWidth;
    desc.Usage               = D3D11_USAGE_DEFAULT;
    desc.BindFlags           = bindFlags;
    desc.CPUAccessFlags      = 0;
    desc.MiscFlags           = 0;
    desc.StructureByteStride = 0;
    return deviceObjects.d3ddevice->CreateBuffer(&desc, initialData, buffer);
}

void ReleaseScene() {
    SceneObjects &s = sceneObjects;
    ReleaseSlot(s.pConstant);
    ReleaseSlot(s.pRSStage);
    ReleaseSlot(s.psblob);
    ReleaseSlot(s.gsblob);
    ReleaseSlot(s.vsblob);
    ReleaseSlot(s.pshader);
    ReleaseSlot(s.gshader);
    ReleaseSlot(s.vshader);
}

// A failing step is reported on standard output only; any nonzero result
// counts as a failure.
static bool StepFailed(HRESULT hr, int number, const char *label) {
    if (hr == 0) return false;
    std::printf("ERROR : %s : %d 0x%08X : %s\n", "scene", number, static_cast<unsigned>(hr), label);
    std::fflush(stdout);
    return true;
}

void LoadScene() {
    SceneObjects &s      = sceneObjects;
    ID3D11Device *device = deviceObjects.d3ddevice;

    ReleaseScene();

    if (StepFailed(CompileShaderFromFile("main.fx", "vs_main", "vs_4_0", &s.vsblob), 112,
                   "CompileShaderFromFile VS"))
        return;
    if (StepFailed(CompileShaderFromFile("main.fx", "gs_main", "gs_4_0", &s.gsblob), 113,
                   "CompileShaderFromFile GS"))
        return;
    if (StepFailed(CompileShaderFromFile("main.fx", "ps_main", "ps_4_0", &s.psblob), 114,
                   "CompileShaderFromFile PS"))
        return;

    if (StepFailed(device->CreateVertexShader(s.vsblob->GetBufferPointer(),
                                              s.vsblob->GetBufferSize(), nullptr, &s.vshader),
                   115, "CreateVertexShader"))
        return;
    if (StepFailed(device->CreateGeometryShader(s.gsblob->GetBufferPointer(),
                                                s.gsblob->GetBufferSize(), nullptr, &s.gshader),
                   116, "CreateGeometryShader"))
        return;
    if (StepFailed(device->CreatePixelShader(s.psblob->GetBufferPointer(),
                                             s.psblob->GetBufferSize(), nullptr, &s.pshader),
                   117, "CreatePixelShader"))
        return;

    // The bytecode is not needed once the shaders exist.
    ReleaseSlot(s.vsblob);
    ReleaseSlot(s.gsblob);
    ReleaseSlot(s.psblob);

    D3D11_RASTERIZER_DESC rs = {};
    rs.FillMode              = D3D11_FILL_SOLID;
    rs.CullMode              = D3D11_CULL_NONE; // points and sprites from either winding
    rs.FrontCounterClockwise = FALSE;
    rs.DepthBias             = 0;
    rs.DepthBiasClamp        = 0.0f;
    rs.SlopeScaledDepthBias  = 0.0f;
    rs.DepthClipEnable       = TRUE;
    rs.ScissorEnable         = FALSE;
    rs.MultisampleEnable     = FALSE;
    rs.AntialiasedLineEnable = FALSE;
    if (StepFailed(device->CreateRasterizerState(&rs, &s.pRSStage), 127, "CreateRasterizerState"))
        return;

    ClearConstantImage(); // also restarts Time at zero
    if (StepFailed(D3DXCreateBuffer(D3D11_BIND_CONSTANT_BUFFER,
                                    static_cast<UINT>(sizeof(ConstantImage)), &s.pConstant,
                                    nullptr),
                   130, "D3DXCreateBuffer : pConstant"))
        return;

    std::printf("Loaded.\n");
    std::fflush(stdout);
    InitParticles();
    std::printf("Obj Initialize.\n");
    std::fflush(stdout);
}

// The slot's full pointer value: exactly eight digits where pointers are 32
// bits, never truncated where they are 64.
static void PrintSlot(const char *prefix, const void *slot) {
    std::printf("%s%08" PRIXPTR "\n", prefix, reinterpret_cast<uintptr_t>(slot));
}

void RenderFrame() {
    SceneObjects &s  = sceneObjects;
    DeviceObjects &d = deviceObjects;

    // F5 is polled here, system-wide, before the gate, so a reload that
    // succeeds draws in this very frame.
    if (GetAsyncKeyState(VK_F5)) LoadScene();

    if (!s.vshader || !s.gshader || !s.pshader || !s.pConstant || !s.pRSStage) {
        PrintSlot("vshader = ", s.vshader);
        PrintSlot("gshader   =", s.gshader);
        PrintSlot("pshader   =", s.pshader);
        PrintSlot("pConstant =", s.pConstant);
        PrintSlot("pRSStage  =", s.pRSStage);
        std::fflush(stdout);
        return;
    }

    UpdateParticles();
    AdvanceTime();

    static const FLOAT colour[4] = {0.0f, 0.125f, 0.3f, 1.0f};
    ID3D11DeviceContext *c       = d.d3dcontext;
    c->ClearRenderTargetView(d.d3drendertarget, colour);
    c->RSSetState(s.pRSStage);
    c->UpdateSubresource(s.pConstant, 0, nullptr, &constantImage, 0, 0);
    c->VSSetShader(s.vshader, nullptr, 0);
    c->GSSetShader(s.gshader, nullptr, 0);
    c->PSSetShader(s.pshader, nullptr, 0);
    c->VSSetConstantBuffers(0, 1, &s.pConstant);
    c->GSSetConstantBuffers(0, 1, &s.pConstant);
    c->PSSetConstantBuffers(0, 1, &s.pConstant);
    c->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_POINTLIST);
    c->IASetInputLayout(nullptr);
    c->DrawInstanced(1, kParticleCount, 0, 0);
    d.d3dswapchain->Present(0, 0); // no wait for the vertical blank
}
