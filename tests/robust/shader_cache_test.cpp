// A reload that leaves a stage's text as it was does not compile that stage
// in the GL driver again: shaders made of the same bytecode share one GL
// program, which goes with the last of them.
#include "environment.h"
#include "harness.h"

#include "device/device.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

ID3D11PixelShader *PixelShader(const char *source) {
    WriteFileAtomically("main.fx", source);
    ID3D10Blob *code = nullptr, *messages = nullptr;
    D3DX11CompileFromFileA("main.fx", nullptr, nullptr, "ps_main", "ps_4_0", 0, 0, nullptr, &code,
                           &messages, nullptr);
    ReleaseSlot(messages);
    ID3D11PixelShader *shader = nullptr;
    if (code)
        deviceObjects.d3ddevice->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(),
                                                   nullptr, &shader);
    ReleaseSlot(code);
    return shader;
}

TEST(ShaderCacheTest, AStageWithUnchangedTextIsNotCompiledAgain) {
    const char *const red    = "float4 ps_main() : SV_Target { return float4(1, 0, 0, 1); }";
    const char *const blue   = "float4 ps_main() : SV_Target { return float4(0, 0, 1, 1); }";
    const int before         = LiveGlNames();
    ID3D11PixelShader *first = PixelShader(red);
    ASSERT_TRUE(first);
    const int one             = LiveGlNames();
    ID3D11PixelShader *same   = PixelShader(red);
    ID3D11PixelShader *edited = PixelShader(blue);
    ASSERT_TRUE(same && edited);
    EXPECT_GT(one, before);
    EXPECT_EQ(LiveGlNames(), one + (one - before)); // the edited stage alone is new
    ReleaseSlot(first);
    ReleaseSlot(edited);
    EXPECT_EQ(LiveGlNames(), one);
    ReleaseSlot(same);
    EXPECT_EQ(LiveGlNames(), before);
}

} // namespace
