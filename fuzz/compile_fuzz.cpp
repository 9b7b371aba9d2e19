// libFuzzer target: the input bytes become "main.fx", compiled for the
// three stages as a scene load compiles them; each stage that compiles is
// translated to GLSL, and, when an X display is there (DISPLAY set), made
// into a shader through the real device as the scene load does. Every stage
// is tried, not only up to the first failure, to reach more of the code.
#include "harness.h"

#include "device/device.h"
#include "platform/gl/glsl/translate.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool withDevice = false;

const char *const kEntries[3]  = {"vs_main", "gs_main", "ps_main"};
const char *const kProfiles[3] = {"vs_4_0", "gs_4_0", "ps_4_0"};

void Create(ShaderStage stage, ID3D10Blob *code) {
    ID3D11Device *device = deviceObjects.d3ddevice;
    const void *bytes    = code->GetBufferPointer();
    const SIZE_T size    = code->GetBufferSize();
    switch (stage) {
    case ShaderStage::Vertex: {
        ID3D11VertexShader *shader = nullptr;
        device->CreateVertexShader(bytes, size, nullptr, &shader);
        ReleaseSlot(shader);
        break;
    }
    case ShaderStage::Geometry: {
        ID3D11GeometryShader *shader = nullptr;
        device->CreateGeometryShader(bytes, size, nullptr, &shader);
        ReleaseSlot(shader);
        break;
    }
    case ShaderStage::Pixel: {
        ID3D11PixelShader *shader = nullptr;
        device->CreatePixelShader(bytes, size, nullptr, &shader);
        ReleaseSlot(shader);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Lives for the whole run: the working directory of every input.
    static ScratchDir scratch(ScratchDir::Entered);
    if (std::getenv("DISPLAY")) withDevice = OpenProgram() == 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    WriteFileAtomically("main.fx", std::string(reinterpret_cast<const char *>(data), size));
    // Each stage links against the last one translated before it, as the
    // device links a scene's shaders.
    Translation stages[3];
    const StageOutputs *previous = nullptr;
    for (int s = 0; s < 3; ++s) {
        ID3D10Blob *code = nullptr, *messages = nullptr;
        D3DX11CompileFromFileA("main.fx", nullptr, nullptr, kEntries[s], kProfiles[s],
                               D3D10_SHADER_ENABLE_STRICTNESS, 0, nullptr, &code, &messages,
                               nullptr);
        ReleaseSlot(messages);
        if (!code) continue;
        const auto stage = static_cast<ShaderStage>(s);
        if (withDevice) {
            Create(stage, code);
        } else {
            std::string error;
            if (TranslateToGlsl(stage, code->GetBufferPointer(), code->GetBufferSize(), previous,
                                stages[s], error) &&
                stage != ShaderStage::Pixel)
                previous = &stages[s].outputs;
        }
        ReleaseSlot(code);
    }
    return 0;
}
