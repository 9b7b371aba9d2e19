// One frame: the reload key, the gate, the step and the draw.
#include "harness.h"

class Frame : public Behaviour {
  protected:
    void SetUp() override {
        Behaviour::SetUp();
        ASSERT_EQ(InitDevice(fake::NewWindow(), 1024, 768), 0);
        fake::ClearCalls();
    }
    void TearDown() override {
        ReleaseScene();
        ReleaseDevice();
        EXPECT_THAT(fake::Alive(), IsEmpty());
        Behaviour::TearDown();
    }
};

TEST_F(Frame, DrawsTheParticlesWithOneClearUploadDrawAndPresent) {
    LoadScene();
    fake::ClearCalls();
    fake::ClearOutput();
    RenderFrame();
    EXPECT_THAT(
        fake::Calls(),
        ElementsAre("GetAsyncKeyState(0x74)",
                    "context#1.ClearRenderTargetView(rtv#1, {0, 0.125, 0.3, 1})",
                    "context#1.RSSetState(rs#1)",
                    "context#1.UpdateSubresource(buffer#1, 0, null, data, 0, 0)",
                    "context#1.VSSetShader(vs#1, null, 0)", "context#1.GSSetShader(gs#1, null, 0)",
                    "context#1.PSSetShader(ps#1, null, 0)",
                    "context#1.VSSetConstantBuffers(0, 1, {buffer#1})",
                    "context#1.GSSetConstantBuffers(0, 1, {buffer#1})",
                    "context#1.PSSetConstantBuffers(0, 1, {buffer#1})",
                    "context#1.IASetPrimitiveTopology(1)", "context#1.IASetInputLayout(null)",
                    "context#1.DrawInstanced(1, 256, 0, 0)", "swapchain#1.Present(0, 0)"));
    EXPECT_EQ(fake::Output(), "");
    // The whole image goes up, already stepped once since the load.
    EXPECT_EQ(fake::BufferContents(sceneObjects.pConstant), ImageBytes());
    EXPECT_GT(constantImage.Time, 0.0f);
}

TEST_F(Frame, TwoLoadsGiveDifferentParticlesAndRestartTime) {
    LoadScene();
    RenderFrame();
    const auto first = fake::BufferContents(sceneObjects.pConstant);
    RenderFrame();
    RenderFrame();

    LoadScene();
    EXPECT_EQ(ImageBytes(), std::vector<unsigned char>(sizeof constantImage));
    RenderFrame();
    const auto second = fake::BufferContents(sceneObjects.pConstant);
    ASSERT_EQ(second.size(), sizeof constantImage);
    const size_t particleBytes = offsetof(ConstantImage, particles);
    // Time is one step from zero in both; the particles are a fresh set.
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 4, second.begin()));
    EXPECT_FALSE(std::equal(first.begin() + particleBytes, first.begin() + particleBytes + 8192,
                            second.begin() + particleBytes));
}

TEST_F(Frame, WithNoSceneObjectsPrintsFiveNullLines) {
    const auto image = ImageBytes(), state = ParticleBytes();
    RenderFrame();
    EXPECT_EQ(fake::Output(), "vshader = 00000000\n"
                              "gshader   =00000000\n"
                              "pshader   =00000000\n"
                              "pConstant =00000000\n"
                              "pRSStage  =00000000\n");
    EXPECT_THAT(fake::Calls(), ElementsAre("GetAsyncKeyState(0x74)"));
    EXPECT_EQ(ImageBytes(), image);
    EXPECT_EQ(ParticleBytes(), state);
}

class ReloadKey : public Frame, public testing::WithParamInterface<SHORT> {};

// Down now (the top bit) or pressed since the last query (the low bit): either
// reloads, before the gate, so a load that succeeds draws in the same frame.
TEST_P(ReloadKey, ReloadsBeforeTheGate) {
    fake::Fail("D3DX11CompileFromFileA", kFail, 1);
    LoadScene();
    fake::ClearOutput();
    fake::ClearCalls();

    fake::ScriptKeys({GetParam()});
    RenderFrame();
    EXPECT_EQ(fake::Output(), "Loaded.\nObj Initialize.\n");
    EXPECT_EQ(CallName(fake::Calls().at(1)), "D3DX11CompileFromFileA");
    EXPECT_EQ(fake::Calls().back(), "swapchain#1.Present(0, 0)");
    EXPECT_THAT(Only({"DrawInstanced"}), ElementsAre("context#1.DrawInstanced(1, 256, 0, 0)"));
}

INSTANTIATE_TEST_SUITE_P(States, ReloadKey,
                         testing::Values(static_cast<SHORT>(0x8000), static_cast<SHORT>(0x0001),
                                         static_cast<SHORT>(0x8001)));

class Gate : public Frame, public testing::WithParamInterface<int> {};

// Any one missing object stops the frame before it moves anything.
TEST_P(Gate, StopsTheFrameWhenAnyObjectIsMissing) {
    LoadScene();
    SceneObjects &s = sceneObjects;
    switch (GetParam()) {
    case 0:
        ReleaseSlot(s.vshader);
        break;
    case 1:
        ReleaseSlot(s.gshader);
        break;
    case 2:
        ReleaseSlot(s.pshader);
        break;
    case 3:
        ReleaseSlot(s.pConstant);
        break;
    default:
        ReleaseSlot(s.pRSStage);
        break;
    }
    const auto image = ImageBytes(), state = ParticleBytes();
    fake::ClearCalls();
    fake::ClearOutput();
    RenderFrame();
    EXPECT_EQ(fake::Output(), GateLines());
    EXPECT_THAT(fake::Calls(), ElementsAre("GetAsyncKeyState(0x74)"));
    EXPECT_EQ(ImageBytes(), image);
    EXPECT_EQ(ParticleBytes(), state);
}

INSTANTIATE_TEST_SUITE_P(Slots, Gate, testing::Range(0, 5));
